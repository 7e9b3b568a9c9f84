// Branch-free single-precision approximations for the per-bin loops: plain
// arithmetic, selects and bit moves, which GCC vectorises (a call into the C
// library per bin would not). Accuracy is what the statistics need, a few
// units in the sixth digit, not correct rounding.
#ifndef MICARRAY_MVDR_FASTMATH_H
#define MICARRAY_MVDR_FASTMATH_H

#include <stdint.h>

#include "mvdr_isa.h"

// Adding and subtracting 1.5 * 2^23 rounds a float of magnitude below 2^22
// to the nearest integer (without SSE4.1's rounding instruction).
static const float kMvdrRoundMagic = 12582912.0f;
static const float kMvdrLn2 = 0.693147181f;
static const float kMvdrPi = 3.14159265f;

MVDR_INLINE float MvdrRound(float x) { return (x + kMvdrRoundMagic) - kMvdrRoundMagic; }

MVDR_INLINE float MvdrBitsToFloat(int32_t i) {
  float f;
  __builtin_memcpy(&f, &i, sizeof f);
  return f;
}

MVDR_INLINE int32_t MvdrFloatToBits(float f) {
  int32_t i;
  __builtin_memcpy(&i, &f, sizeof i);
  return i;
}

// e^x as 2^n * 2^f, |f| <= 1/2, 2^f by its Taylor series to the sixth power
// (relative error below 2e-7); arguments are held to [-87, 88], where the
// result stays a normal float.
MVDR_INLINE float MvdrExp(float x) {
  x = x < -87.0f ? -87.0f : (x > 88.0f ? 88.0f : x);
  const float t = x * 1.44269504f;
  const float n = MvdrRound(t);
  const float f = (t - n) * kMvdrLn2;
  const float p =
      1.0f + f * (1.0f + f * (0.5f + f * (1.0f / 6 + f * (1.0f / 24 + f * (1.0f / 120 + f * (1.0f / 720))))));
  return p * MvdrBitsToFloat(((int32_t)n + 127) << 23);
}

// ln x for x > 0 (smaller arguments, zero and subnormals, count as 1e-37):
// exponent times ln 2 plus ln m, m in [0.707, 1.414), from the series
// 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.172 (error below 1e-8).
MVDR_INLINE float MvdrLn(float x) {
  x = x < 1e-37f ? 1e-37f : x;
  const int32_t bits = MvdrFloatToBits(x);
  int32_t e = ((bits >> 23) & 0xff) - 127;
  float m = MvdrBitsToFloat((bits & 0x7fffff) | 0x3f800000);
  const bool high = m > 1.41421356f;
  m = high ? m * 0.5f : m;
  e = high ? e + 1 : e;
  const float s = (m - 1.0f) / (m + 1.0f), s2 = s * s;
  const float series = 1.0f + s2 * (1.0f / 3 + s2 * (1.0f / 5 + s2 * (1.0f / 7 + s2 * (1.0f / 9))));
  return 2.0f * s * series + (float)e * kMvdrLn2;
}

// The arctangents below share their reduction: the smaller of |x| and |y|
// over the larger (0 when both are 0), and from atan of that ratio, r in
// [0, pi/4], |atan2(y, x)| in [0, pi] by the quadrant.
MVDR_INLINE float MvdrAtanRatio(float ax, float ay) {
  const float hi = ax > ay ? ax : ay, lo = ax > ay ? ay : ax;
  return hi > 0.0f ? lo / hi : 0.0f;
}
MVDR_INLINE float MvdrAtanUnfold(float r, float ax, float ay, float x) {
  r = ay > ax ? 0.5f * kMvdrPi - r : r;
  return x < 0.0f ? kMvdrPi - r : r;
}

// atan2(y, x) in (-pi, pi]: the ratio folded at tan(pi/8) = 0.414 into
// |t| <= 0.414, where the odd series to t^11 errs by less than 1e-6; the
// sign from y's. atan2(0, 0) = 0.
MVDR_INLINE float MvdrAtan2(float y, float x) {
  const float ax = __builtin_fabsf(x), ay = __builtin_fabsf(y), a = MvdrAtanRatio(ax, ay);
  const bool fold = a > 0.414213562f;
  const float t = fold ? (a - 1.0f) / (a + 1.0f) : a, t2 = t * t;
  const float series =
      t * (1.0f - t2 * (1.0f / 3 - t2 * (1.0f / 5 - t2 * (1.0f / 7 - t2 * (1.0f / 9 - t2 * (1.0f / 11))))));
  const float r = MvdrAtanUnfold(fold ? series + 0.25f * kMvdrPi : series, ax, ay, x);
  return y < 0.0f ? -r : r;
}

// |atan2(y, x)| in [0, pi] to within 0.004: atan of the ratio a as
// a (pi/4 + 0.273 (1 - a)) (Rajan, Wang, Inkol and Joyal, IEEE Signal
// Processing Magazine 2006); for cues that need the angle only roughly.
MVDR_INLINE float MvdrAbsAtan2Coarse(float y, float x) {
  const float ax = __builtin_fabsf(x), ay = __builtin_fabsf(y), a = MvdrAtanRatio(ax, ay);
  return MvdrAtanUnfold(a * (0.25f * kMvdrPi + 0.273f * (1.0f - a)), ax, ay, x);
}

// cos and sin of x (|x| below about 1e4): x less the nearest multiple q of
// pi/2 (pi/2 in two parts, so the reduction stays exact), the series to the
// eighth power on [-pi/4, pi/4], and the quadrant q mod 4.
MVDR_INLINE void MvdrSinCos(float x, float* c, float* s) {
  const float q = MvdrRound(x * 0.636619772f);
  const float r = (x - q * 1.57079637f) - q * -4.37113883e-8f, r2 = r * r;
  const float sr = r * (1.0f - r2 * (1.0f / 6 - r2 * (1.0f / 120 - r2 * (1.0f / 5040))));
  const float cr = 1.0f - r2 * (0.5f - r2 * (1.0f / 24 - r2 * (1.0f / 720 - r2 * (1.0f / 40320))));
  const int32_t quadrant = (int32_t)q & 3;
  const bool swap = quadrant & 1;
  const float cs = swap ? sr : cr, ss = swap ? cr : sr;
  *c = quadrant == 1 || quadrant == 2 ? -cs : cs;
  *s = quadrant >= 2 ? -ss : ss;
}

// The exponential integral E1(v) for v > 0 (Abramowitz and Stegun 5.1.53
// and 5.1.56): below 1, -ln v plus a quintic (error below 2e-7); from 1 on,
// e^-v / v times a ratio of quadratics (relative error below 5e-5). Both
// are evaluated and one is selected, so the loop keeps no branch.
MVDR_INLINE float MvdrE1(float v) {
  const float series =
      -0.57721566f +
      v * (0.99999193f + v * (-0.24991055f + v * (0.05519968f + v * (-0.00976004f + v * 0.00107857f))));
  const float low = series - MvdrLn(v);
  const float ratio = (v * (v + 2.334733f) + 0.250621f) / (v * (v + 3.330657f) + 1.681534f);
  const float high = MvdrExp(-v) / v * ratio;
  return v < 1.0f ? low : high;
}

#endif
