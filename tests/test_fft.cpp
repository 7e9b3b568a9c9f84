// Packed real FFT: known transform pairs both ways, agreement with a direct
// DFT, the tables, the spectrum conversions and the windows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "FFTnrc.h"
#include "micarray_core.h"

namespace {

const double kPi = 3.14159265358979323846;
const float kLevel = 3.25f;   // amplitude of the constant and alternating frames
const float kGuard = -7.0f;   // entries past the end that no call may write

class Fft : public ::testing::TestWithParam<uint32> {
 protected:
  void SetUp() override { FFTnRC_Init(&fft, n); }
  std::vector<float> RandomFrame(unsigned seed) const {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v) x = dist(gen);
    return v;
  }
  const uint32 n = GetParam();
  TFFTnRC fft;
};

INSTANTIATE_TEST_SUITE_P(Lengths, Fft, ::testing::Values(256u, 512u, 1024u));

// A frame and its packed spectrum; the first three kinds transform exactly.
enum Kind { kImpulse, kConstant, kAlternating, kCosine, kSine };
const char* const kKindNames[] = {"impulse", "constant", "alternating", "cosine", "sine"};

void KnownPair(Kind kind, uint32 k0, uint32 n, std::vector<float>& x, std::vector<float>& p) {
  x.assign(n, 0.0f);
  p.assign(n, 0.0f);
  for (uint32 i = 0; i < n; i++) {
    const double a = 2.0 * kPi * k0 * i / n;
    if (kind == kImpulse) p[i] = (i % 2 == 0 || i == 1) ? 1.0f : 0.0f;  // flat, DC and Nyquist too
    if (kind == kConstant) x[i] = kLevel;
    if (kind == kAlternating) x[i] = (i & 1) ? -kLevel : kLevel;
    if (kind == kCosine) x[i] = (float)cos(a);
    if (kind == kSine) x[i] = (float)sin(a);
  }
  if (kind == kImpulse) x[0] = 1.0f;
  if (kind == kConstant) p[0] = n * kLevel;
  if (kind == kAlternating) p[1] = n * kLevel;
  if (kind == kCosine) p[2 * k0] = n / 2.0f;
  if (kind == kSine) p[2 * k0 + 1] = -(n / 2.0f);
}

TEST_P(Fft, KnownPairsForwardAndInverse) {
  const uint32 tones[] = {1, 3, n / 8, n / 4 - 1, n / 4, n / 4 + 1, n / 2 - 1};
  for (int kind = kImpulse; kind <= kSine; kind++)
    for (uint32 k0 : tones) {
      if (kind < kCosine && k0 != tones[0]) continue;  // no bin to vary
      SCOPED_TRACE(testing::Message() << kKindNames[kind] << " bin " << k0);
      std::vector<float> x, p;
      KnownPair((Kind)kind, k0, n, x, p);
      const bool exact = kind < kCosine;
      std::vector<float> q = x;
      FFTnRC_fft(&fft, q.data(), 1);
      for (uint32 i = 0; i < n; i++) ASSERT_NEAR(q[i], p[i], exact ? 0.0f : 1e-5f * n) << "float " << i;
      FFTnRC_fft(&fft, p.data(), -1);
      for (uint32 i = 0; i < n; i++) ASSERT_NEAR(p[i], x[i], exact ? 0.0f : 1e-5f) << "sample " << i;
    }
}

TEST_P(Fft, RandomFramesMatchDirectDftAndRoundTrip) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const std::vector<float> x = RandomFrame(seed);
    std::vector<float> p = x;
    FFTnRC_fft(&fft, p.data(), 1);
    for (uint32 k = 0; k <= n / 2; k++) {
      double re = 0.0, im = 0.0;
      for (uint32 i = 0; i < n; i++) {
        const double a = 2.0 * kPi * ((uint64)k * i % n) / n;
        re += x[i] * cos(a);
        im -= x[i] * sin(a);
      }
      const bool real = k == 0 || k == n / 2;
      ASSERT_NEAR(real ? p[k == 0 ? 0 : 1] : p[2 * k], re, 1e-6 * n) << "bin " << k;
      ASSERT_NEAR(real ? 0.0 : p[2 * k + 1], im, 1e-6 * n) << "bin " << k;
    }
    FFTnRC_fft(&fft, p.data(), -1);
    for (uint32 i = 0; i < n; i++) ASSERT_NEAR(p[i], x[i], 2e-6f) << "seed " << seed << " sample " << i;
  }
}

// Swap segment: entry i holds 2*rev(i) when rev(i) > i (each bit-reversed pair
// exchanged once), else 0. Cosine segment: cos(2*pi*k/N) rounded once, k <= N/4.
TEST_P(Fft, TablesFollowTheirRules) {
  const uint16 first256[] = {0, 128, 64, 192, 32, 160, 96, 224, 0, 144, 80, 208};
  for (uint32 i = 0; i < sizeof first256 / sizeof first256[0]; i++) EXPECT_EQ(m_adwSwapTab[i], first256[i]);
  const uint16* swap = m_adwSwapTab + fft.offset_sw;
  uint32 bits = 0, swaps = 0;
  while ((1u << bits) < n / 2) bits++;
  for (uint32 i = 0; i < n / 2; i++) {
    uint32 r = 0;
    for (uint32 b = 0; b < bits; b++) r |= ((i >> b) & 1u) << (bits - 1 - b);
    ASSERT_EQ(swap[i], r > i ? 2 * r : 0) << "swap entry " << i;
    swaps += swap[i] != 0;
  }
  EXPECT_EQ(swaps, n == 256 ? 56u : n == 512 ? 120u : 240u);
  const float* cs = m_arCosTable32f + fft.offset_cs;
  for (uint32 k = 0; k <= n / 4; k++)  // cos(pi/2) is exactly 0
    ASSERT_EQ(cs[k], k == n / 4 ? 0.0f : (float)cos(2.0 * kPi * k / n)) << "cosine " << k;
}

// Phase rule: (re, im) -> radians in [-pi/2, 3pi/2), a zero real part giving +-pi/2.
TEST(FftPhase, RuleValues) {
  const struct { float re, im, want; } rows[] = {
      {0.0f, 0.0f, -1.5707964f},  {0.0f, 1.0f, 1.5707964f},  {0.0f, -1.0f, -1.5707964f},
      {-0.0f, 2.0f, 1.5707964f},  {-2.0f, 0.0f, 3.1415927f}, {-1.0f, -1.0f, 3.9269909f},
      {1.0f, -1.0f, -0.78539819f}, {4.0f, 0.0f, 0.0f},
  };
  TFFTnRC rec;
  FFTnRC_Init(&rec, 256);
  for (const auto& r : rows) {
    std::vector<float> x(129, 1.0f), y(129, 0.0f), F(129, 0.0f);
    x[0] = x[128] = r.re;
    y[0] = y[128] = r.im;
    FFTnRC_xy2F(&rec, x.data(), y.data(), F.data());
    EXPECT_EQ(F[0], r.want) << r.re << ", " << r.im;
    EXPECT_EQ(F[128], r.want) << r.re << ", " << r.im;
  }
}

TEST_P(Fft, ConversionsRoundTripAndStayInTheirBins) {
  const uint32 bins = n / 2 + 1;
  std::vector<float> p = RandomFrame(5), back(n + 1, kGuard);
  p[0] = -2.5f;  // a negative DC: magnitude 2.5, phase pi
  std::vector<float> x(bins + 1, kGuard), y(bins + 1, kGuard), R(bins + 1, kGuard), F(bins + 1, kGuard);
  // Packed <-> split: DC and Nyquist are real.
  FFTnRC_fftbuf2xy(&fft, p.data(), x.data(), y.data());
  EXPECT_TRUE(x[0] == p[0] && x[n / 2] == p[1] && y[0] == 0.0f && y[n / 2] == 0.0f);
  y[0] = 9.0f;  // imaginary parts of DC and Nyquist are not packed
  y[n / 2] = -9.0f;
  FFTnRC_xy2fftbuf(&fft, x.data(), y.data(), back.data());
  for (uint32 i = 0; i < n; i++) ASSERT_EQ(back[i], p[i]) << i;
  // Packed <-> magnitude and phase.
  FFTnRC_fftbuf2RF(&fft, p.data(), R.data(), F.data());
  EXPECT_TRUE(R[0] == 2.5f && F[0] == 3.1415927f);
  EXPECT_EQ(R[n / 2], fabsf(p[1]));
  FFTnRC_RF2fftbuf(&fft, R.data(), F.data(), back.data());
  for (uint32 i = 0; i < n; i++) ASSERT_NEAR(back[i], p[i], 1e-6f) << i;
  // Split <-> magnitude and phase, DC and Nyquist keeping imaginary parts.
  x[0] = -4.0f;
  y[0] = 3.0f;
  x[n / 2] = 0.0f;
  y[n / 2] = -2.0f;
  const std::vector<float> x0 = x, y0 = y;
  FFTnRC_xy2RF(&fft, x.data(), y.data(), R.data(), F.data());
  EXPECT_EQ(R[0], 5.0f);
  FFTnRC_RF2xy(&fft, R.data(), F.data(), x.data(), y.data());
  for (uint32 k = 0; k < bins; k++) {
    ASSERT_NEAR(x[k], x0[k], 1e-6f * (R[k] + 1.0f)) << k;
    ASSERT_NEAR(y[k], y0[k], 1e-6f * (R[k] + 1.0f)) << k;
  }
  for (float guard : {x[bins], y[bins], R[bins], F[bins], back[n]}) EXPECT_EQ(guard, kGuard);
}

// The engine's table follows the double-precision rule rounded once; the
// generated window follows its own single-precision steps.
TEST_P(Fft, WindowsAreExactHannWindowsThatAddUpToTwo) {
  const float* w = winTable32f + (n == 256 ? 0 : n == 512 ? 256 : 768);
  std::vector<float> own(n + 1, kGuard);
  FFTnRC_channing(n, own.data());
  for (uint32 i = 0; i < n; i++) {
    const float arg = ((float)i + 0.5f) * 6.2831855f / (float)n;
    ASSERT_EQ(own[i], 0.5f - 0.5f * (float)cos((double)arg)) << i;
    ASSERT_EQ(w[i], (float)(0.5 - 0.5 * cos(2.0 * kPi * (i + 0.5) / n))) << i;
    ASSERT_EQ(w[i], w[n - 1 - i]) << i;
    ASSERT_NEAR(own[i], w[i], 1e-6f) << i;
  }
  EXPECT_EQ(own[n], kGuard);
  // 75 % overlap: four windows shifted by a quarter frame sum to 2.
  for (uint32 i = 0; i < n / 4; i++) EXPECT_NEAR(w[i] + w[i + n / 4] + w[i + n / 2] + w[i + 3 * n / 4], 2.0f, 1e-6f);
  float one[2] = {kGuard, kGuard};
  FFTnRC_channing(0, one);
  EXPECT_EQ(one[0], kGuard);
  FFTnRC_channing(1, one);
  EXPECT_TRUE(one[0] == 1.0f && one[1] == kGuard);
}

}  // namespace
