// Direction detector: the steering vectors it loads, the direction band, and
// the direction-match value and coherence gain on spectra whose answer is known.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "sdirect10a.h"

namespace {

typedef std::complex<float> C;
typedef std::complex<double> Cd;
const double kPi = 3.14159265358979323846;
const float kSentinel = 7.0f;     // marks entries an operation must not touch
const uint32 kSizes[] = {256, 512, 1024};

// A detector record with the steering vectors pre-filled with kSentinel.
std::unique_ptr<TsDirect10a> NewDetector(uint32 rate, uint32 nfft, float alfa, float angle) {
  std::unique_ptr<TsDirect10a> d(new TsDirect10a());
  for (float* v : {&d->reDirVec[0][0], &d->imDirVec[0][0]}) std::fill_n(v, kMaxMics * kMaxBins, kSentinel);
  sDirect10a_Init(d.get(), rate, nfft, alfa);
  sDirect10a_SetVectorDirect(d.get(), angle, 0.05f);
  return d;
}

// Both rows of every segment: the phase of a 0.05 m pair at 343 m/s (conjugate
// below 0 degrees, exact at bin 0 and 0 degrees, nothing past the bins).
TEST(SteeringVectors, EveryAngleAndSizeFollowsThePhaseRule) {
  const struct { int angle; uint32 bins, k; double re, im; } checks[] = {
      {90, 129, 1, 0.9995967, 0.0283967},   {90, 129, 128, -0.8805988, -0.4738625},
      {90, 257, 256, 0.5270816, 0.8498147}, {90, 513, 512, -0.4696783, 0.8828377},
      {45, 513, 512, -0.6078615, -0.7940431}, {30, 257, 100, 0.1447356, 0.9894704},
      {5, 129, 64, 0.9874783, 0.1577553}};
  for (const auto& c : checks) {  // printed to 7 decimals
    auto d = NewDetector(16000, 2 * (c.bins - 1), 0.5f, (float)c.angle);
    EXPECT_LE(std::abs(Cd(d->reDirVec[0][c.k], d->imDirVec[0][c.k]) - Cd(c.re, c.im)), 3e-7) << c.angle << ":" << c.k;
  }
  for (uint32 nfft : kSizes)
    for (int angle = -90; angle <= 90; angle += 5) {
      auto d = NewDetector(16000, nfft, 0.5f, (float)angle);
      const uint32 bins = nfft / 2 + 1;
      for (uint32 m = 0; m < kMaxMics; m++)
        for (uint32 k = 0; k < kMaxBins; k++) {
          const double phi = 2.0 * kPi * k * (31.25 * (bins - 1) / bins) * (0.05 / 343.0) * sin(angle * kPi / 180.0);
          const double tol = (angle == 0 || k == 0) ? 0.0 : 2.2e-7;  // the rule rounded to float
          const Cd want = k < bins ? std::polar(1.0, phi) : Cd(kSentinel, kSentinel);
          ASSERT_LE(std::abs(Cd(d->reDirVec[m][k], d->imDirVec[m][k]) - want), tol) << angle << "/" << nfft << ":" << k;
        }
    }
}

// Angles pick (A - 2.5, A + 2.5]; beyond +-92.5 or NaN the vectors stay; Dom is ignored.
TEST(SteeringVectors, AnglesQuantiseToHalfOpenIntervals) {
  const struct { float angle; int expected; } cases[] = {
      {2.5f, 0},   {-2.5f, -5},   {2.5000002f, 5},    {-2.4999998f, 0},  {87.5f, 85}, {92.5f, 90},
      {-0.0f, 0},  {62.6f, 65},   {-62.4f, -60},      {-92.49999f, -90}, {-92.5f, 45}, {92.500008f, 45},
      {100.0f, 45}, {NAN, 45}, {-INFINITY, 45}};
  for (const auto& c : cases) {
    auto got = NewDetector(16000, 512, 0.5f, 45.0f);
    sDirect10a_SetVectorDirect(got.get(), c.angle, 0.2f);
    auto want = NewDetector(16000, 512, 0.5f, (float)c.expected);
    EXPECT_EQ(0, memcmp(got->reDirVec, want->reDirVec, sizeof want->reDirVec)) << c.angle;
    EXPECT_EQ(0, memcmp(got->imDirVec, want->imDirVec, sizeof want->imDirVec)) << c.angle;
  }
}

float NonZero(std::mt19937& rng) {
  std::uniform_real_distribution<float> mag(1.0f, 1000.0f);
  return (rng() & 1) ? mag(rng) : -mag(rng);
}

// Channel-major spectra: X0 random non-zero times level, X1 = mic1(k, X0).
struct Spectra {
  template <typename F>
  Spectra(uint32 bins, std::mt19937& rng, F mic1, float level = 1.0f) : re(2 * bins), im(2 * bins) {
    for (uint32 k = 0; k < bins; k++) {
      const C x0 = level * C(NonZero(rng), NonZero(rng)), x1 = mic1(k, x0);
      re[k] = x0.real(), im[k] = x0.imag(), re[bins + k] = x1.real(), im[bins + k] = x1.imag();
    }
  }
  C X(uint32 m, uint32 k) const { return {re[m * re.size() / 2 + k], im[m * re.size() / 2 + k]}; }
  std::vector<float> re, im;
};

void Detect(TsDirect10a* d, Spectra s) { sDirect10a_Detect(d, s.re.data(), s.im.data()); }
C Gain(const TsDirect10a& d, uint32 k) { return {d.reWiener[k], d.imWiener[k]}; }

// The band starts at the bin nearest 615 Hz; an empty one gives sDirect 0.
TEST(Band, LowerBinAndEmptyBand) {
  const uint32 kEmpty = 0;
  const struct { uint32 rate, nfft, lower; } cases[] = {
      {8000, 256, 20}, {11025, 512, 29}, {16000, 512, 20}, {22050, 1024, 29}, {32000, 1024, 20},
      {1226, 256, 128}, {1225, 256, kEmpty}, {1000, 512, kEmpty}, {1, 1024, kEmpty}, {0, 256, kEmpty}};
  std::mt19937 rng(3);
  for (const auto& c : cases) {
    auto d = NewDetector(c.rate, c.nfft, 0.3f, 0.0f);
    const uint32 bins = c.nfft / 2 + 1;
    EXPECT_TRUE(c.lower == kEmpty ? d->lower_fbin >= bins : d->lower_fbin == c.lower) << c.rate;
    Detect(d.get(), Spectra(bins, rng, [](uint32, C x0) { return -x0; }));
    EXPECT_EQ(d->sDirect, c.lower == kEmpty ? 0.0f : -1.0f) << c.rate;
    for (uint32 k = 0; k < bins; k++) ASSERT_TRUE(isfinite(d->reWiener[k]) && isfinite(d->imWiener[k])) << k;
  }
}

class Detection : public ::testing::TestWithParam<uint32> {
 protected:
  const uint32 nfft = GetParam(), bins = nfft / 2 + 1, rate = nfft * 125 / 4;  // 8000, 16000, 32000
  std::mt19937 rng{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Sizes, Detection, ::testing::ValuesIn(kSizes));

// X1 = factor * D * X0 (D steering the look angle): sDirect is the sign of
// factor, the gain factor * conj(D) (0 if silent), applied by the filter in place.
TEST_P(Detection, KnownSpectraGiveTheirDirectionAndGain) {
  const struct { float angle, factor, level, sDirect; } cases[] = {
      {0, 1, 1, 1}, {0, -1, 1, -1}, {45, 1, 1, 1}, {90, 1, 1, 1}, {-30, 1, 1, 1}, {-60, -1, 1, -1}, {0, 1, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.angle << " deg, factor " << c.factor << ", level " << c.level);
    auto d = NewDetector(rate, nfft, 0.3f, c.angle);
    auto D = [&](uint32 k) { return C(d->reDirVec[0][k], d->imDirVec[0][k]); };
    for (int step = 0; step < 6; step++) {
      Detect(d.get(), Spectra(bins, rng, [&](uint32 k, C x0) { return c.factor * D(k) * x0; }, c.level));
      EXPECT_NEAR(d->sDirect, c.sDirect, 1e-6f);
      for (uint32 k = 0; k < bins; k++)
        ASSERT_LE(std::abs(Gain(*d, k) - c.level * c.factor * conj(D(k))), 1e-5f * c.level) << k;
    }
    Spectra y(bins, rng, [](uint32, C x0) { return x0; }), x = y;
    sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), y.re.data(), y.im.data());
    for (uint32 k = 0; k < bins; k++)
      ASSERT_LE(std::abs(y.X(0, k) - x.X(0, k) * Gain(*d, k)), 1e-6f * std::abs(x.X(0, k))) << k;
  }
}

// Gain 2 * C / (P0 + P1) of the recursive averages, sDirect the mean cos(arg(C * D))
// over the band only; sDirect 0 and gain 1 + 0j until a detection, also after a reset.
TEST_P(Detection, FollowsTheRecursiveAveragesFromAReset) {
  for (float alfa : {1.0f, 0.4f}) {  // 1: the latest frame alone
    auto d = NewDetector(rate, nfft, alfa, -35.0f);
    std::vector<Cd> P0, P1, Cx;  // recursive averages of |X0|^2, |X1|^2, X0 conj(X1)
    for (int step = 0; step < 6; step++) {
      if (step == 3) sDirect10a_Reset(d.get());
      if (step % 3 == 0) {
        P0.assign(bins, 0.0), P1.assign(bins, 0.0), Cx.assign(bins, 0.0);
        EXPECT_EQ(d->sDirect, 0.0f);
        for (uint32 k = 0; k < bins; k++) ASSERT_EQ(Gain(*d, k), C(1.0f, 0.0f)) << k;
      }
      Spectra x(bins, rng, [&](uint32, C) { return C(NonZero(rng), NonZero(rng)); });
      Detect(d.get(), x);
      double cosines = 0.0;
      for (uint32 k = 0; k < bins; k++) {
        const Cd x0 = x.X(0, k), x1 = x.X(1, k);
        P0[k] = alfa * norm(x0) + (1.0 - alfa) * P0[k];
        P1[k] = alfa * norm(x1) + (1.0 - alfa) * P1[k];
        Cx[k] = (double)alfa * x0 * conj(x1) + (1.0 - alfa) * Cx[k];
        ASSERT_LE(std::abs(Cd(Gain(*d, k)) - 2.0 * Cx[k] / (P0[k] + P1[k])), 1e-5) << "alfa " << alfa << ", bin " << k;
        if (k >= d->lower_fbin) cosines += cos(arg(Cx[k] * Cd(d->reDirVec[0][k], d->imDirVec[0][k])));
      }
      EXPECT_NEAR(d->sDirect, cosines / (bins - d->lower_fbin), 1e-5) << "alfa " << alfa;
    }
  }
}

}  // namespace
