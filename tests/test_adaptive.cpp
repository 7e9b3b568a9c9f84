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

typedef std::complex<float> C;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInitIm = 1e-20f;
const unsigned char kFill = 0x5A;  // byte pattern of untouched record memory

bool Untouched(const float* a, size_t from, size_t to) {
  std::vector<unsigned char> fill((to - from) * sizeof(float), kFill);
  return std::memcmp(a + from, fill.data(), fill.size()) == 0;
}

bool InitialWeights(const float* re, const float* im, size_t n) {
  for (size_t k = 0; k < n; k++)
    if (re[k] != 1.0f || im[k] != kInitIm) return false;
  return true;
}

// Split spectrum of n bins (random, non-zero), with NaN past n so that any
// read beyond the bins in use shows up in the results.
struct Spectrum {
  std::vector<float> re, im;
  Spectrum(size_t n, std::mt19937& rng, float scale = 1.0f) : re(2 * kMaxBins, kNaN), im(2 * kMaxBins, kNaN) {
    std::uniform_real_distribution<float> u(0.1f, 1.0f), sign(-1.0f, 1.0f);
    for (size_t k = 0; k < n; k++) {
      re[k] = scale * std::copysign(u(rng), sign(rng));
      im[k] = scale * std::copysign(u(rng), sign(rng));
    }
  }
};

class FdafSizes : public ::testing::TestWithParam<uint32> {};
INSTANTIATE_TEST_SUITE_P(Frames, FdafSizes, ::testing::Values(256u, 512u, 1024u));

// Weights start (and restart on Reset) at 1 + 1e-20j, so the first
// subtraction removes the reference; step 0 copies D and keeps the weights;
// nothing past the bins is read or written.
TEST_P(FdafSizes, LifecycleAndStepZero) {
  const uint32 nfft = GetParam(), n = nfft / 2 + 1;
  std::mt19937 rng(nfft);
  TFDAF12 f;
  std::memset(&f, kFill, sizeof f);
  FDAF12_Init(&f, nfft);
  EXPECT_TRUE(InitialWeights(f.reW, f.imW, n));
  Spectrum x(n, rng), d(n, rng);
  FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 1.0f);
  for (uint32 k = 0; k < n; k++) ASSERT_TRUE(f.reE[k] == d.re[k] - x.re[k] && f.imE[k] == d.im[k] - x.im[k]) << k;
  FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.3f);  // weights off their start
  const TFDAF12 before = f;
  FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 0.0f);
  FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.0f);
  EXPECT_EQ(std::memcmp(f.reE, d.re.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(f.imE, d.im.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(f.reW, before.reW, sizeof f.reW), 0);
  EXPECT_EQ(std::memcmp(f.imW, before.imW, sizeof f.imW), 0);
  FDAF12_Reset(&f);
  EXPECT_TRUE(InitialWeights(f.reW, f.imW, n));
  for (const float* a : {f.reW, f.imW, f.reE, f.imE}) EXPECT_TRUE(Untouched(a, n, kMaxBins));
}

// One bin's update with step 1: weight w, reference x, error e (set through a
// subtraction with step 0, which copies D into E) -> expected weight.
TEST(Fdaf, OneBinUpdateAndTheUnitCircleLimit) {
  const float kAboveOne = std::nextafter(1.0f, 2.0f);
  const struct { const char* what; C w, x, e, expected; } cases[] = {
      {"inside", {0.5f, 0.0f}, {2.0f, 0.0f}, {0.5f, 0.25f}, {0.75f, 0.125f}},
      {"zero reference keeps the weight", {0.25f, -0.5f}, {0.0f, 0.0f}, {3.0f, -2.0f}, {0.25f, -0.5f}},
      {"exactly 1j accepted", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, 0.5f}, {0.0f, 1.0f}},
      {"exactly -1 accepted", {-0.5f, 0.0f}, {1.0f, 0.0f}, {-0.5f, 0.0f}, {-1.0f, 0.0f}},
      {"just above resets", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, kAboveOne - 0.5f}, {1.0f, 0.0f}},
      {"far outside resets", {0.5f, 0.5f}, {0.0f, 1.0f}, {-2.0f, 3.0f}, {1.0f, 0.0f}},
      {"NaN error resets", {0.5f, 0.5f}, {1.0f, 0.0f}, {kNaN, 0.0f}, {1.0f, 0.0f}},
      {"NaN reference resets", {0.5f, 0.5f}, {kNaN, 1.0f}, {1.0f, 0.0f}, {1.0f, 0.0f}}};
  for (const auto& c : cases) {
    TFDAF12 f;
    FDAF12_Init(&f, 256);
    f.reW[0] = c.w.real();
    f.imW[0] = c.w.imag();
    float xr[129] = {c.x.real()}, xi[129] = {c.x.imag()}, dr[129] = {c.e.real()}, di[129] = {c.e.imag()};
    FDAF12_Substration(&f, xr, xi, dr, di, 0.0f);
    FDAF12_Adaptation(&f, xr, xi, 1.0f);
    EXPECT_EQ(C(f.reW[0], f.imW[0]), c.expected) << c.what;
  }
}

// References packed at stride maxFbin, as many as the weight arrays hold; no
// reference copies D (the mean over none would be 0/0).
TEST(MulFdaf, InitClampsToCapacityAndNoReferenceCopiesD) {
  const struct { uint32 nref, nfft, expected; } cases[] = {
      {0, 256, 0}, {1, 256, 1}, {9, 256, 7}, {3, 512, 3}, {4, 512, 3}, {3, 1024, 2}};
  std::mt19937 rng(11);
  for (const auto& c : cases) {
    TMulFDAF12 m;
    std::memset(&m, kFill, sizeof m);
    MulFDAF12_Init(&m, c.nref, c.nfft);
    const uint32 n = c.nfft / 2 + 1, used = c.expected * n;
    EXPECT_EQ(m.nReference, c.expected) << c.nref << " references at " << c.nfft;
    EXPECT_TRUE(InitialWeights(m.reW, m.imW, used) && Untouched(m.reW, used, 2 * kMaxBins));
    Spectrum x(used, rng), d(n, rng);
    float coeff[7] = {1, 1, 1, 1, 1, 1, 1};
    MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), coeff);
    MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), coeff);
    for (uint32 k = 0; k < n; k++) ASSERT_TRUE(std::isfinite(m.reE[k]) && std::isfinite(m.imE[k])) << k;
    if (c.expected == 0) {
      EXPECT_TRUE(!std::memcmp(m.reE, d.re.data(), n * sizeof(float)) &&
                  !std::memcmp(m.imE, d.im.data(), n * sizeof(float)));
    }
  }
}

// Two references at nfft 256 (reference 1 from entry 129) against a single
// filter on one reference with the step that the mean over two amounts to;
// then each reference adapts with its own step.
TEST(MulFdaf, MeanOfTwoReferencesAndStepPerReference) {
  const struct { const char* what; bool same; float c0, c1; int single_ref; float single_coeff; } cases[] = {
      {"two equal products: E = D - product", true, 1.0f, 1.0f, 0, 1.0f},
      {"weight 0 still counts in N", false, 1.0f, 0.0f, 0, 0.5f},
      {"reference 1 read at entry 129", false, 0.0f, 1.0f, 1, 0.5f}};
  for (const auto& c : cases) {
    std::mt19937 rng(21);
    Spectrum x(258, rng), d(129, rng);
    if (c.same) std::copy(x.re.begin(), x.re.begin() + 129, x.re.begin() + 129);
    if (c.same) std::copy(x.im.begin(), x.im.begin() + 129, x.im.begin() + 129);
    TMulFDAF12 m;
    TFDAF12 f;
    MulFDAF12_Init(&m, 2, 256);
    FDAF12_Init(&f, 256);
    float coeff[2] = {c.c0, c.c1};
    MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), coeff);
    const size_t off = 129 * c.single_ref;
    FDAF12_Substration(&f, x.re.data() + off, x.im.data() + off, d.re.data(), d.im.data(), c.single_coeff);
    EXPECT_EQ(std::memcmp(f.reE, m.reE, 129 * sizeof(float)), 0) << c.what;
    EXPECT_EQ(std::memcmp(f.imE, m.imE, 129 * sizeof(float)), 0) << c.what;
    MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), coeff);  // the same values as steps
    for (int r = 0; r < 2; r++)  // step 0 freezes a reference
      EXPECT_EQ(InitialWeights(m.reW + 129 * r, m.imW + 129 * r, 129), coeff[r] == 0.0f) << c.what << ", ref " << r;
    MulFDAF12_Reset(&m);
    EXPECT_TRUE(InitialWeights(m.reW, m.imW, 258));
  }
}

// D = mean of H_r X_r for a fixed system H and random X per step: the error
// falls from the signal level (~100) to float noise (~1e-5). With one
// reference the canceller computes exactly what the single filter does.
float MaxErrorAfter(int steps, uint32 nref, uint32 seed) {
  const uint32 n = 129;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-0.6f, 0.6f);
  std::vector<C> h(nref * n);
  for (auto& v : h) v = {u(rng), u(rng)};  // |H| < 0.85
  TFDAF12 f;
  TMulFDAF12 m;
  FDAF12_Init(&f, 256);
  MulFDAF12_Init(&m, nref, 256);
  std::vector<float> sub(nref, 1.0f), mu(nref, 0.5f);
  float worst = 0.0f;
  for (int s = 0; s < steps; s++) {
    Spectrum x(nref * n, rng, 100.0f), d(0, rng);
    for (uint32 r = 0; r < nref; r++)
      for (uint32 k = 0; k < n; k++) {
        const C y = h[r * n + k] * C(x.re[r * n + k], x.im[r * n + k]) / (float)nref;
        d.re[k] = (r == 0 ? 0.0f : d.re[k]) + y.real();
        d.im[k] = (r == 0 ? 0.0f : d.im[k]) + y.imag();
      }
    MulFDAF12_Substration(&m, x.re.data(), x.im.data(), d.re.data(), d.im.data(), sub.data());
    MulFDAF12_Adaptation(&m, x.re.data(), x.im.data(), mu.data());
    worst = 0.0f;
    for (uint32 k = 0; k < n; k++) worst = std::max(worst, std::hypot(m.reE[k], m.imE[k]));
    if (nref > 1) continue;
    FDAF12_Substration(&f, x.re.data(), x.im.data(), d.re.data(), d.im.data(), 1.0f);
    FDAF12_Adaptation(&f, x.re.data(), x.im.data(), 0.5f);
    EXPECT_TRUE(!std::memcmp(f.reE, m.reE, n * sizeof(float)) && !std::memcmp(f.imE, m.imE, n * sizeof(float)) &&
                !std::memcmp(f.reW, m.reW, n * sizeof(float)) && !std::memcmp(f.imW, m.imW, n * sizeof(float)))
        << "step " << s;
  }
  return worst;
}

TEST(AdaptiveConvergence, ErrorFallsToFloatNoise) {
  for (uint32 seed : {1u, 2u, 3u}) {
    EXPECT_GT(MaxErrorAfter(1, 1, seed), 1.0f);
    EXPECT_LT(MaxErrorAfter(80, 1, seed), 1e-4f) << "one reference, seed " << seed;
    EXPECT_LT(MaxErrorAfter(150, 2, seed), 1e-4f) << "two references, seed " << seed;
  }
}

}  // namespace
