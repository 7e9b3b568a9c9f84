// Packed real FFT's edges: the phase rule, the spectrum conversions at DC and
// Nyquist, the windows, and no write past the bins. The transform's arithmetic
// itself is pinned bit for bit by the reference vectors at every frame size.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "FFTnrc.h"
#include "micarray_core.h"

namespace {

const float kGuard = -7.0f;  // entries past the end that no call may write

class Fft : public ::testing::TestWithParam<uint32> {
 protected:
  void SetUp() override { FFTnRC_Init(&fft, n); }
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
