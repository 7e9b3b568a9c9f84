// Fixed-point helpers. Arguments of type int32 are taken as their low 32 bits
// and every result is the 32-bit two's-complement one (sign-extended into a
// wider long), so 32-bit and 64-bit builds agree. Intermediate values are
// formed in int64_t, where nothing can overflow, and wrapped explicitly.
#include "fix.h"

#include <stdint.h>

namespace {

const int32_t kMax32 = 2147483647;
const int32_t kMin32 = -kMax32 - 1;

// Q15 and Q16 scalings of the fractional multiplies.
const int kQ15 = 15;
const int kHalfWord = 16;
const uint32_t kLowHalfMask = 0xFFFF;

// Sqrt32: inputs from this value up have a root that rounds above 32767.
const int32_t kSqrt32Limit = 1073709056;
const int16 kMax16 = 32767;
// Sqrt32: the mantissa's top five bits select the correction factor.
const int kCoefIndexShift = 10;
// Sqrt32: Newton starts from (m + 1)/2, with 1.0 in Q15.
const int32_t kOneQ15 = 0x8000;
const int kSqrt32Iterations = 4;
// Position of the sign bit of a 32-bit word.
const int kSignBit = 31;

// The low 32 bits of v as a signed 32-bit quantity.
inline int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// The low 16 bits of v as a signed 16-bit quantity.
inline int16 Low16(int64_t v) { return static_cast<int16>(static_cast<uint16>(v)); }

// v limited to the 32-bit range.
int32_t Clamp32(int64_t v) { return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : static_cast<int32_t>(v)); }

// Index of the highest set bit of z, -1 for z = 0.
int HighestBit(uint64_t z) {
  int k = -1;
  while (z != 0) {
    z >>= 1;
    ++k;
  }
  return k;
}

// r is the wrapped result of an addition or subtraction with first operand a;
// when the operation could overflow (operands of a suitable sign pattern) and
// the sign of r differs from that of a, it did, and the limit on a's side is
// the saturated result.
int32_t SaturateWrapped(int32_t a, int32_t r, bool could_overflow) {
  if (could_overflow && ((r ^ a) < 0)) return a >= 0 ? kMax32 : kMin32;
  return r;
}

// Integer Newton root shared by L_Sqrt32 and Sqrt64: from the tabulated start
// for highest bit `order`, y = (x + L/x)/2 until the estimate stops falling and
// y*y <= L. Every estimate after the first is at least floor(sqrt(L)) and
// below 2^32, so y*y fits an unsigned 64-bit value.
int64_t NewtonRoot(int64_t L, int order) {
  int64_t x = Roots32_coeff[order];
  for (;;) {
    const int64_t y = (x + L / x) >> 1;
    if (x >= y && static_cast<uint64_t>(y) * static_cast<uint64_t>(y) <= static_cast<uint64_t>(L)) return y;
    x = y;
  }
}

}  // namespace

// Entry k is floor(sqrt(2^k)), the root of the smallest value with highest set
// bit k, except k = 3 (3), k = 25 (5892), k = 59 (759250125), k = 61
// (1518500250) and k = 62 (2147483647, the largest 32-bit value).
const int32 Roots32_coeff[63] = {
    1,         1,         2,          3,          4,          5,          8,         11,
    16,        22,        32,         45,         64,         90,         128,       181,
    256,       362,       512,        724,        1024,       1448,       2048,      2896,
    4096,      5892,      8192,       11585,      16384,      23170,      32768,     46340,
    65536,     92681,     131072,     185363,     262144,     370727,     524288,    741455,
    1048576,   1482910,   2097152,    2965820,    4194304,    5931641,    8388608,   11863283,
    16777216,  23726566,  33554432,   47453132,   67108864,   94906265,   134217728, 189812531,
    268435456, 379625062, 536870912,  759250125,  1073741824, 1518500250, 2147483647,
};

// Entry i (8..31) is -trunc(32768*sqrt(8/i)): -1/(2*sqrt(i/32)) in Q15, the
// inverse slope of the root at mantissa i/32. Entries 0..7 never occur for a
// normalised mantissa.
const int16 Sqrt32_aCoef[32] = {
    0,      0,      0,      0,      0,      0,      0,      0,
    -32768, -30893, -29308, -27944, -26754, -25705, -24770, -23930,
    -23170, -22478, -21845, -21262, -20724, -20224, -19759, -19325,
    -18918, -18536, -18176, -17836, -17515, -17210, -16921, -16646,
};

int32 abs32(int32 x) {
  const int64_t v = Low32(x);
  return Low32(v < 0 ? -v : v);
}

int16 mult1(int16 var1, int16 var2) { return Low16((static_cast<int32_t>(var1) * var2) >> kQ15); }

int32 Mul32x16H(int32 Value1, int16 Value2) {
  const int32_t v = Low32(Value1);
  const int64_t hi = static_cast<int16>(v >> kHalfWord);
  const int64_t lo = static_cast<uint32_t>(v) & kLowHalfMask;
  return Low32((hi * Value2 + ((lo * Value2) >> kHalfWord)) * 2);
}

int32 L_add(int32 L_var1, int32 L_var2) {
  const int32_t a = Low32(L_var1), b = Low32(L_var2);
  // Only operands of the same sign can overflow.
  return SaturateWrapped(a, Low32(static_cast<int64_t>(a) + b), (a ^ b) >= 0);
}

int32 L_sub(int32 L_var1, int32 L_var2) {
  const int32_t a = Low32(L_var1), b = Low32(L_var2);
  // Only operands of different signs can overflow.
  return SaturateWrapped(a, Low32(static_cast<int64_t>(a) - b), (a ^ b) < 0);
}

// Left shifts keep the sign while bits 31 and 30 agree: a positive value
// shifts until its highest set bit reaches bit 30, a negative one until its
// highest clear bit does (all 31 places for -1).
int16 Exp(int32 Value) {
  const int32_t v = Low32(Value);
  if (v == 0) return 0;
  const uint32_t magnitude = static_cast<uint32_t>(v < 0 ? ~v : v);
  return static_cast<int16>(kSignBit - 1 - HighestBit(magnitude));
}

int32 Order32(int32 Z) {
  const int32_t z = Low32(Z);
  return z >= 1 ? HighestBit(static_cast<uint64_t>(z)) : 0;
}

int32 Order64(int64 Z) { return Z >= 1 ? HighestBit(static_cast<uint64_t>(Z)) : 0; }

// Newton iteration on the normalised mantissa in Q15, Y in Q31:
// Y <- Y - (y^2 - m)/(2*sqrt(m)), with 1/(2*sqrt(m)) from the table at the
// mantissa's top bits. The odd pre-shift keeps the exponent even so that the
// post-shift halves it exactly. Y saturates: for a mantissa just below 1.0
// the floored error keeps pushing Y up past 2^31 - 1, and a wrapped Y would
// turn the root negative.
int16 Sqrt32(int32 L_Value) {
  const int32_t L = Low32(L_Value);
  if (L <= 0) return 0;
  if (L >= kSqrt32Limit) return kMax16;
  const int n = Exp(L);
  const int s = (n & 1) ? n : n - 1;
  const int r = kSignBit - (kSignBit - s) / 2;

  const int16 m = static_cast<int16>(L << s >> kHalfWord);
  const int64_t X = static_cast<int64_t>(m) << kHalfWord;
  const int64_t a = Sqrt32_aCoef[m >> kCoefIndexShift];
  int64_t Y = static_cast<int64_t>((m + kOneQ15) >> 1) << kHalfWord;
  for (int i = 0; i < kSqrt32Iterations; i++) {
    const int64_t y = static_cast<int16>(Y >> kHalfWord);
    const int64_t e = Low16((y * y * 2 - X) >> kHalfWord);
    Y = Clamp32(Y + e * a * 2);
  }
  return Low16(Y >> r);
}

int32 L_Sqrt32(int32 L) {
  const int32_t v = Low32(L);
  if (v <= 1) return v < 0 ? 0 : v;
  return NewtonRoot(v, Order32(v));
}

int64 Sqrt64(int64 L) {
  if (L <= 1) return L < 0 ? 0 : L;
  return NewtonRoot(L, Order64(L));
}
