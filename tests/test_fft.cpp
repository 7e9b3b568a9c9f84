// Packed real FFT: known transform pairs both ways, the round trip, the phase
// rule, the spectrum conversions and the windows.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "FFTnrc.h"
#include "micarray_core.h"

namespace {

const double kPi = 3.14159265358979323846;
const float kLevel = 3.25f;  // amplitude of the constant and alternating frames
const float kGuard = -7.0f;  // entries past the end that no call may write

class Fft : public ::testing::TestWithParam<uint32> {
 protected:
  void SetUp() override { FFTnRC_Init(&fft, n); }
  std::vector<float> Transform(std::vector<float> v, int isign) {
    FFTnRC_fft(&fft, v.data(), isign);
    return v;
  }
  std::vector<float> RandomFrame(unsigned seed) const {
    std::mt19937 gen(seed);
    std::vector<float> v(n);
    for (float& x : v) x = std::uniform_real_distribution<float>(-1.0f, 1.0f)(gen);
    return v;
  }
  const uint32 n = GetParam(), bins = n / 2 + 1;
  TFFTnRC fft;
};

INSTANTIATE_TEST_SUITE_P(Lengths, Fft, ::testing::Values(256u, 512u, 1024u));

// Frames of a single component and their packed spectra (DC, Nyquist, then
// re/im pairs), both ways; impulse, constant and alternating are exact.
TEST_P(Fft, KnownPairsForwardAndInverse) {
  const char* const kinds[] = {"impulse", "constant", "alternating", "cosine", "sine"};
  const uint32 tones[] = {1, 3, n / 8, n / 4 - 1, n / 4, n / 4 + 1, n / 2 - 1};
  for (int kind = 0; kind < 5; kind++)
    for (uint32 k0 : tones) {
      if (kind < 3 && k0 != tones[0]) continue;  // no bin to vary
      SCOPED_TRACE(testing::Message() << kinds[kind] << " bin " << k0);
      std::vector<float> x(n), p(n, 0.0f);
      for (uint32 i = 0; i < n; i++) {
        const double a = 2.0 * kPi * k0 * i / n;
        const float xs[] = {i == 0 ? 1.0f : 0.0f, kLevel, (i & 1) ? -kLevel : kLevel, (float)cos(a), (float)sin(a)};
        x[i] = xs[kind];
        p[i] = kind == 0 && (i % 2 == 0 || i == 1) ? 1.0f : 0.0f;  // flat, DC and Nyquist too
      }
      const uint32 at[] = {0, 0, 1, 2 * k0, 2 * k0 + 1};
      const float value[] = {1.0f, n * kLevel, n * kLevel, n / 2.0f, -(n / 2.0f)};
      p[at[kind]] = value[kind];
      const float tol = kind < 3 ? 0.0f : 1e-5f;
      const std::vector<float> q = Transform(x, 1), y = Transform(p, -1);
      for (uint32 i = 0; i < n; i++) ASSERT_NEAR(q[i], p[i], tol * n) << "float " << i;
      for (uint32 i = 0; i < n; i++) ASSERT_NEAR(y[i], x[i], tol) << "sample " << i;
    }
}

TEST_P(Fft, ForwardThenInverseRoundTrips) {
  const std::vector<float> x = RandomFrame(1), back = Transform(Transform(x, 1), -1);
  for (uint32 i = 0; i < n; i++) ASSERT_NEAR(back[i], x[i], 2e-6f) << "sample " << i;
}

// Phase rule: (re, im) -> radians in [-pi/2, 3pi/2), a zero real part giving
// +-pi/2; each case at both ends of the bins (first and last lanes).
TEST_P(Fft, PhaseRuleValues) {
  const float rows[][3] = {{0.0f, 0.0f, -1.5707964f},  {0.0f, 1.0f, 1.5707964f},   {0.0f, -1.0f, -1.5707964f},
                           {-0.0f, 2.0f, 1.5707964f},  {-2.0f, 0.0f, 3.1415927f},  {-1.0f, -1.0f, 3.9269909f},
                           {1.0f, -1.0f, -0.78539819f}, {4.0f, 0.0f, 0.0f}};
  std::vector<float> x(bins, 1.0f), y(bins, 0.0f), F(bins);
  for (uint32 i = 0; i < 8; i++) x[i] = x[n / 2 - i] = rows[i][0], y[i] = y[n / 2 - i] = rows[i][1];
  FFTnRC_xy2F(&fft, x.data(), y.data(), F.data());
  for (uint32 i = 0; i < 8; i++)
    EXPECT_TRUE(F[i] == rows[i][2] && F[n / 2 - i] == rows[i][2]) << rows[i][0] << ", " << rows[i][1];
}

TEST_P(Fft, ConversionsRoundTripAndStayInTheirBins) {
  std::vector<float> p = RandomFrame(5), back(n + 1, kGuard);
  p[0] = -2.5f;  // a negative DC: magnitude 2.5, phase pi
  std::vector<float> x(bins + 1, kGuard), y = x, R = x, F = x;
  // Packed <-> split: DC and Nyquist are real, their imaginary parts not packed.
  FFTnRC_fftbuf2xy(&fft, p.data(), x.data(), y.data());
  EXPECT_TRUE(x[0] == p[0] && x[n / 2] == p[1] && y[0] == 0.0f && y[n / 2] == 0.0f);
  y[0] = 9.0f, y[n / 2] = -9.0f;
  FFTnRC_xy2fftbuf(&fft, x.data(), y.data(), back.data());
  EXPECT_TRUE(std::equal(p.begin(), p.end(), back.begin()));
  // Packed <-> magnitude and phase.
  FFTnRC_fftbuf2RF(&fft, p.data(), R.data(), F.data());
  EXPECT_TRUE(R[0] == 2.5f && F[0] == 3.1415927f && R[n / 2] == fabsf(p[1]));
  FFTnRC_RF2fftbuf(&fft, R.data(), F.data(), back.data());
  for (uint32 i = 0; i < n; i++) ASSERT_NEAR(back[i], p[i], 1e-6f) << i;
  // Split <-> magnitude and phase, DC and Nyquist keeping imaginary parts.
  x[0] = -4.0f, y[0] = 3.0f, x[n / 2] = 0.0f, y[n / 2] = -2.0f;
  const std::vector<float> x0 = x, y0 = y;
  FFTnRC_xy2RF(&fft, x.data(), y.data(), R.data(), F.data());
  EXPECT_EQ(R[0], 5.0f);
  FFTnRC_RF2xy(&fft, R.data(), F.data(), x.data(), y.data());
  for (uint32 k = 0; k < bins; k++)
    ASSERT_LE(std::abs(std::complex<float>(x[k] - x0[k], y[k] - y0[k])), 1e-6f * (R[k] + 1.0f)) << k;
  for (float guard : {x[bins], y[bins], R[bins], F[bins], back[n]}) EXPECT_EQ(guard, kGuard);
}

// Four of the engine's windows add up to 2 at 75 % overlap, so overlap-add returns the frame
// at a known gain; the generated window is the same one (each value within a few ulps of the
// table, rounded its own way) and writes its n values only.
TEST_P(Fft, WindowsAddUpToTwoAtThreeQuartersOverlap) {
  const float* w = winTable32f + (n == 256 ? 0 : n == 512 ? 256 : 768);
  std::vector<float> own(n + 1, kGuard);
  FFTnRC_channing(n, own.data());
  for (uint32 i = 0; i < n; i++) ASSERT_NEAR(own[i], w[i], 3e-7f) << i;
  EXPECT_EQ(own[n], kGuard);
  for (uint32 i = 0; i < n / 4; i++)
    EXPECT_NEAR(w[i] + w[i + n / 4] + w[i + n / 2] + w[i + 3 * n / 4], 2.0f, 1e-6f) << i;
}

}  // namespace
