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
const double kPi = 3.14159265358979323846;
const double kTableTol = 2.2e-7;  // stored value against the rule in double
const float kSentinel = 7.0f;     // marks entries an operation must not touch
const uint32 kSizes[] = {256, 512, 1024};

// A detector record with the steering vectors pre-filled with kSentinel.
std::unique_ptr<TsDirect10a> NewDetector(uint32 rate, uint32 nfft, float alfa, float angle) {
  std::unique_ptr<TsDirect10a> d(new TsDirect10a());
  for (uint32 m = 0; m < kMaxMics; m++)
    for (uint32 k = 0; k < kMaxBins; k++) d->reDirVec[m][k] = d->imDirVec[m][k] = kSentinel;
  sDirect10a_Init(d.get(), rate, nfft, alfa);
  sDirect10a_SetVectorDirect(d.get(), angle, 0.05f);
  return d;
}

// Every steering table through the vectors it loads: both microphone rows of
// each frame size's segment, the conjugate for negative angles (the phase of
// a 0.05 m pair at 343 m/s, top frequency 31.25 Hz * (bins - 1)), bin 0 and
// 0 degrees exactly 1 + 0j, nothing past the bins. The rate is the same for
// every size: the segment depends on the frame size only.
TEST(SteeringVectors, EveryAngleAndSizeFollowsThePhaseRule) {
  for (uint32 nfft : kSizes)
    for (int angle = -90; angle <= 90; angle += 5) {
      auto d = NewDetector(16000, nfft, 0.5f, (float)angle);
      const uint32 bins = nfft / 2 + 1;
      for (uint32 m = 0; m < kMaxMics; m++)
        for (uint32 k = 0; k < kMaxBins; k++) {
          const double phi = 2.0 * kPi * k * (31.25 * (bins - 1) / bins) * (0.05 / 343.0) * sin(angle * kPi / 180.0);
          const double tol = (angle == 0 || k == 0) ? 0.0 : kTableTol;
          ASSERT_NEAR(d->reDirVec[m][k], k < bins ? cos(phi) : kSentinel, tol) << angle << " deg " << nfft << ":" << k;
          ASSERT_NEAR(d->imDirVec[m][k], k < bins ? sin(phi) : kSentinel, tol) << angle << " deg " << nfft << ":" << k;
        }
    }
}

TEST(SteeringVectors, CheckValues) {
  const struct { float angle; uint32 bins, k; double re, im; } rows[] = {
      {90, 129, 1, 0.9995967, 0.0283967},   {90, 129, 128, -0.8805988, -0.4738625},
      {90, 257, 256, 0.5270816, 0.8498147}, {90, 513, 512, -0.4696783, 0.8828377},
      {45, 513, 512, -0.6078615, -0.7940431}, {30, 257, 100, 0.1447356, 0.9894704},
      {5, 129, 64, 0.9874783, 0.1577553}};
  for (const auto& r : rows) {
    auto d = NewDetector(16000, 2 * (r.bins - 1), 0.5f, r.angle);
    for (uint32 m = 0; m < kMaxMics; m++) {  // printed to 7 decimals
      EXPECT_NEAR(d->reDirVec[m][r.k], r.re, kTableTol + 5e-8) << r.angle << " deg, k " << r.k;
      EXPECT_NEAR(d->imDirVec[m][r.k], r.im, kTableTol + 5e-8) << r.angle << " deg, k " << r.k;
    }
  }
}

// Angles pick the table of the half-open interval (A - 2.5, A + 2.5]; outside
// (-92.5, 92.5] or NaN the previous vectors (45 degrees here) stay. The
// microphone distance has no effect.
TEST(SteeringVectors, AnglesQuantiseToHalfOpenIntervals) {
  const struct { float angle; int expected; } cases[] = {
      {2.5f, 0},     {-2.5f, -5},       {2.5000002f, 5}, {-2.4999998f, 0}, {87.5f, 85},  {92.5f, 90},
      {-87.5f, -90}, {-92.49999f, -90}, {-0.0f, 0},      {-17.5f, -20},    {62.6f, 65},  {-62.4f, -60},
      {-92.5f, 45},  {92.500008f, 45},  {100.0f, 45},    {-1000.0f, 45},   {NAN, 45},    {INFINITY, 45},
      {-INFINITY, 45}};
  for (const auto& c : cases) {
    auto got = NewDetector(16000, 512, 0.5f, 45.0f);
    sDirect10a_SetVectorDirect(got.get(), c.angle, 0.2f);
    auto want = NewDetector(16000, 512, 0.5f, (float)c.expected);
    EXPECT_EQ(0, memcmp(got->reDirVec, want->reDirVec, sizeof want->reDirVec)) << c.angle;
    EXPECT_EQ(0, memcmp(got->imDirVec, want->imDirVec, sizeof want->imDirVec)) << c.angle;
    EXPECT_TRUE(got->angelTetta == c.angle || (isnan(c.angle) && isnan(got->angelTetta)));
  }
}

// Random value that is never zero: magnitude in [1, 1000), either sign.
float NonZero(std::mt19937& rng) {
  std::uniform_real_distribution<float> mag(1.0f, 1000.0f);
  return (rng() & 1) ? mag(rng) : -mag(rng);
}

// Both microphones' spectra, channel-major with stride bins: microphone 0
// random and non-zero, microphone 1 = mic1(k, X0).
struct Spectra {
  template <typename F>
  Spectra(uint32 bins, std::mt19937& rng, F mic1) : M(bins), re(2 * bins), im(2 * bins) {
    for (uint32 k = 0; k < bins; k++) {
      const C x0(NonZero(rng), NonZero(rng)), x1 = mic1(k, x0);
      re[k] = x0.real(), im[k] = x0.imag(), re[M + k] = x1.real(), im[M + k] = x1.imag();
    }
  }
  C X(uint32 m, uint32 k) const { return {re[m * M + k], im[m * M + k]}; }
  uint32 M;
  std::vector<float> re, im;
};

void Detect(TsDirect10a* d, Spectra& s) { sDirect10a_Detect(d, s.re.data(), s.im.data()); }
C Gain(const TsDirect10a& d, uint32 k) { return {d.reWiener[k], d.imWiener[k]}; }

// The band starts at the bin nearest 615 Hz; below about 1226 Hz there is no
// band, and sDirect is 0 with finite gains.
TEST(Band, LowerBinAndEmptyBand) {
  const uint32 kEmpty = 0;
  const struct { uint32 rate, nfft, lower; } cases[] = {
      {8000, 256, 20}, {11025, 512, 29}, {16000, 512, 20}, {22050, 1024, 29}, {32000, 1024, 20},
      {1226, 256, 128}, {1225, 256, kEmpty}, {1000, 512, kEmpty}, {1, 1024, kEmpty}, {0, 256, kEmpty}};
  std::mt19937 rng(3);
  for (const auto& c : cases) {
    auto d = NewDetector(c.rate, c.nfft, 0.3f, 0.0f);
    const uint32 bins = c.nfft / 2 + 1;
    if (c.lower == kEmpty)
      EXPECT_GE(d->lower_fbin, bins) << c.rate;
    else
      EXPECT_EQ(d->lower_fbin, c.lower) << c.rate;
    for (int step = 0; step < 3; step++) {
      Spectra x(bins, rng, [](uint32, C x0) { return -x0; });
      Detect(d.get(), x);
      EXPECT_EQ(d->sDirect, c.lower == kEmpty ? 0.0f : -1.0f) << c.rate;
      for (uint32 k = 0; k < bins; k++) ASSERT_TRUE(isfinite(d->reWiener[k]) && isfinite(d->imWiener[k])) << k;
    }
  }
}

// Frame sizes at the engine's rates.
class Detection : public ::testing::TestWithParam<uint32> {
 protected:
  const uint32 nfft = GetParam(), bins = nfft / 2 + 1, rate = nfft * 125 / 4;  // 8000, 16000, 32000
  std::mt19937 rng{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Sizes, Detection, ::testing::ValuesIn(kSizes));

// X1 = factor * D * X0 (D the steering value of the look angle) frame after
// frame: sDirect is the sign of factor, the gain factor * conj(D) in every
// bin, and the filter applies it (also in place). Silent microphones
// (level 0) match with gain 0.
TEST_P(Detection, KnownSpectraGiveTheirDirectionAndGain) {
  const struct { const char* what; float angle, factor, level, sDirect; } cases[] = {
      {"identical", 0, 1, 1, 1},   {"opposite", 0, -1, 1, -1},  {"steered 45", 45, 1, 1, 1},
      {"endfire", 90, 1, 1, 1},    {"steered -30", -30, 1, 1, 1}, {"opposite at -60", -60, -1, 1, -1},
      {"silent", 0, 1, 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = NewDetector(rate, nfft, 0.3f, c.angle);
    auto D = [&](uint32 k) { return C(d->reDirVec[0][k], d->imDirVec[0][k]); };
    for (int step = 0; step < 6; step++) {
      Spectra x(bins, rng, [&](uint32 k, C x0) { return c.factor * D(k) * x0; });
      for (float& v : x.re) v *= c.level;
      for (float& v : x.im) v *= c.level;
      Detect(d.get(), x);
      EXPECT_NEAR(d->sDirect, c.sDirect, 1e-6f);
      for (uint32 k = 0; k < bins; k++)
        ASSERT_LE(std::abs(Gain(*d, k) - c.level * c.factor * conj(D(k))), 1e-5f * c.level) << k;
    }
    Spectra y(bins, rng, [](uint32, C x0) { return x0; }), w = y;
    sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), w.re.data(), w.im.data());
    for (uint32 k = 0; k < bins; k++)
      ASSERT_LE(std::abs(w.X(0, k) - y.X(0, k) * c.level * c.factor * conj(D(k))),
                2e-5f * c.level * std::abs(y.X(0, k))) << k;
    sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), y.re.data(), y.im.data());
    EXPECT_TRUE(y.re == w.re && y.im == w.im) << "in place";
  }
}

// Unrelated microphones: the gain is 2 * C / (P0 + P1) of the recursive
// averages (the latest frame alone for alfa 1), and sDirect the mean of the
// cosine of the steered cross-spectrum's phase, arg(C * D), over the band
// only: bins below lower_fbin never change it.
TEST_P(Detection, FollowsTheRecursiveAverages) {
  typedef std::complex<double> Cd;
  for (float alfa : {1.0f, 0.4f}) {
    auto d = NewDetector(rate, nfft, alfa, -35.0f);
    std::vector<double> P0(bins, 0.0), P1(bins, 0.0);
    std::vector<Cd> Cx(bins, 0.0);
    for (int step = 0; step < 4; step++) {
      Spectra x(bins, rng, [&](uint32, C) { return C(NonZero(rng), NonZero(rng)); });
      Detect(d.get(), x);
      double cosines = 0.0;
      for (uint32 k = 0; k < bins; k++) {
        const Cd x0 = x.X(0, k), x1 = x.X(1, k);
        P0[k] = alfa * norm(x0) + (1.0 - alfa) * P0[k];
        P1[k] = alfa * norm(x1) + (1.0 - alfa) * P1[k];
        Cx[k] = (double)alfa * x0 * conj(x1) + (1.0 - alfa) * Cx[k];
        const Cd g = 2.0 * Cx[k] / (P0[k] + P1[k]);
        ASSERT_LE(std::abs(Cd(Gain(*d, k)) - g), 1e-5) << "alfa " << alfa << ", bin " << k;
        if (k >= d->lower_fbin) cosines += cos(arg(Cx[k] * Cd(d->reDirVec[0][k], d->imDirVec[0][k])));
      }
      EXPECT_NEAR(d->sDirect, cosines / (bins - d->lower_fbin), 1e-5) << "alfa " << alfa;
    }
  }
}

// The filter passes spectra unchanged before the first detection and after a
// reset, from which the detector runs as a fresh one.
TEST_P(Detection, ResetStartsAfresh) {
  auto d = NewDetector(rate, nfft, 0.5f, 25.0f), fresh = NewDetector(rate, nfft, 0.5f, 25.0f);
  auto passes = [&]() {  // filters the first half of y into the second
    Spectra y(bins, rng, [](uint32, C) { return C(0.0f, 0.0f); });
    sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), y.re.data() + bins, y.im.data() + bins);
    return std::equal(y.re.begin(), y.re.begin() + bins, y.re.begin() + bins) &&
           std::equal(y.im.begin(), y.im.begin() + bins, y.im.begin() + bins);
  };
  auto random = [&](uint32, C x0) { return x0 * NonZero(rng); };
  EXPECT_TRUE(passes());
  for (int step = 0; step < 3; step++) {
    Spectra x(bins, rng, random);
    Detect(d.get(), x);
  }
  sDirect10a_Reset(d.get());
  EXPECT_EQ(d->sDirect, 0.0f);
  EXPECT_TRUE(passes());
  Spectra x(bins, rng, random);
  Detect(d.get(), x);
  Detect(fresh.get(), x);
  EXPECT_EQ(d->sDirect, fresh->sDirect);
  EXPECT_EQ(0, memcmp(d->reWiener, fresh->reWiener, bins * sizeof(float)));
  EXPECT_EQ(0, memcmp(d->imWiener, fresh->imWiener, bins * sizeof(float)));
}

}  // namespace
