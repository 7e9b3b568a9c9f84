// Fixed-point helpers: worked examples, every helper against plain 64-bit
// reference arithmetic (also with arguments wider than 32 bits), integer
// roots against the defining inequality r^2 <= L < (r+1)^2, and the
// fixed-point magnitude.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <array>
#include <random>
#include <vector>

#include "FFTnrc.h"
#include "fix.h"

namespace {

const int64_t kMax32 = 2147483647;
const int64_t kMin32 = -kMax32 - 1;
const int64_t kMax64 = INT64_MAX;
const uint64_t kMaxRoot64 = 3037000499u;  // floor(sqrt(2^63 - 1))
// The largest input whose root Sqrt32 represents, and the range where its
// result is exact for every perfect square.
const int64_t kSqrt32Top = 1073709055;
const int64_t kSqrt32ExactRoots = 1620;

int64_t Wrap32(int64_t v) { return (int64_t)(int32_t)(uint32_t)(uint64_t)v; }
int64_t Saturate32(int64_t v) { return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : v); }
int64_t FloorDiv(int64_t p, int64_t d) { return p >= 0 ? p / d : -((-p + d - 1) / d); }

// floor(sqrt(L)) from the double root, corrected by the defining inequality.
int64_t FloorSqrt(uint64_t L) {
  uint64_t r = (uint64_t)sqrt((double)L);
  while (r * r > L) r--;
  while (r < kMaxRoot64 && (r + 1) * (r + 1) <= L) r++;
  return (int64_t)r;
}

int HighestBit(uint64_t v) { return 63 - __builtin_clzll(v); }

// Normalisation count by its definition: shift left one place at a time while
// the shift keeps the sign (bits 31 and 30 equal).
int ExpByShifting(int64_t value) {
  uint32_t u = (uint32_t)(uint64_t)value;
  int n = 0;
  for (; u != 0 && (u >> 31) == ((u >> 30) & 1u); u <<= 1) n++;
  return n;
}

// 32-bit operand patterns: uniform, and near the limits and zero.
int64_t RandomOperand(std::mt19937_64& rng) {
  const uint64_t bits = rng();
  const int64_t small = (int64_t)(bits >> 56) - 128;
  const int64_t pick[] = {kMax32 - (small & 0x7F), kMin32 + (small & 0x7F), small, Wrap32((int64_t)(bits >> 16))};
  return pick[bits & 3];
}

// v as an int32 argument: sign-extended, zero-extended or with random high
// bits. Where long is 32 bits wide all three are v itself.
int32 Wide(int64_t v, int mode, std::mt19937_64& rng) {
  const uint64_t high = mode == 0 ? (uint64_t)v & ~0xFFFFFFFFull : mode == 1 ? 0 : rng() << 32;
  return (int32)(int64_t)((uint64_t)(uint32_t)(uint64_t)v | high);
}

template <typename F>
void ExpectUnary(const char* name, F f, std::initializer_list<std::array<int64_t, 2>> rows) {
  for (const auto& r : rows) EXPECT_EQ((int64_t)f(r[0]), r[1]) << name << "(" << r[0] << ")";
}

template <typename F>
void ExpectBinary(const char* name, F f, std::initializer_list<std::array<int64_t, 3>> rows) {
  for (const auto& r : rows) EXPECT_EQ((int64_t)f(r[0], r[1]), r[2]) << name << "(" << r[0] << ", " << r[1] << ")";
}

TEST(Fix, TablesAndWorkedExamples) {
  // Roots32_coeff[k] = floor(sqrt(2^k)) except five entries.
  const std::pair<int, int64_t> adjusted[] = {{3, 3}, {25, 5892}, {59, 759250125}, {61, 1518500250}, {62, kMax32}};
  for (int k = 0; k < 63; k++) {
    int64_t want = FloorSqrt((uint64_t)1 << k);
    for (const auto& a : adjusted) want = a.first == k ? a.second : want;
    EXPECT_EQ((int64_t)Roots32_coeff[k], want) << "k = " << k;
  }
  // Sqrt32_aCoef[i] = -trunc(32768 * sqrt(8/i)) for i >= 8, i.e. c^2 i <= 8 * 2^30 < (c+1)^2 i.
  for (int64_t i = 0; i < 32; i++) {
    const int64_t c = -(int64_t)Sqrt32_aCoef[i];
    EXPECT_TRUE(i < 8 ? c == 0 : c * c * i <= (8LL << 30) && (c + 1) * (c + 1) * i > (8LL << 30)) << i;
  }
  EXPECT_TRUE(Sqrt32_aCoef[8] == -32768 && Sqrt32_aCoef[31] == -16646);
  ExpectBinary("L_add", L_add, {{kMax32, 1, kMax32}, {kMin32, -1, kMin32}, {-1, 1, 0}, {kMax32, kMin32, -1}});
  ExpectBinary("L_sub", L_sub,
               {{kMin32, 1, kMin32}, {kMax32, -1, kMax32}, {5, 7, -2}, {0, kMin32, kMax32}, {-1, kMin32, kMax32}});
  ExpectBinary("mult1", mult1, {{16384, 16384, 8192}, {-32768, -32768, -32768}, {-1, 1, -1}, {32767, 32767, 32766}});
  ExpectBinary("Mul32x16H", Mul32x16H,
               {{1073741824, 16384, 536870912}, {kMin32, -32768, kMin32}, {-1, 1, -2}, {65535, 32767, 65532}});
  ExpectUnary("abs32", abs32, {{5, 5}, {-5, 5}, {0, 0}, {kMax32, kMax32}, {kMin32 + 1, kMax32}, {kMin32, kMin32}});
  ExpectUnary("Exp", Exp, {{0, 0}, {1, 30}, {1073741824, 0}, {-1, 31}, {kMin32, 0}, {kMax32, 0}});
  ExpectUnary("Order32", Order32, {{1, 0}, {2, 1}, {3, 1}, {4, 2}, {kMax32, 30}});
  ExpectUnary("Order64", Order64, {{1, 0}, {2, 1}, {3, 1}, {4, 2}, {kMax64, 62}});
  ExpectUnary("L_Sqrt32", L_Sqrt32,
              {{0, 0}, {-5, 0}, {kMin32, 0}, {1, 1}, {2, 1}, {99, 9}, {100, 10}, {kMax32, 46340}});
  ExpectUnary("Sqrt64", Sqrt64, {{0, 0}, {-5, 0}, {INT64_MIN, 0}, {1, 1}, {99, 9}, {kMax64, (int64_t)kMaxRoot64}});
  // Sqrt32 out of range (0 and 32767), and at mantissas just below 1.0 where
  // the Newton estimate runs into the top of the 32-bit range.
  ExpectUnary("Sqrt32", Sqrt32,
              {{0, 0}, {1, 1}, {4, 2}, {10000, 100}, {65536, 256}, {1000000, 1000}, {-1, 0}, {kMin32, 0},
               {kSqrt32Top, 32767}, {kSqrt32Top + 1, 32767}, {kMax32, 32767}, {65535, 255}, {262143, 511},
               {4194303, 2047}, {268435455, 16383}});
}

// 32-bit operands: the extremes, powers of two and their neighbours (both
// signs), perfect squares and their neighbours, every input within 300 of a
// power of four (Sqrt32's mantissa near 1.0), a dense sample of the range and
// pseudo-random patterns.
std::vector<int64_t> Operands32(std::mt19937_64& rng) {
  std::vector<int64_t> v = {kMin32, kMin32 + 1, -2, -1, 0, 1, kSqrt32Top, kSqrt32Top + 1, kMax32 - 1, kMax32};
  for (int k = 0; k <= 31; k++)
    for (int64_t d : {-1, 0, 1}) v.insert(v.end(), {(1LL << k) + d, -(1LL << k) - d});
  for (int64_t k = 1; k * k <= kMax32; k++) v.insert(v.end(), {k * k - 1, k * k, k * k + 1});
  for (int j = 1; j <= 15; j++)
    for (int64_t d = -300; d <= 300; d++) v.push_back((1LL << 2 * j) + d);
  for (int64_t L = 1; L <= kMax32; L += 2039) v.push_back(L);
  for (int i = 0; i < 200000; i++) v.push_back(RandomOperand(rng));
  for (int64_t& x : v) x = Wrap32(x);  // 2^31 and its neighbours wrap to the extremes
  return v;
}

// Saturating sums, wrapped magnitudes, floored Q15 products (Mul32x16H being
// 2 * floor(v*w / 2^16)), normalisation counts by their shift-by-shift
// definition, L_Sqrt32 = floor(sqrt(L)) and Sqrt32 within [floor - 1, floor + 2],
// each argument passed sign-extended, zero-extended or with random high bits:
// only the low 32 bits count.
TEST(Fix, MatchesReference64BitArithmetic) {
  std::mt19937_64 rng(20240601);
  const std::vector<int64_t> ops = Operands32(rng);
  auto check = [&](int64_t a, int64_t b, int mode) {
    const int32 wa = Wide(a, mode, rng), wb = Wide(b, mode, rng);
    const int16 h = (int16)(uint16_t)b, g = (int16)(uint16_t)(a >> 8);
    auto where = [&]() { return testing::Message() << a << ", " << b << " passed as " << wa << ", " << wb; };
    ASSERT_EQ((int64_t)L_add(wa, wb), Saturate32(a + b)) << where();
    ASSERT_EQ((int64_t)L_sub(wa, wb), Saturate32(a - b)) << where();
    ASSERT_EQ((int64_t)abs32(wa), Wrap32(a < 0 ? -a : a)) << where();
    ASSERT_EQ((int64_t)mult1(g, h), (int64_t)(int16_t)(uint16_t)FloorDiv((int64_t)g * h, 1 << 15)) << g << " * " << h;
    ASSERT_EQ((int64_t)Mul32x16H(wa, h), Wrap32(2 * FloorDiv(a * h, 1 << 16))) << where() << " * " << h;
    ASSERT_EQ((int)Exp(wa), ExpByShifting(a)) << where();
    ASSERT_EQ((int64_t)Order32(wa), a >= 1 ? HighestBit(a) : 0) << where();
    const int64_t f = a >= 1 ? FloorSqrt(a) : 0, r = Sqrt32(wa);
    ASSERT_EQ((int64_t)L_Sqrt32(wa), f) << where();
    ASSERT_TRUE(a < 1 ? r == 0 : a > kSqrt32Top ? r == 32767 : r >= f - 1 && r <= f + 2) << where() << ": " << r;
  };
  for (size_t i = 0; i < 10; i++)  // the extremes with each other
    for (size_t j = 0; j < 10; j++) check(ops[i], ops[j], (i + j) % 3);
  for (size_t i = 0; i < ops.size(); i++) check(ops[i], RandomOperand(rng), i % 3);
}

// Sqrt64 = floor(sqrt(L)) and Order64 on powers of two and their neighbours,
// small and random squares and their neighbours, random magnitudes and the
// top of the range; Sqrt32 exact on perfect squares up to 1620^2.
TEST(Fix, SixtyFourBitRootsAndCounts) {
  std::vector<int64_t> v = {kMax64 - 1, kMax64};
  for (int k = 0; k <= 62; k++)
    for (int64_t d : {-1, 0, 1}) v.push_back((int64_t)(1LL << k) + d);
  for (int64_t k = 1; k <= 2000; k++) v.insert(v.end(), {k * k - 1, k * k, k * k + 1});
  std::mt19937_64 rng(64);
  for (int i = 0; i < 30000; i++) {
    const int64_t k = (int64_t)(rng() % kMaxRoot64) + 1;
    v.insert(v.end(), {k * k - 1, k * k, (int64_t)(rng() >> (1 + rng() % 63))});
  }
  const int64_t top = (int64_t)(kMaxRoot64 * kMaxRoot64);
  v.insert(v.end(), {top - 1, top, top + 1});
  for (int64_t L : v) {
    ASSERT_EQ((int64_t)Sqrt64(L), L >= 1 ? FloorSqrt(L) : 0) << "Sqrt64(" << L << ")";
    ASSERT_EQ((int64_t)Order64(L), L >= 1 ? HighestBit(L) : 0) << "Order64(" << L << ")";
  }
  for (int64_t k = 1; k <= kSqrt32ExactRoots; k++) ASSERT_EQ((int64_t)Sqrt32(k * k), k);
  EXPECT_EQ((int64_t)Sqrt32((kSqrt32ExactRoots + 1) * (kSqrt32ExactRoots + 1)), kSqrt32ExactRoots);  // one low
}

// Magnitudes through the integer root: the whole part of |X| of the
// truncated power (saturated at 2^31 - 1), every bin DC to Nyquist alike.
TEST(Fix, MagnitudeIsTheIntegerRootOfTheTruncatedPower) {
  TFFTnRC fft;
  FFTnRC_Init(&fft, 256);
  std::vector<float> x(129, 0.0f), y(129, 0.0f), R(130, -1.0f);
  const float cases[][3] = {{3, 4, 5},          {0.9f, 0, 0},         {1.5f, 0, 1}, {-10, 0, 10}, {0, 0, 0},
                            {46340.5f, 0, 46340}, {1e6f, 1e6f, 46340}, {0, -7, 7}};
  const size_t n = sizeof cases / sizeof cases[0];
  for (size_t i = 0; i < n; i++) x[i] = cases[i][0], y[i] = cases[i][1];
  x[128] = 12.0f;  // Nyquist with an imaginary part
  y[128] = 5.0f;
  FFTnRC_xy2R_fix(&fft, x.data(), y.data(), R.data());
  for (size_t i = 0; i < n; i++) EXPECT_EQ(R[i], cases[i][2]) << "bin " << i;
  EXPECT_EQ(R[128], 13.0f);
  EXPECT_EQ(R[129], -1.0f);  // exactly 129 values written
}

}  // namespace
