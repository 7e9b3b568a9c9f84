// Fast arc tangents, cosines and sines against the C library: every float
// must be exactly the one that the library's double result rounds to, over
// random bit patterns, the engine's ranges, dense runs of arguments around
// the points where the evaluation changes course, and the hardest arguments
// known (library results next to a float rounding boundary). The check of
// every float argument is the manual tool fastmath_exhaustive.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fastmath.h"

namespace {

// The 32-bit suite runs in an emulator about 20 times slower: it checks a
// sixteenth as many arguments there.
const uint32 kCount = sizeof(void*) == 8 ? 1u << 22 : 1u << 18;
// Consecutive floats checked on each side of a hard point.
const uint32 kRun = sizeof(void*) == 8 ? 4096 : 256;

const double kPi = 3.14159265358979323846;

float FromBits(uint32_t u) {
  float f;
  memcpy(&f, &u, sizeof f);
  return f;
}

uint32_t ToBits(float f) {
  uint32_t u;
  memcpy(&u, &f, sizeof u);
  return u;
}

struct Xorshift {
  uint64_t s;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (uint32_t)(s >> 16);
  }
  float Uniform(float lo, float hi) { return lo + (hi - lo) * (float)(Next() >> 8) * 0x1p-24f; }
};

bool SameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || ToBits(a) == ToBits(b); }

// Whether the library's double result lies within the relative distance of
// a rounding boundary between two floats.
bool NearBoundary(double v, double distance) {
  if (!std::isfinite(v) || v == 0.0) return false;
  const float f = (float)v;
  const float other = v > f ? std::nextafter(f, INFINITY) : std::nextafter(f, -INFINITY);
  const double midpoint = ((double)f + (double)other) / 2.0;
  return std::fabs(v - midpoint) <= distance * std::fabs(v);
}

std::vector<float> AnyBits(uint32 n, uint64_t seed) {
  Xorshift rng{seed};
  std::vector<float> v(n);
  for (float& x : v) x = FromBits(rng.Next());
  return v;
}

std::vector<float> Uniform(uint32 n, float lo, float hi, uint64_t seed) {
  Xorshift rng{seed};
  std::vector<float> v(n);
  for (float& x : v) x = rng.Uniform(lo, hi);
  return v;
}

// kRun consecutive floats on each side of every point, and of its negation.
std::vector<float> Around(const std::vector<double>& points) {
  std::vector<float> v;
  for (double p : points) {
    for (double signed_p : {p, -p}) {
      float lo = (float)signed_p, hi = lo;
      for (uint32 k = 0; k < kRun; k++) {
        v.push_back(lo);
        v.push_back(hi);
        lo = std::nextafter(lo, -INFINITY);
        hi = std::nextafter(hi, INFINITY);
      }
    }
  }
  return v;
}

std::vector<float> Specials() {
  return {0.0f, -0.0f, INFINITY, -INFINITY, NAN, -NAN, FLT_MAX, -FLT_MAX, FLT_MIN, -FLT_MIN,
          FromBits(1), FromBits(0x80000001u), 1.0f, -1.0f, 8.0f, -8.0f, 3.1415927f, 1.5707964f};
}

// ---- one-argument functions ------------------------------------------------

struct Unary {
  const char* name;
  void (*fast)(const mfloat* x, mfloat* y, uint32 n);
  double (*library)(double);
  std::vector<double> hard_points;  // where the evaluation changes table point or octant
  float lo, hi;                     // the engine's range of arguments
};

void Atan(const mfloat* x, mfloat* y, uint32 n) { FastMath_atan(x, y, n); }
void Cos(const mfloat* x, mfloat* y, uint32 n) { FastMath_cos(x, y, n); }
void CosOfSinCos(const mfloat* x, mfloat* y, uint32 n) {
  std::vector<float> s(n);
  FastMath_sincos(x, y, s.data(), n);
}
void SinOfSinCos(const mfloat* x, mfloat* y, uint32 n) {
  std::vector<float> c(n);
  FastMath_sincos(x, c.data(), y, n);
}
double LibAtan(double x) { return atan(x); }
double LibCos(double x) { return cos(x); }
double LibSin(double x) { return sin(x); }

// Table grid midpoints (2i+1)/64 up to the limit, and their reciprocals for
// the arc tangent, whose table serves 1/|x| beyond 1.
std::vector<double> AtanPoints() {
  std::vector<double> p = {0.0, 1.0, FLT_MAX};
  for (int i = 0; i < kFastMathGrid; i++) {
    p.push_back((2 * i + 1) / 64.0);
    p.push_back(64.0 / (2 * i + 1));
  }
  return p;
}

std::vector<double> CosSinPoints() {
  std::vector<double> p = {0.0, 8.0};
  for (int q = 1; q <= 5; q++) p.push_back(q * kPi / 2);  // zeros and extremes
  for (int i = 0; i < kFastMathCosSinPoints - 1; i++) p.push_back((2 * i + 1) / 64.0);
  return p;
}

class UnaryTest : public ::testing::TestWithParam<Unary> {
 protected:
  // Differences from the library; the first few are reported.
  uint32 Check(const std::vector<float>& x) {
    const Unary& f = GetParam();
    std::vector<float> y(x.size());
    f.fast(x.data(), y.data(), (uint32)x.size());
    uint32 differences = 0;
    for (size_t i = 0; i < x.size(); i++) {
      const double exact = f.library((double)x[i]);
      if (!SameFloat(y[i], (float)exact) && differences++ < 5)
        ADD_FAILURE() << f.name << "(" << std::hexfloat << x[i] << ") = " << y[i] << ", library " << (float)exact;
    }
    return differences;
  }
};

TEST_P(UnaryTest, MatchesTheLibraryOnRandomBitPatterns) {
  EXPECT_EQ(Check(AnyBits(kCount, 1)), 0u);
}

TEST_P(UnaryTest, MatchesTheLibraryOverTheEnginesRange) {
  EXPECT_EQ(Check(Uniform(kCount, GetParam().lo, GetParam().hi, 2)), 0u);
}

TEST_P(UnaryTest, MatchesTheLibraryAroundHardPoints) {
  EXPECT_EQ(Check(Around(GetParam().hard_points)), 0u);
}

TEST_P(UnaryTest, MatchesTheLibraryOnSpecialValues) {
  EXPECT_EQ(Check(Specials()), 0u);
}

// Every length, so that each position of a group of four is a tail once.
TEST_P(UnaryTest, EveryLengthWritesExactlyItsElements) {
  const std::vector<float> x = Uniform(9, -3.0f, 3.0f, 3);
  for (uint32 n = 0; n <= 9; n++) {
    std::vector<float> y(10, 42.0f);
    GetParam().fast(x.data(), y.data(), n);
    for (uint32 i = 0; i < n; i++) EXPECT_TRUE(SameFloat(y[i], (float)GetParam().library((double)x[i])));
    EXPECT_EQ(y[n], 42.0f) << "n = " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Functions, UnaryTest,
    ::testing::Values(Unary{"atan", Atan, LibAtan, AtanPoints(), -1e4f, 1e4f},
                      Unary{"cos", Cos, LibCos, CosSinPoints(), -3.1415927f, 3.1415927f},
                      Unary{"sincos.cos", CosOfSinCos, LibCos, CosSinPoints(), -1.5707964f, 4.712389f},
                      Unary{"sincos.sin", SinOfSinCos, LibSin, CosSinPoints(), -1.5707964f, 4.712389f}),
    [](const ::testing::TestParamInfo<Unary>& p) {
      std::string name = p.param.name;
      for (char& c : name)
        if (c == '.') c = '_';
      return name;
    });

// The hardest arguments that fastmath_exhaustive found: the library's result
// lies within 2^-45 of a rounding boundary, beyond what a fast evaluation can
// settle, so each of them must come out as the library's, whichever lane of
// a group of four it takes.
struct HardArgument {
  void (*fast)(const mfloat* x, mfloat* y, uint32 n);
  double (*library)(double);
  float x;
};

const HardArgument kHardest[] = {
    // atan(0x1.1ad646p-4) lies exactly on a boundary: the tie goes to even.
    {Atan, LibAtan, 0x1.1ad646p-4f},     {Atan, LibAtan, -0x1.1ad646p-4f},   {Atan, LibAtan, 0x1.f83792p-9f},
    {Atan, LibAtan, 0x1.ac6ff4p-10f},    {Atan, LibAtan, 0x1.e00a3p+25f},    {Atan, LibAtan, 0x1.120b18p+0f},
    {Cos, LibCos, 0x1p-12f},             {Cos, LibCos, 0x1.20ffccp-7f},      {Cos, LibCos, 0x1.a8872ap-11f},
    {Cos, LibCos, -0x1.1e377ap-11f},     {CosOfSinCos, LibCos, 0x1p-12f},    {CosOfSinCos, LibCos, 0x1.20ffccp-7f},
    {SinOfSinCos, LibSin, 0x1.e7061ep-2f}, {SinOfSinCos, LibSin, 0x1.9eab2ep-4f}, {SinOfSinCos, LibSin, 0x1.e64002p-2f},
    {SinOfSinCos, LibSin, -0x1.41f49cp+0f},
};

TEST(HardestArguments, LieNextToABoundaryAndComeOutAsTheLibrarys) {
  for (const HardArgument& h : kHardest) {
    const double exact = h.library((double)h.x);
    EXPECT_TRUE(NearBoundary(exact, 0x1p-45)) << std::hexfloat << h.x;
    const float x[4] = {h.x, h.x, h.x, h.x};
    float y[4];
    h.fast(x, y, 4);
    for (float v : y) EXPECT_TRUE(SameFloat(v, (float)exact)) << std::hexfloat << h.x;
  }
}

// ---- atan2 ------------------------------------------------------------------

uint32 CheckAtan2(const std::vector<float>& y, const std::vector<float>& x) {
  std::vector<float> r(x.size());
  FastMath_atan2(y.data(), x.data(), r.data(), (uint32)x.size());
  uint32 differences = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const double exact = atan2((double)y[i], (double)x[i]);
    if (!SameFloat(r[i], (float)exact) && differences++ < 5)
      ADD_FAILURE() << "atan2(" << std::hexfloat << y[i] << ", " << x[i] << ") = " << r[i] << ", library "
                    << (float)exact;
  }
  return differences;
}

TEST(Atan2, MatchesTheLibraryOnRandomBitPatterns) {
  EXPECT_EQ(CheckAtan2(AnyBits(kCount, 4), AnyBits(kCount, 5)), 0u);
}

// Coherence values as the direction detector sees them, and the same spread
// over many orders of magnitude.
TEST(Atan2, MatchesTheLibraryOverTheEnginesRange) {
  EXPECT_EQ(CheckAtan2(Uniform(kCount, -1.0f, 1.0f, 6), Uniform(kCount, -1.0f, 1.0f, 7)), 0u);
  std::vector<float> y = Uniform(kCount, -1.0f, 1.0f, 8), x = Uniform(kCount, -1.0f, 1.0f, 9);
  Xorshift rng{10};
  for (size_t i = 0; i < x.size(); i++) {
    y[i] = std::ldexp(y[i], (int)(rng.Next() % 200) - 100);
    x[i] = std::ldexp(x[i], (int)(rng.Next() % 200) - 100);
  }
  EXPECT_EQ(CheckAtan2(y, x), 0u);
}

// Every pair of special values, signed zeros included (atan2(+-0, -0) is +-pi).
TEST(Atan2, MatchesTheLibraryOnSpecialValues) {
  std::vector<float> y, x;
  for (float a : Specials())
    for (float b : Specials()) {
      y.push_back(a);
      x.push_back(b);
    }
  EXPECT_EQ(CheckAtan2(y, x), 0u);
}

// The hardest pairs the exhaustive tool met among its random pairs: the first
// two lie exactly on a rounding boundary.
TEST(Atan2, HardestPairsComeOutAsTheLibrarys) {
  const std::vector<float> y = {-0x1.570aeap-1f, 0x1.307918p-3f, 0x1.ab72dap-4f, 0x1.9cfa7p-4f};
  const std::vector<float> x = {-0x1.e276eap-1f, -0x1.ddd3b2p-3f, -0x1.8c095ep-1f, -0x1.65c49cp-1f};
  for (size_t i = 0; i < y.size(); i++) EXPECT_TRUE(NearBoundary(atan2((double)y[i], (double)x[i]), 0x1p-45));
  EXPECT_EQ(CheckAtan2(y, x), 0u);
}

// Ratios around the diagonal (where the octant changes) and around the grid
// midpoints (where the table point changes), in all four quadrants.
TEST(Atan2, MatchesTheLibraryAroundHardRatios) {
  std::vector<double> ratios = {1.0};
  for (int i = 0; i < kFastMathGrid; i++) ratios.push_back((2 * i + 1) / 64.0);
  const std::vector<float> ys = Around(ratios);
  std::vector<float> y, x;
  Xorshift rng{11};
  for (float r : ys) {
    const float scale = std::ldexp(1.0f + (float)(rng.Next() % 1000) / 1000.0f, (int)(rng.Next() % 40) - 20);
    for (float sx : {1.0f, -1.0f}) {
      y.push_back(r * scale);
      x.push_back(sx * scale);
      y.push_back(sx * scale);  // the reciprocal ratio
      x.push_back(r * scale);
    }
  }
  EXPECT_EQ(CheckAtan2(y, x), 0u);
}

}  // namespace
