// Blocking-matrix filter and multi-reference canceller: initial weights, the
// subtraction and normalised-LMS update per bin, the unit-circle limit, the
// reference packing and convergence on a known system.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "fdafn12.h"
#include "fdafn12_mul.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInitIm = 1e-20f;
const unsigned char kFill = 0x5A;  // byte pattern of untouched record memory

bool Untouched(const float* a, size_t from, size_t to) {
  for (size_t i = from; i < to; i++) {
    float fill;
    std::memset(&fill, kFill, sizeof fill);
    if (std::memcmp(&a[i], &fill, sizeof fill) != 0) return false;
  }
  return true;
}

// Split spectrum of n bins (random, non-zero), with NaN past n so that any
// read beyond the bins in use shows up in the results.
struct Spectrum {
  std::vector<float> re, im;
  Spectrum(size_t n, std::mt19937& rng, size_t cap = 1026, float scale = 1.0f) : re(cap, kNaN), im(cap, kNaN) {
    std::uniform_real_distribution<float> u(0.1f, 1.0f), sign(-1.0f, 1.0f);
    for (size_t k = 0; k < n; k++) {
      re[k] = scale * std::copysign(u(rng), sign(rng));
      im[k] = scale * std::copysign(u(rng), sign(rng));
    }
  }
};

class FdafSizes : public ::testing::TestWithParam<uint32> {};

TEST_P(FdafSizes, InitialWeightsAndUntouchedTail) {
  const uint32 nfft = GetParam();
  TFDAF12 f;
  std::memset(&f, kFill, sizeof f);
  FDAF12_Init(&f, nfft);
  const uint32 n = nfft / 2 + 1;
  ASSERT_EQ(f.maxFbin, n);
  for (uint32 k = 0; k < n; k++) {
    EXPECT_EQ(f.reW[k], 1.0f);
    EXPECT_EQ(f.imW[k], kInitIm);
  }
  EXPECT_TRUE(Untouched(f.reE, 0, kMaxBins));  // Init leaves E alone

  std::mt19937 rng(nfft);
  Spectrum x(n, rng), d(n, rng);
  for (int step = 0; step < 5; step++) {
    FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 0.7f);
    FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.3f);
  }
  for (uint32 k = 0; k < n; k++) {
    ASSERT_TRUE(std::isfinite(f.reE[k]) && std::isfinite(f.imE[k]));
    EXPECT_LE(f.reW[k] * f.reW[k] + f.imW[k] * f.imW[k], 1.0f);
  }
  const std::vector<float> re_e(f.reE, f.reE + kMaxBins);
  FDAF12_Reset(&f);
  for (uint32 k = 0; k < n; k++) {
    EXPECT_EQ(f.reW[k], 1.0f);
    EXPECT_EQ(f.imW[k], kInitIm);
  }
  EXPECT_EQ(std::memcmp(re_e.data(), f.reE, sizeof f.reE), 0);  // Reset keeps E
  for (const float* a : {f.reW, f.imW, f.reE, f.imE}) EXPECT_TRUE(Untouched(a, n, kMaxBins));
}

TEST_P(FdafSizes, ZeroStepCopiesDesiredAndKeepsWeights) {
  const uint32 nfft = GetParam(), n = nfft / 2 + 1;
  std::mt19937 rng(nfft + 1);
  TFDAF12 f;
  FDAF12_Init(&f, nfft);
  Spectrum x(n, rng), d(n, rng);
  // Move the weights off their initial value first.
  FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 1.0f);
  FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.5f);
  const TFDAF12 before = f;
  Spectrum d2(n, rng);
  FDAF12_Substration(&f, x.re.data(), x.im.data(), d2.re.data(), d2.im.data(), 0.0f);
  EXPECT_EQ(std::memcmp(f.reE, d2.re.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(f.imE, d2.im.data(), n * sizeof(float)), 0);
  FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.0f);
  EXPECT_EQ(std::memcmp(f.reW, before.reW, sizeof f.reW), 0);
  EXPECT_EQ(std::memcmp(f.imW, before.imW, sizeof f.imW), 0);
}

INSTANTIATE_TEST_SUITE_P(Frames, FdafSizes, ::testing::Values(256u, 512u, 1024u));

TEST(Fdaf, FirstSubtractionRemovesTheReference) {
  // The initial weight passes the reference: E = D - X up to the 1e-20j term.
  TFDAF12 f;
  FDAF12_Init(&f, 256);
  std::mt19937 rng(7);
  Spectrum x(129, rng), d(129, rng);
  FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 1.0f);
  for (uint32 k = 0; k < 129; k++) {
    EXPECT_EQ(f.reE[k], d.re[k] - x.re[k]);
    EXPECT_EQ(f.imE[k], d.im[k] - x.im[k]);
  }
}

TEST(Fdaf, ZeroReferenceBinKeepsItsWeight) {
  TFDAF12 f;
  FDAF12_Init(&f, 256);
  std::mt19937 rng(3);
  Spectrum x(129, rng), d(129, rng);
  x.re[5] = x.im[5] = 0.0f;
  f.reW[5] = 0.25f;
  f.imW[5] = -0.5f;
  FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 1.0f);
  FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 1.0f);
  EXPECT_EQ(f.reW[5], 0.25f);
  EXPECT_EQ(f.imW[5], -0.5f);
  EXPECT_FALSE(f.reW[6] == 1.0f && f.imW[6] == kInitIm);  // a neighbouring bin did adapt
}

// One bin's update: weight w, reference x, error e (set through a subtraction
// with step 0, which copies D into E), step 1 -> expected weight.
struct LimitCase {
  const char* what;
  std::complex<float> w, x, e, expected;
};

class FdafLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(FdafLimit, UnitCircle) {
  const LimitCase& c = GetParam();
  TFDAF12 f;
  FDAF12_Init(&f, 256);
  f.reW[0] = c.w.real();
  f.imW[0] = c.w.imag();
  float xr[129] = {c.x.real()}, xi[129] = {c.x.imag()};
  float dr[129] = {c.e.real()}, di[129] = {c.e.imag()};
  FDAF12_Substration(&f, xr, xi, dr, di, 0.0f);
  FDAF12_Adaptation(&f, xr, xi, 1.0f);
  EXPECT_EQ(f.reW[0], c.expected.real()) << c.what;
  EXPECT_EQ(f.imW[0], c.expected.imag()) << c.what;
}

const float kAboveOne = std::nextafter(1.0f, 2.0f);

INSTANTIATE_TEST_SUITE_P(
    Cases, FdafLimit,
    ::testing::Values(LimitCase{"inside", {0.5f, 0.0f}, {2.0f, 0.0f}, {0.5f, 0.25f}, {0.75f, 0.125f}},
                      LimitCase{"exactly 1j accepted", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, 0.5f}, {0.0f, 1.0f}},
                      LimitCase{"exactly -1 accepted", {-0.5f, 0.0f}, {1.0f, 0.0f}, {-0.5f, 0.0f}, {-1.0f, 0.0f}},
                      LimitCase{"just above resets", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, kAboveOne - 0.5f},
                                {1.0f, 0.0f}},
                      LimitCase{"far outside resets", {0.5f, 0.5f}, {0.0f, 1.0f}, {-2.0f, 3.0f}, {1.0f, 0.0f}},
                      LimitCase{"NaN error resets", {0.5f, 0.5f}, {1.0f, 0.0f}, {kNaN, 0.0f}, {1.0f, 0.0f}},
                      LimitCase{"NaN reference resets", {0.5f, 0.5f}, {kNaN, 1.0f}, {1.0f, 0.0f}, {1.0f, 0.0f}}));

// ---- multi-reference canceller ----

TEST(MulFdaf, InitPacksReferencesAndClampsToCapacity) {
  struct {
    uint32 nref, nfft, expected;
  } cases[] = {{2, 1024, 2}, {3, 1024, 2}, {3, 512, 3}, {4, 512, 3}, {7, 256, 7}, {9, 256, 7}, {1, 256, 1}};
  for (const auto& c : cases) {
    TMulFDAF12 m;
    std::memset(&m, kFill, sizeof m);
    MulFDAF12_Init(&m, c.nref, c.nfft);
    const uint32 n = c.nfft / 2 + 1, used = c.expected * n;
    EXPECT_EQ(m.maxFbin, n);
    EXPECT_EQ(m.nReference, c.expected) << c.nref << " references at " << c.nfft;
    for (uint32 i = 0; i < used; i++) {
      ASSERT_EQ(m.reW[i], 1.0f);
      ASSERT_EQ(m.imW[i], kInitIm);
    }
    EXPECT_TRUE(Untouched(m.reW, used, 1026));
    EXPECT_TRUE(Untouched(m.imW, used, 1026));
    EXPECT_TRUE(Untouched(m.reE, 0, kMaxBins));
  }
}

TEST(MulFdaf, NoReferenceCopiesDesired) {
  TMulFDAF12 m;
  MulFDAF12_Init(&m, 0, 256);
  std::mt19937 rng(11);
  Spectrum x(0, rng), d(129, rng);
  float coeff[1] = {1.0f};
  MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), coeff);
  EXPECT_EQ(std::memcmp(m.reE, d.re.data(), 129 * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(m.imE, d.im.data(), 129 * sizeof(float)), 0);
  MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), coeff);
  MulFDAF12_Reset(&m);
}

TEST(MulFdaf, OneReferenceEqualsSingleFilter) {
  std::mt19937 rng(5);
  TFDAF12 f;
  TMulFDAF12 m;
  FDAF12_Init(&f, 512);
  MulFDAF12_Init(&m, 1, 512);
  for (int step = 0; step < 20; step++) {
    Spectrum x(257, rng), d(257, rng);
    float sub[1] = {1.0f}, adap[1] = {step % 3 * 0.4f};
    FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), sub[0]);
    MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), sub);
    ASSERT_EQ(std::memcmp(f.reE, m.reE, 257 * sizeof(float)), 0) << step;
    ASSERT_EQ(std::memcmp(f.imE, m.imE, 257 * sizeof(float)), 0) << step;
    FDAF12_Adaptation(&f, x.re.data(), x.im.data(), adap[0]);
    MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), adap);
    ASSERT_EQ(std::memcmp(f.reW, m.reW, 257 * sizeof(float)), 0) << step;
    ASSERT_EQ(std::memcmp(f.imW, m.imW, 257 * sizeof(float)), 0) << step;
  }
}

// Two references at nfft 256: reference 1 starts at entry 129. The result is
// compared with a single filter on reference 0 (or 1) with the step that the
// mean over two references amounts to.
struct MeanCase {
  const char* what;
  bool same_references;  // reference 1 equals reference 0
  float c0, c1;          // subtraction weights
  int single_ref;        // reference that the single filter uses
  float single_coeff;
};

class MulFdafMean : public ::testing::TestWithParam<MeanCase> {};

TEST_P(MulFdafMean, MatchesSingleFilter) {
  const MeanCase& c = GetParam();
  std::mt19937 rng(21);
  Spectrum x(258, rng), d(129, rng);
  if (c.same_references)
    for (int k = 0; k < 129; k++) {
      x.re[129 + k] = x.re[k];
      x.im[129 + k] = x.im[k];
    }
  TMulFDAF12 m;
  MulFDAF12_Init(&m, 2, 256);
  float coeff[2] = {c.c0, c.c1};
  MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), coeff);
  TFDAF12 f;
  FDAF12_Init(&f, 256);
  const size_t off = 129 * c.single_ref;
  FDAF12_Substration(&f, x.re.data() + off, x.im.data() + off, d.re.data(), d.im.data(), c.single_coeff);
  EXPECT_EQ(std::memcmp(f.reE, m.reE, 129 * sizeof(float)), 0) << c.what;
  EXPECT_EQ(std::memcmp(f.imE, m.imE, 129 * sizeof(float)), 0) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MulFdafMean,
    ::testing::Values(MeanCase{"two equal products: E = D - product", true, 1.0f, 1.0f, 0, 1.0f},
                      MeanCase{"weight 0 still counts in N", false, 1.0f, 0.0f, 0, 0.5f},
                      MeanCase{"reference 1 read at entry 129", false, 0.0f, 1.0f, 1, 0.5f}));

TEST(MulFdaf, ZeroStepFreezesOneReference) {
  std::mt19937 rng(8);
  Spectrum x(258, rng), d(129, rng);
  x.re[3] = x.im[3] = 0.0f;  // a zero bin of reference 0 ...
  TMulFDAF12 m;
  MulFDAF12_Init(&m, 2, 256);
  const TMulFDAF12 before = m;
  m.reW[3] = 0.5f;
  float sub[2] = {1.0f, 1.0f}, step[2] = {1.0f, 0.0f};
  MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), sub);
  MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), step);
  EXPECT_EQ(m.reW[3], 0.5f);  // ... keeps its weight
  EXPECT_EQ(m.imW[3], kInitIm);
  EXPECT_FALSE(m.reW[4] == 1.0f && m.imW[4] == kInitIm);  // the rest of reference 0 adapts
  EXPECT_EQ(std::memcmp(m.reW + 129, before.reW + 129, 129 * sizeof(float)), 0);  // reference 1 frozen
  EXPECT_EQ(std::memcmp(m.imW + 129, before.imW + 129, 129 * sizeof(float)), 0);
  for (int k = 0; k < 258; k++) EXPECT_LE(m.reW[k] * m.reW[k] + m.imW[k] * m.imW[k], 1.0f);
  MulFDAF12_Reset(&m);
  EXPECT_EQ(std::memcmp(m.reW, before.reW, sizeof m.reW), 0);
  EXPECT_EQ(std::memcmp(m.imW, before.imW, sizeof m.imW), 0);
}

// ---- convergence: D = sum of H_r X_r for fixed H and random X per step ----

float MaxErrorAfter(int steps, uint32 nref, uint32 seed) {
  const uint32 n = 129;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-0.6f, 0.6f);
  std::vector<std::complex<float>> h(nref * n);
  for (auto& v : h) v = {u(rng), u(rng)};  // |H| < 0.85
  TFDAF12 f;
  TMulFDAF12 m;
  FDAF12_Init(&f, 256);
  MulFDAF12_Init(&m, nref, 256);
  std::vector<float> sub(nref, 1.0f), mu(nref, 0.5f);
  float worst = 0.0f;
  for (int s = 0; s < steps; s++) {
    Spectrum x(nref * n, rng, 1026, 100.0f);
    std::vector<float> dr(n, 0.0f), di(n, 0.0f);
    // The canceller subtracts the mean of the filtered references.
    for (uint32 r = 0; r < nref; r++)
      for (uint32 k = 0; k < n; k++) {
        const std::complex<float> y = h[r * n + k] * std::complex<float>(x.re[r * n + k], x.im[r * n + k]);
        dr[k] += y.real() / nref;
        di[k] += y.imag() / nref;
      }
    worst = 0.0f;
    if (nref == 1) {
      FDAF12_Substration(&f, x.re.data(), x.im.data(), dr.data(), di.data(), 1.0f);
      FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.5f);
      for (uint32 k = 0; k < n; k++) worst = std::max(worst, std::hypot(f.reE[k], f.imE[k]));
    }
    MulFDAF12_Substration(&m, x.re.data(), x.im.data(), dr.data(), di.data(), sub.data());
    MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), mu.data());
    for (uint32 k = 0; k < n; k++) worst = std::max(worst, std::hypot(m.reE[k], m.imE[k]));
  }
  return worst;
}

TEST(AdaptiveConvergence, ErrorFallsToFloatNoise) {
  // Inputs of magnitude up to about 140: float noise of the error is ~1e-5.
  for (uint32 seed : {1u, 2u, 3u}) {
    EXPECT_GT(MaxErrorAfter(1, 1, seed), 1.0f);
    EXPECT_LT(MaxErrorAfter(80, 1, seed), 1e-4f) << "one reference, seed " << seed;
    EXPECT_LT(MaxErrorAfter(150, 2, seed), 1e-4f) << "two references, seed " << seed;
  }
}

}  // namespace
