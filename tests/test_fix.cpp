// Fixed-point helpers: every helper against plain 64-bit reference arithmetic,
// and the fixed-point magnitude.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <random>
#include <vector>

#include "FFTnrc.h"
#include "fix.h"

namespace {

const int64_t kMax32 = INT32_MAX, kMin32 = INT32_MIN;
const uint64_t kMaxRoot64 = 3037000499u;  // floor(sqrt(2^63 - 1))
const int64_t kSqrt32Top = 1073709055;    // the largest input whose root Sqrt32 represents
const int64_t kSqrt32ExactRoots = 1620;   // Sqrt32 is exact on the squares of 1 ... 1620

int64_t Wrap32(int64_t v) { return (int64_t)(int32_t)(uint32_t)(uint64_t)v; }
int64_t Saturate32(int64_t v) { return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : v); }
int64_t FloorDiv(int64_t p, int64_t d) { return p >= 0 ? p / d : -((-p + d - 1) / d); }
int64_t HighestBit(int64_t v) { return v >= 1 ? 63 - __builtin_clzll(v) : 0; }

// floor(sqrt(L)) from the double root, corrected by the defining inequality; 0 below 1.
int64_t FloorSqrt(int64_t L) {
  if (L < 1) return 0;
  uint64_t r = (uint64_t)sqrt((double)L);
  while (r * r > (uint64_t)L) r--;
  while (r < kMaxRoot64 && (r + 1) * (r + 1) <= (uint64_t)L) r++;
  return (int64_t)r;
}

// Normalisation count: the redundant sign bits of a non-zero 32-bit value.
int ExpOf(int64_t v) { return Wrap32(v) == 0 ? 0 : __builtin_clrsb((int32_t)Wrap32(v)); }

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

// The 32-bit extremes first, then powers of two, perfect squares and their neighbours, inputs
// near powers of four (Sqrt32's mantissa near 1.0), a dense and a random sample of each range.
std::vector<int64_t> Operands(std::mt19937_64& rng) {
  const int64_t top = (int64_t)(kMaxRoot64 * kMaxRoot64);
  std::vector<int64_t> v = {kMin32,     kMin32 + 1, -2,      -1,  0,       1,             kSqrt32Top, kSqrt32Top + 1,
                            kMax32 - 1, kMax32,     top - 1, top, top + 1, INT64_MAX - 1, INT64_MAX,  INT64_MIN};
  for (int k = 0; k <= 62; k++)
    for (int64_t d : {-1, 0, 1}) v.insert(v.end(), {(1LL << k) + d, -(1LL << k) - d});
  for (int64_t k = 1; k * k <= kMax32; k++) v.insert(v.end(), {k * k - 1, k * k, k * k + 1});
  for (int j = 1; j <= 15; j++)
    for (int64_t d = -300; d <= 300; d++) v.push_back((1LL << 2 * j) + d);
  for (int64_t L = 1; L <= kMax32; L += 2039) v.push_back(L);
  for (int i = 0; i < 100000; i++) {
    const int64_t k = (int64_t)(rng() % kMaxRoot64) + 1;
    v.insert(v.end(), {RandomOperand(rng), RandomOperand(rng), k * k - 1, k * k, (int64_t)(rng() >> (1 + rng() % 63))});
  }
  return v;
}

// Each helper against its 64-bit reference, on the low 32 bits of the operands however they
// are extended (Sqrt32 within [floor - 1, floor + 2], 0 below 1, 32767 above its range).
TEST(Fix, MatchesReferenceArithmetic) {
  std::mt19937_64 rng(20240601);
  const std::vector<int64_t> ops = Operands(rng);
  auto check = [&](int64_t a, int64_t b, int mode) {
    const int32 wa = Wide(a, mode, rng), wb = Wide(b, mode, rng);
    const int16 h = (int16)(uint16_t)b, g = (int16)(uint16_t)(a >> 8);
    auto where = [&]() { return testing::Message() << a << ", " << b << " passed as " << wa << ", " << wb; };
    ASSERT_EQ((int64_t)L_add(wa, wb), Saturate32(a + b)) << where();
    ASSERT_EQ((int64_t)L_sub(wa, wb), Saturate32(a - b)) << where();
    ASSERT_EQ((int64_t)abs32(wa), Wrap32(a < 0 ? -a : a)) << where();
    ASSERT_EQ((int64_t)mult1(g, h), (int64_t)(int16_t)(uint16_t)FloorDiv((int64_t)g * h, 1 << 15)) << g << " * " << h;
    ASSERT_EQ((int64_t)Mul32x16H(wa, h), Wrap32(2 * FloorDiv(a * h, 1 << 16))) << where() << " * " << h;
    ASSERT_EQ((int)Exp(wa), ExpOf(a)) << where();
    ASSERT_EQ((int64_t)Order32(wa), HighestBit(a)) << where();
    const int64_t f = FloorSqrt(a), r = Sqrt32(wa);
    ASSERT_EQ((int64_t)L_Sqrt32(wa), f) << where();
    ASSERT_TRUE(a < 1 ? r == 0 : a > kSqrt32Top ? r == 32767 : r >= f - 1 && r <= f + 2) << where() << ": " << r;
  };
  for (size_t i = 0; i < 10; i++)  // the 32-bit extremes with each other
    for (size_t j = 0; j < 10; j++) check(ops[i], ops[j], (i + j) % 3);
  for (size_t i = 0; i < ops.size(); i++) {
    ASSERT_EQ((int64_t)Sqrt64(ops[i]), FloorSqrt(ops[i])) << "Sqrt64(" << ops[i] << ")";
    ASSERT_EQ((int64_t)Order64(ops[i]), HighestBit(ops[i])) << "Order64(" << ops[i] << ")";
    check(Wrap32(ops[i]), RandomOperand(rng), i % 3);
  }
  for (int64_t k = 1; k <= kSqrt32ExactRoots; k++) ASSERT_EQ((int64_t)Sqrt32(k * k), k);
  EXPECT_EQ((int64_t)Sqrt32((kSqrt32ExactRoots + 1) * (kSqrt32ExactRoots + 1)), kSqrt32ExactRoots);  // one low
}

// Magnitude: the integer root of the truncated power (saturated at 2^31 - 1), each case at
// both ends of the 129 bins (Nyquist with an imaginary part), nothing written past them.
TEST(Fix, MagnitudeIsTheIntegerRootOfTheTruncatedPower) {
  TFFTnRC fft;
  FFTnRC_Init(&fft, 256);
  const float cases[][3] = {{3, 4, 5},  {0.9f, 0, 0},         {1.5f, 0, 1},        {-10, 0, 10},
                            {0, 0, 0},  {46340.5f, 0, 46340}, {1e6f, 1e6f, 46340}, {0, -7, 7}};
  std::vector<float> x(129, 0.0f), y(129, 0.0f), R(130, -1.0f);
  for (size_t i = 0; i < 8; i++) x[i] = x[128 - i] = cases[i][0], y[i] = y[128 - i] = cases[i][1];
  FFTnRC_xy2R_fix(&fft, x.data(), y.data(), R.data());
  for (size_t i = 0; i < 8; i++) EXPECT_TRUE(R[i] == cases[i][2] && R[128 - i] == cases[i][2]) << "case " << i;
  EXPECT_EQ(R[129], -1.0f);
}

}  // namespace
