// Fast arc tangents, cosines and sines: every result must be the float that
// the C library's double result rounds to. MICARRAY_EXHAUSTIVE=all (or one
// function's name) checks every float argument, for hours.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fastmath.h"

namespace {

float FromBits(uint32_t u) {
  float f;
  memcpy(&f, &u, sizeof f);
  return f;
}

// The same float; any NaN matches any NaN.
bool SameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || memcmp(&a, &b, sizeof a) == 0; }

struct TUnary {
  const char* name;
  void (*fast)(const mfloat* x, mfloat* y, uint32 n);
  double (*library)(double);
};

// The cosine and the sine come together; each half is checked on its own.
void CosOfSinCos(const mfloat* x, mfloat* c, uint32 n) {
  std::vector<float> s(n);
  FastMath_sincos(x, c, s.data(), n);
}
void SinOfSinCos(const mfloat* x, mfloat* s, uint32 n) {
  std::vector<float> c(n);
  FastMath_sincos(x, c.data(), s, n);
}

double Atan(double x) { return atan(x); }
double Cos(double x) { return cos(x); }
double Sin(double x) { return sin(x); }
const TUnary kUnaries[] = {{"atan", FastMath_atan, Atan}, {"cos", FastMath_cos, Cos},
                           {"sincos_cos", CosOfSinCos, Cos}, {"sincos_sin", SinOfSinCos, Sin}};

// The 32-bit and ARM64 suites run in an emulator about 20 times slower: they
// check a sixteenth as many arguments there.
#ifdef MICARRAY_EMULATED
const uint32 kCount = 1u << 18;
const uint32 kRun = 256;  // floats on each side of a hard point
#else
const uint32 kCount = 1u << 22;
const uint32 kRun = 4096;
#endif
const uint32 kLongestGroup = 8;  // elements the functions evaluate at once

std::vector<float> AnyBits(uint32 n, uint32 seed) {
  std::mt19937 rng(seed);
  std::vector<float> v(n);
  for (float& x : v) x = FromBits(rng());
  return v;
}

// Uniform in [lo, hi), times 2^e with e uniform in [-spread, spread].
std::vector<float> Uniform(uint32 n, float lo, float hi, uint32 seed, int spread = 0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(lo, hi);
  std::uniform_int_distribution<int> exponent(-spread, spread);
  std::vector<float> v(n);
  for (float& x : v) x = std::ldexp(value(rng), exponent(rng));
  return v;
}

// kRun consecutive floats on each side of every point, and their negations.
std::vector<float> Around(const std::vector<double>& points) {
  std::vector<float> v;
  for (double p : points) {
    float lo = (float)p, hi = lo;
    for (uint32 k = 0; k < kRun; k++) {
      v.insert(v.end(), {lo, -lo, hi, -hi});
      lo = std::nextafter(lo, -INFINITY);
      hi = std::nextafter(hi, INFINITY);
    }
  }
  return v;
}

const std::vector<float> kSpecials = {0.0f, -0.0f, INFINITY, -INFINITY, NAN, -NAN, FLT_MAX, -FLT_MAX, FLT_MIN,
                                      -FLT_MIN, FromBits(1), FromBits(0x80000001u), 1.0f, 8.0f, 3.1415927f};

// Where the evaluation changes table point or octant: the midpoints between
// table points (for the arc tangent also their reciprocals), the quarter
// turns, the ends of the tables; with the diagonal only, the atan2 ratios.
std::vector<double> HardPoints(bool atan, bool ratios = false) {
  std::vector<double> p = {1.0};
  if (!ratios) p.insert(p.end(), {0.0, 8.0, FLT_MAX, M_PI / 2, M_PI, 3 * M_PI / 2, 2 * M_PI, 5 * M_PI / 2});
  const int grid = atan ? kFastMathAtanGrid : kFastMathCosSinGrid;
  for (int i = 0; i + 1 < (atan ? kFastMathAtanPoints : kFastMathCosSinPoints); i++) {
    p.push_back((i + 0.5) / grid);
    if (atan && !ratios) p.push_back(grid / (i + 0.5));
  }
  return p;
}

// Differences from the library; the first few are reported.
uint32 Check(const TUnary& f, const std::vector<float>& x) {
  std::vector<float> y(x.size());
  f.fast(x.data(), y.data(), (uint32)x.size());
  uint32 differences = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const float exact = (float)f.library((double)x[i]);
    if (!SameFloat(y[i], exact) && differences++ < 5)
      ADD_FAILURE() << f.name << "(" << std::hexfloat << x[i] << ") = " << y[i] << ", library " << exact;
  }
  return differences;
}

uint32 CheckAtan2(const std::vector<float>& y, const std::vector<float>& x) {
  std::vector<float> r(x.size());
  FastMath_atan2(y.data(), x.data(), r.data(), (uint32)x.size());
  uint32 differences = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const float exact = (float)atan2((double)y[i], (double)x[i]);
    if (!SameFloat(r[i], exact) && differences++ < 5)
      ADD_FAILURE() << "atan2(" << std::hexfloat << y[i] << ", " << x[i] << ") = " << r[i] << ", library " << exact;
  }
  return differences;
}

// The hardest arguments an exhaustive run found: the library's result lies within 2^-45
// of a rounding boundary (atan(0x1.1ad646p-4) on one), beyond what a fast evaluation settles.
const std::pair<const char*, std::vector<float>> kHardest[] = {
    {"atan", {0x1.1ad646p-4f, -0x1.1ad646p-4f, 0x1.f83792p-9f, 0x1.ac6ff4p-10f, 0x1.e00a3p+25f, 0x1.120b18p+0f}},
    {"cos", {0x1p-12f, 0x1.20ffccp-7f, 0x1.a8872ap-11f, -0x1.1e377ap-11f}},
    {"sincos_cos", {0x1p-12f, 0x1.20ffccp-7f}},
    {"sincos_sin", {0x1.e7061ep-2f, 0x1.9eab2ep-4f, 0x1.e64002p-2f, -0x1.41f49cp+0f}}};

class Unary : public ::testing::TestWithParam<TUnary> {};

// Random bit patterns, the engine's ranges (phases, beam quotients), the hard points, the
// special values, each hardest argument in every lane of a group, and every length up to two
// groups (each position of a group a tail once, nothing written past the last element).
TEST_P(Unary, MatchesTheLibraryOnEveryPath) {
  const TUnary& f = GetParam();
  EXPECT_EQ(Check(f, AnyBits(kCount, 1)), 0u);
  EXPECT_EQ(Check(f, Uniform(kCount, -4.712389f, 4.712389f, 2)), 0u);
  EXPECT_EQ(Check(f, Uniform(kCount, -1.0f, 1.0f, 3, 30)), 0u);
  EXPECT_EQ(Check(f, Around(HardPoints(f.fast == FastMath_atan))), 0u);
  EXPECT_EQ(Check(f, kSpecials), 0u);
  for (const auto& [name, hardest] : kHardest)
    if (std::string(name) == f.name) {
      for (float h : hardest) EXPECT_EQ(Check(f, std::vector<float>(2 * kLongestGroup, h)), 0u);
    }
  const std::vector<float> x = Uniform(2 * kLongestGroup, -3.0f, 3.0f, 4);
  for (uint32 n = 0; n <= x.size(); n++) {
    std::vector<float> y(n + 1, 42.0f);
    f.fast(x.data(), y.data(), n);
    for (uint32 i = 0; i < n; i++) EXPECT_TRUE(SameFloat(y[i], (float)f.library((double)x[i])));
    EXPECT_EQ(y[n], 42.0f) << "n = " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Functions, Unary, ::testing::ValuesIn(kUnaries),
                         [](const ::testing::TestParamInfo<TUnary>& p) { return std::string(p.param.name); });

// Random bit patterns, coherence values (also over many orders of magnitude), the hardest
// pairs an exhaustive run met, every pair of special values (atan2(+-0, -0) is +-pi), and
// ratios around the diagonal and the table's midpoints, both ways round, at random scales, in
// all quadrants.
TEST(Atan2, MatchesTheLibrary) {
  EXPECT_EQ(CheckAtan2(AnyBits(kCount, 5), AnyBits(kCount, 6)), 0u);
  EXPECT_EQ(CheckAtan2(Uniform(kCount, -1.0f, 1.0f, 7), Uniform(kCount, -1.0f, 1.0f, 8)), 0u);
  EXPECT_EQ(CheckAtan2(Uniform(kCount, -1.0f, 1.0f, 9, 100), Uniform(kCount, -1.0f, 1.0f, 10, 100)), 0u);
  std::vector<float> y = {-0x1.570aeap-1f, 0x1.307918p-3f, 0x1.ab72dap-4f, 0x1.9cfa7p-4f};
  std::vector<float> x = {-0x1.e276eap-1f, -0x1.ddd3b2p-3f, -0x1.8c095ep-1f, -0x1.65c49cp-1f};
  for (float a : kSpecials)
    for (float b : kSpecials) y.push_back(a), x.push_back(b);
  const std::vector<float> r = Around(HardPoints(true, true)), scales = Uniform((uint32)r.size(), 1.0f, 2.0f, 11, 20);
  for (size_t i = 0; i < r.size(); i++)
    for (float sx : {scales[i], -scales[i]}) {
      y.insert(y.end(), {r[i] * scales[i], sx});
      x.insert(x.end(), {sx, r[i] * scales[i]});
    }
  EXPECT_EQ(CheckAtan2(y, x), 0u);
}

// By hand: every float argument of the one-argument functions, and 2^31 random pairs (all bit
// patterns, coherence values) for atan2.
TEST(FastMath, EveryArgumentWhenAsked) {
  const char* asked = std::getenv("MICARRAY_EXHAUSTIVE");
  if (asked == nullptr) GTEST_SKIP() << "MICARRAY_EXHAUSTIVE=all|atan|cos|sincos_cos|sincos_sin|atan2";
  const uint32 kBlock = 1u << 16;
  auto wanted = [&](const std::string& name) { return std::string(asked) == "all" || name == asked; };
  std::vector<float> x(kBlock);
  for (const TUnary& f : kUnaries)
    for (uint64_t start = 0; wanted(f.name) && start < (1ull << 32); start += kBlock) {
      for (uint32 i = 0; i < kBlock; i++) x[i] = FromBits((uint32_t)(start + i));
      ASSERT_EQ(Check(f, x), 0u);
    }
  for (uint32 seed = 0; wanted("atan2") && seed < (1u << 16); seed += 4) {
    ASSERT_EQ(CheckAtan2(AnyBits(kBlock, seed), AnyBits(kBlock, seed + 1)), 0u);
    ASSERT_EQ(CheckAtan2(Uniform(kBlock, -1.0f, 1.0f, seed + 2), Uniform(kBlock, -1.0f, 1.0f, seed + 3)), 0u);
  }
}

}  // namespace
