// Fixed-point helpers: worked examples, saturation and fractional products
// against plain 64-bit arithmetic, integer roots against the defining
// inequality r^2 <= L < (r+1)^2, normalisation counts against their
// shift-by-shift definition, and 32-bit semantics of wider arguments.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <random>
#include <vector>

#include "FFTnrc.h"
#include "fix.h"

namespace {

const int64_t kMax32 = 2147483647;
const int64_t kMin32 = -kMax32 - 1;
const int64_t kMax64 = INT64_MAX;
// floor(sqrt(2^63 - 1)): the largest root of a positive int64.
const uint64_t kMaxRoot64 = 3037000499u;
// The largest input whose root Sqrt32 represents, and the range where its
// result is exact for every perfect square.
const int64_t kSqrt32Top = 1073709055;
const int64_t kSqrt32ExactRoots = 1620;

int64_t Wrap32(int64_t v) { return (int64_t)(int32_t)(uint32_t)(uint64_t)v; }
int64_t Wrap16(int64_t v) { return (int64_t)(int16_t)(uint16_t)(uint64_t)v; }
int64_t Saturate32(int64_t v) { return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : v); }
int64_t FloorDiv(int64_t p, int64_t d) { return p >= 0 ? p / d : -((-p + d - 1) / d); }

// r is floor(sqrt(L)) exactly when r^2 <= L < (r+1)^2.
bool IsFloorSqrt(uint64_t L, uint64_t r) {
  return r <= kMaxRoot64 && r * r <= L && (r + 1) * (r + 1) > L;
}

// floor(sqrt(L)) from the double root, corrected by the defining inequality.
uint64_t FloorSqrt(uint64_t L) {
  uint64_t r = (uint64_t)sqrt((double)L);
  while (r * r > L) r--;
  while ((r + 1) * (r + 1) <= L) r++;
  return r;
}

// Normalisation count by its definition: shift left one place at a time while
// the shift keeps the sign (bits 31 and 30 equal).
int ExpByShifting(int64_t value) {
  uint32_t u = (uint32_t)(uint64_t)value;
  if (u == 0) return 0;
  int n = 0;
  while ((u >> 31) == ((u >> 30) & 1u)) {
    u <<= 1;
    n++;
  }
  return n;
}

// 32-bit operand patterns: uniform, and near the limits and zero.
int64_t RandomOperand(std::mt19937_64& rng) {
  const uint64_t bits = rng();
  const int64_t small = (int64_t)(bits >> 56) - 128;
  switch (bits & 3) {
    case 0: return kMax32 - (small & 0x7F);
    case 1: return kMin32 + (small & 0x7F);
    case 2: return small;
    default: return Wrap32((int64_t)(bits >> 16));
  }
}

// Every 2^k within [1, max] with its neighbours 2^k - 1 and 2^k + 1.
std::vector<int64_t> PowersOfTwoAndNeighbours(int max_bit, int64_t max) {
  std::vector<int64_t> v;
  for (int k = 0; k <= max_bit; k++) {
    const int64_t p = (int64_t)((uint64_t)1 << k);
    for (int64_t x : {p - 1, p, p + 1})
      if (x >= 1 && x <= max) v.push_back(x);
  }
  v.push_back(max);
  return v;
}

struct Unary {
  int64_t in, want;
};
struct Binary {
  int64_t a, b, want;
};

template <typename F>
void ExpectUnary(const char* name, F f, std::initializer_list<Unary> cases) {
  for (const Unary& c : cases) EXPECT_EQ((int64_t)f(c.in), c.want) << name << "(" << c.in << ")";
}

template <typename F>
void ExpectBinary(const char* name, F f, std::initializer_list<Binary> cases) {
  for (const Binary& c : cases)
    EXPECT_EQ((int64_t)f(c.a, c.b), c.want) << name << "(" << c.a << ", " << c.b << ")";
}

// ---------------------------------------------------------------- tables

TEST(FixTables, RootsAreFloorSqrtOfPowersOfTwoWithFiveAdjustedEntries) {
  const std::vector<std::pair<int, int64_t>> adjusted = {
      {3, 3}, {25, 5892}, {59, 759250125}, {61, 1518500250}, {62, 2147483647}};
  for (int k = 0; k < 63; k++) {
    int64_t want = (int64_t)FloorSqrt((uint64_t)1 << k);
    for (const auto& a : adjusted)
      if (a.first == k) want = a.second;
    EXPECT_EQ((int64_t)Roots32_coeff[k], want) << "k = " << k;
  }
  EXPECT_EQ(Roots32_coeff[30], 32768);
  EXPECT_EQ(Roots32_coeff[31], 46340);
}

TEST(FixTables, SqrtCoefIsMinusTruncatedInverseSlopeInQ15) {
  for (int i = 0; i < 8; i++) EXPECT_EQ(Sqrt32_aCoef[i], 0) << "i = " << i;
  // c = trunc(32768 * sqrt(8/i)) exactly when c^2 * i <= 8 * 2^30 < (c+1)^2 * i.
  const int64_t scaled = 8LL << 30;
  for (int64_t i = 8; i < 32; i++) {
    const int64_t c = -(int64_t)Sqrt32_aCoef[i];
    EXPECT_TRUE(c * c * i <= scaled && (c + 1) * (c + 1) * i > scaled) << "i = " << i << ", c = " << c;
  }
  EXPECT_EQ(Sqrt32_aCoef[8], -32768);
  EXPECT_EQ(Sqrt32_aCoef[31], -16646);
}

// ---------------------------------------------------------------- examples

TEST(FixExamples, WorkedValues) {
  ExpectBinary("L_add", L_add, {{kMax32, 1, kMax32}, {kMin32, -1, kMin32}, {-1, 1, 0}, {kMax32, kMin32, -1}});
  ExpectBinary("L_sub", L_sub, {{kMin32, 1, kMin32}, {kMax32, -1, kMax32}, {5, 7, -2}, {0, kMin32, kMax32}, {-1, kMin32, kMax32}});
  ExpectBinary("mult1", mult1, {{16384, 16384, 8192}, {-32768, -32768, -32768}, {-1, 1, -1}, {32767, 32767, 32766}});
  ExpectBinary("Mul32x16H", Mul32x16H,
               {{1073741824, 16384, 536870912}, {kMin32, -32768, kMin32}, {-1, 1, -2}, {65535, 32767, 65532}});
  ExpectUnary("abs32", abs32, {{5, 5}, {-5, 5}, {0, 0}, {kMax32, kMax32}, {kMin32 + 1, kMax32}, {kMin32, kMin32}});
  ExpectUnary("Exp", Exp, {{0, 0}, {1, 30}, {1073741824, 0}, {-1, 31}, {kMin32, 0}, {kMax32, 0}});
  ExpectUnary("Order32", Order32, {{1, 0}, {2, 1}, {3, 1}, {4, 2}, {kMax32, 30}});
  ExpectUnary("Order64", Order64, {{1, 0}, {2, 1}, {3, 1}, {4, 2}, {kMax64, 62}});
  ExpectUnary("L_Sqrt32", L_Sqrt32, {{0, 0}, {-5, 0}, {kMin32, 0}, {1, 1}, {2, 1}, {99, 9}, {100, 10}, {kMax32, 46340}});
  ExpectUnary("Sqrt64", Sqrt64, {{0, 0}, {-5, 0}, {INT64_MIN, 0}, {1, 1}, {99, 9}, {kMax64, (int64_t)kMaxRoot64}});
  ExpectUnary("Sqrt32", Sqrt32, {{0, 0}, {4, 2}, {65536, 256}, {1000000, 1000}, {10000, 100}, {1, 1}});
}

// Inputs the root does not fit, and mantissas just below 1.0 where the
// Newton estimate runs into the top of the 32-bit range.
TEST(FixExamples, Sqrt32OutOfRangeAndNearPowersOfFour) {
  ExpectUnary("Sqrt32", Sqrt32,
              {{-1, 0}, {kMin32, 0}, {kSqrt32Top, 32767}, {kSqrt32Top + 1, 32767}, {1073741824, 32767}, {kMax32, 32767},
               {65535, 255}, {262143, 511}, {4194303, 2047}, {268435455, 16383}});
}

// ---------------------------------------------------------------- saturation

TEST(FixSaturation, AddAndSubMatchSaturated64BitArithmetic) {
  std::vector<std::pair<int64_t, int64_t>> pairs;
  const int64_t edges[] = {kMin32, kMin32 + 1, -1073741824, -2, -1, 0, 1, 2, 1073741824, kMax32 - 1, kMax32};
  for (int64_t a : edges)
    for (int64_t b : edges) pairs.push_back({a, b});
  std::mt19937_64 rng(20240601);
  for (int i = 0; i < 200000; i++) pairs.push_back({RandomOperand(rng), RandomOperand(rng)});
  for (const auto& p : pairs) {
    ASSERT_EQ((int64_t)L_add(p.first, p.second), Saturate32(p.first + p.second)) << p.first << " + " << p.second;
    ASSERT_EQ((int64_t)L_sub(p.first, p.second), Saturate32(p.first - p.second)) << p.first << " - " << p.second;
  }
}

TEST(FixSaturation, AbsMatchesMagnitudeWrappedTo32Bits) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 100000; i++) {
    const int64_t x = RandomOperand(rng);
    ASSERT_EQ((int64_t)abs32(x), Wrap32(x < 0 ? -x : x)) << x;
  }
}

// ---------------------------------------------------------------- products

// mult1 is floor(a*b / 2^15) wrapped to 16 bits; Mul32x16H, its split form,
// equals 2 * floor(v*w / 2^16) wrapped to 32 bits.
TEST(FixProducts, MatchFlooredQ15ProductsOfReferenceArithmetic) {
  std::mt19937_64 rng(99);
  for (int i = 0; i < 200000; i++) {
    const uint64_t bits = rng();
    const int16 a = (int16)(uint16_t)bits, b = (int16)(uint16_t)(bits >> 16);
    ASSERT_EQ((int64_t)mult1(a, b), Wrap16(FloorDiv((int64_t)a * b, 1 << 15))) << a << " * " << b;
    const int64_t v = RandomOperand(rng);
    ASSERT_EQ((int64_t)Mul32x16H(v, b), Wrap32(2 * FloorDiv(v * b, 1 << 16))) << v << " * " << b;
  }
}

// ---------------------------------------------------------------- counts

TEST(FixCounts, ExpMatchesShiftByShiftDefinitionAtPowersOfTwo) {
  std::vector<int64_t> values = {0, kMin32, kMin32 + 1};
  for (int64_t x : PowersOfTwoAndNeighbours(30, kMax32)) {
    values.push_back(x);
    values.push_back(-x);
  }
  std::mt19937_64 rng(3);
  for (int i = 0; i < 10000; i++) values.push_back(RandomOperand(rng));
  for (int64_t v : values) ASSERT_EQ((int)Exp(v), ExpByShifting(v)) << v;
}

TEST(FixCounts, OrderIsIndexOfHighestSetBit) {
  for (int k = 1; k <= 62; k++) {
    const int64_t p = (int64_t)((uint64_t)1 << k);
    for (const Unary& c : {Unary{p - 1, k - 1}, Unary{p, k}, Unary{p + 1, k}}) {
      EXPECT_EQ((int64_t)Order64(c.in), c.want) << c.in;
      if (k <= 30) {
        EXPECT_EQ((int64_t)Order32(c.in), c.want) << c.in;
      }
    }
  }
}

// ---------------------------------------------------------------- roots

TEST(FixRoots, LSqrt32IsFloorSqrtOnSquaresNeighboursAndDenseSample) {
  std::vector<int64_t> values = PowersOfTwoAndNeighbours(30, kMax32);
  for (int64_t k = 1; k * k - 1 <= kMax32; k++)
    for (int64_t L : {k * k - 1, k * k, k * k + 1})
      if (L >= 1 && L <= kMax32) values.push_back(L);
  for (int64_t L = 1; L <= kMax32; L += 4093) values.push_back(L);
  for (int64_t L : values) ASSERT_TRUE(IsFloorSqrt(L, L_Sqrt32(L))) << "L_Sqrt32(" << L << ") = " << L_Sqrt32(L);
}

TEST(FixRoots, Sqrt64IsFloorSqrtOnSquaresNeighboursAndRandomValues) {
  std::vector<int64_t> values = PowersOfTwoAndNeighbours(62, kMax64);
  std::mt19937_64 rng(64);
  for (int i = 0; i < 30000; i++) {
    const int64_t k = (int64_t)(rng() % kMaxRoot64) + 1;
    for (int64_t L : {k * k - 1, k * k}) values.push_back(L);
    if (k < (int64_t)kMaxRoot64) values.push_back(k * k + 1);
    const int drop = 1 + (int)(rng() % 63);  // random magnitudes
    values.push_back((int64_t)(rng() >> drop));
  }
  for (int64_t k = 1; k <= 2000; k++)
    for (int64_t L : {k * k - 1, k * k, k * k + 1}) values.push_back(L);
  const int64_t top = (int64_t)(kMaxRoot64 * kMaxRoot64);
  for (int64_t L : {top - 1, top, top + 1, kMax64 - 1}) values.push_back(L);
  for (int64_t L : values) {
    if (L >= 1) {
      ASSERT_TRUE(IsFloorSqrt(L, Sqrt64(L))) << "Sqrt64(" << L << ") = " << Sqrt64(L);
    }
  }
}

TEST(FixRoots, Sqrt32WithinOneBelowAndTwoAboveFloorSqrt) {
  std::vector<int64_t> values = PowersOfTwoAndNeighbours(29, kSqrt32Top);
  for (int64_t L = 1; L <= kSqrt32Top; L += 1021) values.push_back(L);
  // Every input near a power of four, where the mantissa approaches 1.0.
  for (int j = 1; j <= 15; j++)
    for (int64_t L = (1LL << 2 * j) - 300; L <= (1LL << 2 * j) + 300; L++)
      if (L >= 1 && L <= kSqrt32Top) values.push_back(L);
  for (int64_t L : values) {
    const int64_t floor_root = (int64_t)FloorSqrt(L), r = Sqrt32(L);
    ASSERT_TRUE(r >= floor_root - 1 && r <= floor_root + 2) << "Sqrt32(" << L << ") = " << r;
  }
}

TEST(FixRoots, Sqrt32ExactOnSmallPerfectSquares) {
  for (int64_t k = 1; k <= kSqrt32ExactRoots; k++) ASSERT_EQ((int64_t)Sqrt32(k * k), k);
  // The first square whose root comes out one low.
  EXPECT_EQ((int64_t)Sqrt32((kSqrt32ExactRoots + 1) * (kSqrt32ExactRoots + 1)), kSqrt32ExactRoots);
}

// ---------------------------------------------------------------- widths

// Where long is 64 bits wide, arguments are reduced to their low 32 bits and
// results are 32-bit values.
TEST(FixWidth, WideArgumentsActAsTheirLow32Bits) {
  if (sizeof(int32) > sizeof(int32_t)) {
    std::mt19937_64 rng(32);
    for (int i = 0; i < 20000; i++) {
      const int64_t a = RandomOperand(rng), b = RandomOperand(rng);
      const int32 wa = (int32)(uint32)((uint64_t)a ^ (rng() << 32));
      const int32 wb = (int32)(uint32)((uint64_t)b ^ (rng() << 32));
      const int16 h = (int16)(uint16_t)rng();
      ASSERT_EQ(abs32(wa), abs32(a)) << wa;
      ASSERT_EQ(L_add(wa, wb), L_add(a, b)) << wa << " + " << wb;
      ASSERT_EQ(L_sub(wa, wb), L_sub(a, b)) << wa << " - " << wb;
      ASSERT_EQ(Mul32x16H(wa, h), Mul32x16H(a, h)) << wa << " * " << h;
      ASSERT_EQ(Exp(wa), Exp(a)) << wa;
      if (a >= 1) {
        ASSERT_EQ(Order32(wa), Order32(a)) << wa;
      }
      ASSERT_EQ(L_Sqrt32(wa), L_Sqrt32(a)) << wa;
      ASSERT_EQ(Sqrt32(wa), Sqrt32(a)) << wa;
    }
    // 0xFFFFFFFF is -1 and 0x80000000 is the 32-bit minimum.
    const int32 all_ones = (int32)0xFFFFFFFFu, top_bit = (int32)0x80000000u;
    EXPECT_EQ(abs32(all_ones), 1);
    EXPECT_EQ(abs32(top_bit), kMin32);
    EXPECT_EQ(L_add(all_ones, 1), 0);
    EXPECT_EQ(L_sub(top_bit, 1), kMin32);
    EXPECT_EQ(L_Sqrt32(all_ones), 0);
    EXPECT_EQ(Exp(all_ones), 31);
  } else {
    GTEST_SKIP() << "int32 is exactly 32 bits wide";
  }
}

// Magnitudes through the integer root: the whole part of |X| of the
// truncated power, every bin of the half spectrum, DC and Nyquist alike.
TEST(FixMagnitude, IsTheIntegerRootOfTheTruncatedPower) {
  TFFTnRC fft;
  FFTnRC_Init(&fft, 256);
  std::vector<float> x(129, 0.0f), y(129, 0.0f), R(130, -1.0f);
  const float cases[][3] = {{3, 4, 5}, {0.9f, 0, 0}, {1.5f, 0, 1}, {-10, 0, 10}, {0, 0, 0},
                            {46340.5f, 0, 46340}, {1e6f, 1e6f, 46340}, {0, -7, 7}};
  const size_t n = sizeof cases / sizeof cases[0];
  for (size_t i = 0; i < n; i++) {
    x[i] = cases[i][0];
    y[i] = cases[i][1];
  }
  x[128] = 12.0f;  // Nyquist with an imaginary part, treated like any bin
  y[128] = 5.0f;
  FFTnRC_xy2R_fix(&fft, x.data(), y.data(), R.data());
  for (size_t i = 0; i < n; i++) EXPECT_EQ(R[i], cases[i][2]) << "bin " << i;
  EXPECT_EQ(R[128], 13.0f);
  EXPECT_EQ(R[129], -1.0f);  // exactly 129 values written
}

}  // namespace
