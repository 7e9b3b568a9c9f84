// Direction detector: steering tables, set-up, the direction-match value and
// the coherence gain on spectra whose answer is known.
#include <gtest/gtest.h>
#include <math.h>

#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "sdirect10a.h"

namespace {

// Steering tables by look angle / 5.
struct TabPair {
  const float* re;
  const float* im;
};
const TabPair kTabs[] = {
    {reDirVecAng00_tab32f, imDirVecAng00_tab32f}, {reDirVecAng05_tab32f, imDirVecAng05_tab32f},
    {reDirVecAng10_tab32f, imDirVecAng10_tab32f}, {reDirVecAng15_tab32f, imDirVecAng15_tab32f},
    {reDirVecAng20_tab32f, imDirVecAng20_tab32f}, {reDirVecAng25_tab32f, imDirVecAng25_tab32f},
    {reDirVecAng30_tab32f, imDirVecAng30_tab32f}, {reDirVecAng35_tab32f, imDirVecAng35_tab32f},
    {reDirVecAng40_tab32f, imDirVecAng40_tab32f}, {reDirVecAng45_tab32f, imDirVecAng45_tab32f},
    {reDirVecAng50_tab32f, imDirVecAng50_tab32f}, {reDirVecAng55_tab32f, imDirVecAng55_tab32f},
    {reDirVecAng60_tab32f, imDirVecAng60_tab32f}, {reDirVecAng65_tab32f, imDirVecAng65_tab32f},
    {reDirVecAng70_tab32f, imDirVecAng70_tab32f}, {reDirVecAng75_tab32f, imDirVecAng75_tab32f},
    {reDirVecAng80_tab32f, imDirVecAng80_tab32f}, {reDirVecAng85_tab32f, imDirVecAng85_tab32f},
    {reDirVecAng90_tab32f, imDirVecAng90_tab32f},
};
const int kAngles = 19;

// Frame sizes: bins and start of their segment in every table.
struct Segment {
  uint32 nfft, bins, start;
};
const Segment kSegments[] = {{256, 129, 0}, {512, 257, 258}, {1024, 513, 772}};

const double kPi = 3.14159265358979323846;
const double kTableTol = 2.2e-7;  // stored value against the rule in double
const float kSentinel = 7.0f;     // marks entries an operation must not touch

// Phase of a 0.05 m pair (343 m/s) for a source at angle degrees, bin k of bins.
double SteeringPhase(int angle, uint32 bins, uint32 k) {
  const double top = 31.25 * (bins - 1);  // 4000, 8000 or 16000 Hz
  return 2.0 * kPi * k * (top / bins) * (0.05 / 343.0) * sin(angle * kPi / 180.0);
}

TEST(SteeringTables, EveryValueFollowsTheRule) {
  for (int a = 0; a < kAngles; a++)
    for (const Segment& s : kSegments)
      for (uint32 m = 0; m < 2; m++)
        for (uint32 k = 0; k < s.bins; k++) {
          const uint32 i = s.start + m * s.bins + k;
          const double phi = SteeringPhase(5 * a, s.bins, k);
          ASSERT_NEAR(kTabs[a].re[i], cos(phi), kTableTol) << 5 * a << " deg, bins " << s.bins << ", k " << k;
          ASSERT_NEAR(kTabs[a].im[i], sin(phi), kTableTol) << 5 * a << " deg, bins " << s.bins << ", k " << k;
        }
}

TEST(SteeringTables, SegmentsOfBothMicrophonesAreEqual) {
  for (int a = 0; a < kAngles; a++)
    for (const Segment& s : kSegments)
      for (uint32 k = 0; k < s.bins; k++) {
        ASSERT_EQ(kTabs[a].re[s.start + k], kTabs[a].re[s.start + s.bins + k]);
        ASSERT_EQ(kTabs[a].im[s.start + k], kTabs[a].im[s.start + s.bins + k]);
      }
}

TEST(SteeringTables, DcAndBroadsideAreExactlyOne) {
  for (int a = 0; a < kAngles; a++)
    for (const Segment& s : kSegments)
      for (uint32 m = 0; m < 2; m++)
        for (uint32 k = 0; k < s.bins; k++) {
          if (a != 0 && k != 0) continue;
          const uint32 i = s.start + m * s.bins + k;
          ASSERT_EQ(kTabs[a].re[i], 1.0f) << 5 * a << " deg, bins " << s.bins << ", k " << k;
          ASSERT_EQ(kTabs[a].im[i], 0.0f) << 5 * a << " deg, bins " << s.bins << ", k " << k;
        }
}

struct CheckValue {
  int angle;
  uint32 bins, k;
  double re, im;
};

class SteeringCheckValue : public ::testing::TestWithParam<CheckValue> {};

TEST_P(SteeringCheckValue, Matches) {
  // The check values are printed to 7 decimals: half a unit of the last
  // digit on top of the table tolerance.
  const double tol = kTableTol + 5e-8;
  const CheckValue& c = GetParam();
  uint32 start = 0;
  for (const Segment& s : kSegments)
    if (s.bins == c.bins) start = s.start;
  for (uint32 m = 0; m < 2; m++) {
    EXPECT_NEAR(kTabs[c.angle / 5].re[start + m * c.bins + c.k], c.re, tol);
    EXPECT_NEAR(kTabs[c.angle / 5].im[start + m * c.bins + c.k], c.im, tol);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SteeringCheckValue,
                         ::testing::Values(CheckValue{90, 129, 1, 0.9995967, 0.0283967},
                                           CheckValue{90, 129, 128, -0.8805988, -0.4738625},
                                           CheckValue{90, 257, 256, 0.5270816, 0.8498147},
                                           CheckValue{90, 513, 512, -0.4696783, 0.8828377},
                                           CheckValue{45, 513, 512, -0.6078615, -0.7940431},
                                           CheckValue{30, 257, 100, 0.1447356, 0.9894704},
                                           CheckValue{5, 129, 64, 0.9874783, 0.1577553}));

// A detector record with every array pre-filled with kSentinel.
std::unique_ptr<TsDirect10a> NewDetector(uint32 rate, uint32 nfft, float alfa, float angle) {
  std::unique_ptr<TsDirect10a> d(new TsDirect10a());
  for (uint32 m = 0; m < kMaxMics; m++)
    for (uint32 k = 0; k < kMaxBins; k++) d->reDirVec[m][k] = d->imDirVec[m][k] = kSentinel;
  for (float& v : d->micPw) v = kSentinel;
  sDirect10a_Init(d.get(), rate, nfft, alfa);
  sDirect10a_SetVectorDirect(d.get(), angle, 0.05f);
  return d;
}

// Both microphones' spectra, channel-major with stride bins.
struct Spectra {
  explicit Spectra(uint32 bins) : M(bins), re(2 * bins), im(2 * bins) {}
  std::complex<float> X(uint32 m, uint32 k) const { return {re[m * M + k], im[m * M + k]}; }
  void Set(uint32 m, uint32 k, std::complex<float> v) {
    re[m * M + k] = v.real();
    im[m * M + k] = v.imag();
  }
  uint32 M;
  std::vector<float> re, im;
};

// Random value that is never zero: magnitude in [1, 1000), either sign.
float NonZero(std::mt19937& rng) {
  std::uniform_real_distribution<float> mag(1.0f, 1000.0f);
  return (rng() & 1) ? mag(rng) : -mag(rng);
}

// Microphone 0 random and non-zero; microphone 1 = f(k, X0).
template <typename F>
Spectra Make(uint32 bins, std::mt19937& rng, F mic1) {
  Spectra s(bins);
  for (uint32 k = 0; k < bins; k++) {
    const std::complex<float> x0(NonZero(rng), NonZero(rng));
    s.Set(0, k, x0);
    s.Set(1, k, mic1(k, x0));
  }
  return s;
}

void Detect(TsDirect10a* d, Spectra& s) { sDirect10a_Detect(d, s.re.data(), s.im.data()); }

std::complex<float> Gain(const TsDirect10a& d, uint32 k) { return {d.reWiener[k], d.imWiener[k]}; }

class SetVector : public ::testing::TestWithParam<Segment> {};

TEST_P(SetVector, BroadsideGivesUnitVectorsAndSegmentOffset) {
  const Segment& s = GetParam();
  auto d = NewDetector(16000, s.nfft, 0.5f, 0.0f);
  EXPECT_EQ((uint32)d->offet_sd, s.start);
  EXPECT_EQ(d->angelTetta, 0.0f);
  for (uint32 m = 0; m < 2; m++)
    for (uint32 k = 0; k < kMaxBins; k++) {
      ASSERT_EQ(d->reDirVec[m][k], k < s.bins ? 1.0f : kSentinel);
      ASSERT_EQ(d->imDirVec[m][k], k < s.bins ? 0.0f : kSentinel);
    }
}

// Rows equal the table of |expected| degrees, conjugated for negative angles.
void ExpectVectors(const TsDirect10a& d, const Segment& s, int expected) {
  const TabPair& t = kTabs[abs(expected) / 5];
  const float sign = expected < 0 ? -1.0f : 1.0f;
  for (uint32 m = 0; m < 2; m++)
    for (uint32 k = 0; k < s.bins; k++) {
      ASSERT_EQ(d.reDirVec[m][k], t.re[s.start + m * s.bins + k]) << "row " << m << ", k " << k;
      ASSERT_EQ(d.imDirVec[m][k], sign * t.im[s.start + m * s.bins + k]) << "row " << m << ", k " << k;
    }
}

TEST_P(SetVector, QuantisesToHalfOpenIntervals) {
  const struct {
    float angle;
    int expected;
  } cases[] = {{2.5f, 0},      {-2.5f, -5},   {2.5000002f, 5}, {-2.4999998f, 0}, {87.5f, 85},
               {92.5f, 90},    {-87.5f, -90}, {-92.49999f, -90}, {44.9f, 45},    {-0.0f, 0},
               {-17.5f, -20},  {62.6f, 65},   {-62.4f, -60}};
  const Segment& s = GetParam();
  auto d = NewDetector(16000, s.nfft, 0.5f, 0.0f);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.angle);
    sDirect10a_SetVectorDirect(d.get(), c.angle, 0.05f);
    EXPECT_EQ(d->angelTetta, c.angle);
    ExpectVectors(*d, s, c.expected);
  }
}

TEST_P(SetVector, AngleOutsideEveryIntervalKeepsTheVectors) {
  const float cases[] = {-92.5f, 92.500008f, 100.0f, -1000.0f, NAN, INFINITY, -INFINITY};
  const Segment& s = GetParam();
  for (float angle : cases) {
    SCOPED_TRACE(angle);
    auto d = NewDetector(16000, s.nfft, 0.5f, 45.0f);
    d->offet_sd = -1;
    sDirect10a_SetVectorDirect(d.get(), angle, 0.05f);
    ExpectVectors(*d, s, 45);
    EXPECT_EQ((uint32)d->offet_sd, s.start);
    if (isnan(angle))
      EXPECT_TRUE(isnan(d->angelTetta));
    else
      EXPECT_EQ(d->angelTetta, angle);
  }
}

TEST_P(SetVector, MicrophoneDistanceHasNoEffect) {
  const Segment& s = GetParam();
  auto a = NewDetector(16000, s.nfft, 0.5f, 0.0f);
  auto b = NewDetector(16000, s.nfft, 0.5f, 0.0f);
  sDirect10a_SetVectorDirect(a.get(), 35.0f, 0.05f);
  sDirect10a_SetVectorDirect(b.get(), 35.0f, 0.2f);
  EXPECT_EQ(0, memcmp(a->reDirVec, b->reDirVec, sizeof a->reDirVec));
  EXPECT_EQ(0, memcmp(a->imDirVec, b->imDirVec, sizeof a->imDirVec));
}

INSTANTIATE_TEST_SUITE_P(Sizes, SetVector, ::testing::ValuesIn(kSegments));

TEST(SetVector, EndfireCheckValueAndItsConjugate) {
  auto d = NewDetector(8000, 256, 0.5f, 90.0f);
  EXPECT_NEAR(d->reDirVec[0][1], 0.9995967, 2e-7);
  EXPECT_NEAR(d->imDirVec[0][1], 0.0283967, 2e-7);
  sDirect10a_SetVectorDirect(d.get(), -90.0f, 0.05f);
  EXPECT_NEAR(d->reDirVec[0][1], 0.9995967, 2e-7);
  EXPECT_NEAR(d->imDirVec[0][1], -0.0283967, 2e-7);
}

TEST(SetVector, SameFrameSizeSameVectorsWhateverTheRate) {
  auto a = NewDetector(11025, 512, 0.5f, 30.0f);
  auto b = NewDetector(16000, 512, 0.5f, 30.0f);
  EXPECT_EQ(0, memcmp(a->reDirVec, b->reDirVec, sizeof a->reDirVec));
  EXPECT_EQ(0, memcmp(a->imDirVec, b->imDirVec, sizeof a->imDirVec));
  EXPECT_EQ(a->lower_fbin, 29u);
  EXPECT_EQ(b->lower_fbin, 20u);
}

struct BandCase {
  uint32 rate, nfft, lower;
};

class Band : public ::testing::TestWithParam<BandCase> {};

TEST_P(Band, StartsAtTheBinNearest615Hz) {
  const BandCase& c = GetParam();
  auto d = NewDetector(c.rate, c.nfft, 0.5f, 0.0f);
  EXPECT_EQ(d->maxFbin, c.nfft / 2 + 1);
  EXPECT_EQ(d->upper_fbin, d->maxFbin);
  EXPECT_EQ(d->lower_fbin, c.lower);
  EXPECT_EQ(d->SamplingRate, c.rate);
  EXPECT_EQ(d->alfa, 0.5f);
}

INSTANTIATE_TEST_SUITE_P(EngineRates, Band,
                         ::testing::Values(BandCase{8000, 256, 20}, BandCase{11025, 512, 29},
                                           BandCase{16000, 512, 20}, BandCase{22050, 1024, 29},
                                           BandCase{32000, 1024, 20}));

// Rates without a direction band: sDirect is 0 and nothing turns NaN.
class EmptyBand : public ::testing::TestWithParam<uint32> {};

TEST_P(EmptyBand, GivesZeroDirectionAndFiniteStatistics) {
  std::mt19937 rng(GetParam());
  for (const Segment& s : kSegments) {
    auto d = NewDetector(GetParam(), s.nfft, 0.3f, 0.0f);
    EXPECT_GE(d->lower_fbin, d->upper_fbin);
    for (int step = 0; step < 4; step++) {
      Spectra x = Make(s.bins, rng, [&](uint32, std::complex<float>) {
        return std::complex<float>(NonZero(rng), NonZero(rng));
      });
      Detect(d.get(), x);
      EXPECT_EQ(d->sDirect, 0.0f);
      EXPECT_EQ(d->sDirect2re, 0.0f);
      for (uint32 k = 0; k < s.bins; k++) {
        ASSERT_TRUE(isfinite(d->micPw[k]) && isfinite(d->micPw[s.bins + k]));
        ASSERT_TRUE(isfinite(d->reCoherence[k]) && isfinite(d->imCoherence[k]));
        ASSERT_TRUE(isfinite(d->reWiener[k]) && isfinite(d->imWiener[k]));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LowRates, EmptyBand, ::testing::Values(0u, 1u, 1000u, 1225u));

TEST(Band, OneBinJustAboveTheEmptyLimit) {
  auto d = NewDetector(1226, 256, 1.0f, 0.0f);
  EXPECT_EQ(d->upper_fbin - d->lower_fbin, 1u);
  std::mt19937 rng(3);
  Spectra x = Make(129, rng, [](uint32, std::complex<float> x0) { return -x0; });
  Detect(d.get(), x);
  EXPECT_EQ(d->sDirect, -1.0f);
}

// Frame sizes at the engine's rates, for the detection tests.
class Detection : public ::testing::TestWithParam<Segment> {
 protected:
  uint32 Rate() const { return 31.25 * (GetParam().bins - 1) * 2; }
  uint32 Bins() const { return GetParam().bins; }
  std::mt19937 rng{GetParam().nfft};
};

TEST_P(Detection, IdenticalSpectraMatchFullyWithUnitGain) {
  auto d = NewDetector(Rate(), GetParam().nfft, 0.3f, 0.0f);
  for (int step = 0; step < 6; step++) {
    Spectra x = Make(Bins(), rng, [](uint32, std::complex<float> x0) { return x0; });
    Detect(d.get(), x);
    EXPECT_EQ(d->sDirect, 1.0f);
    for (uint32 k = 0; k < Bins(); k++) {
      ASSERT_NEAR(d->reWiener[k], 1.0f, 1e-6f) << k;
      ASSERT_NEAR(d->imWiener[k], 0.0f, 1e-6f) << k;
    }
  }
}

TEST_P(Detection, OppositeSpectraGiveMinusOne) {
  auto d = NewDetector(Rate(), GetParam().nfft, 0.3f, 0.0f);
  for (int step = 0; step < 6; step++) {
    Spectra x = Make(Bins(), rng, [](uint32, std::complex<float> x0) { return -x0; });
    Detect(d.get(), x);
    EXPECT_EQ(d->sDirect, -1.0f);
    for (uint32 k = 0; k < Bins(); k++) {
      ASSERT_NEAR(d->reWiener[k], -1.0f, 1e-6f) << k;
      ASSERT_NEAR(d->imWiener[k], 0.0f, 1e-6f) << k;
    }
  }
}

TEST_P(Detection, SourceInTheSteeredDirectionMatchesWithConjugateGain) {
  for (float angle : {45.0f, 90.0f, -30.0f}) {
    SCOPED_TRACE(angle);
    auto d = NewDetector(Rate(), GetParam().nfft, 0.2f, angle);
    const TsDirect10a& r = *d;
    auto steer = [&](uint32 k, std::complex<float> x0) {
      return std::complex<float>(r.reDirVec[0][k], r.imDirVec[0][k]) * x0;
    };
    for (int step = 0; step < 6; step++) {
      Spectra x = Make(Bins(), rng, steer);
      Detect(d.get(), x);
      EXPECT_NEAR(d->sDirect, 1.0f, 1e-6f);
      for (uint32 k = 0; k < Bins(); k++) {
        ASSERT_NEAR(d->reWiener[k], d->reDirVec[0][k], 1e-5f) << k;
        ASSERT_NEAR(d->imWiener[k], -d->imDirVec[0][k], 1e-5f) << k;
      }
    }
  }
}

TEST_P(Detection, SilenceMatchesWithZeroGain) {
  auto d = NewDetector(Rate(), GetParam().nfft, 0.5f, 0.0f);
  Spectra zero(Bins());
  for (int step = 0; step < 3; step++) {
    Detect(d.get(), zero);
    EXPECT_EQ(d->sDirect, 1.0f);
  }
  Spectra y = Make(Bins(), rng, [](uint32, std::complex<float> x0) { return x0; });
  std::vector<float> re(Bins(), kSentinel), im(Bins(), kSentinel);
  sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), re.data(), im.data());
  for (uint32 k = 0; k < Bins(); k++) {
    ASSERT_EQ(d->reWiener[k], 0.0f);
    ASSERT_EQ(d->imWiener[k], 0.0f);
    ASSERT_EQ(re[k], 0.0f);
    ASSERT_EQ(im[k], 0.0f);
  }
}

TEST_P(Detection, AlfaOneKeepsNoMemory) {
  auto d = NewDetector(Rate(), GetParam().nfft, 1.0f, 0.0f);
  auto random = [&](uint32, std::complex<float>) { return std::complex<float>(NonZero(rng), NonZero(rng)); };
  for (int step = 0; step < 3; step++) {
    Spectra x = Make(Bins(), rng, random);
    Detect(d.get(), x);
    for (uint32 k = 0; k < Bins(); k++) {
      const std::complex<double> x0 = x.X(0, k), x1 = x.X(1, k);
      const std::complex<double> g = 2.0 * x0 * conj(x1) / (norm(x1) + norm(x0) + 1e-20);
      ASSERT_NEAR(d->reWiener[k], g.real(), 1e-5) << k;
      ASSERT_NEAR(d->imWiener[k], g.imag(), 1e-5) << k;
    }
  }
}

TEST_P(Detection, BinsBelowTheBandNeverChangeTheDirection) {
  auto a = NewDetector(Rate(), GetParam().nfft, 0.4f, 20.0f);
  auto b = NewDetector(Rate(), GetParam().nfft, 0.4f, 20.0f);
  const uint32 lower = a->lower_fbin;
  for (int step = 0; step < 5; step++) {
    Spectra x = Make(Bins(), rng, [&](uint32, std::complex<float> x0) { return x0 * NonZero(rng); });
    Spectra y = x;
    for (uint32 k = 0; k < lower; k++) y.Set(1, k, {NonZero(rng), NonZero(rng)});
    Detect(a.get(), x);
    Detect(b.get(), y);
    EXPECT_EQ(a->sDirect, b->sDirect);
    EXPECT_NE(Gain(*a, lower - 1), Gain(*b, lower - 1));
    for (uint32 k = lower; k < Bins(); k++) ASSERT_EQ(Gain(*a, k), Gain(*b, k)) << k;
  }
}

TEST_P(Detection, StatisticsStayWithinTheUnitCircle) {
  std::uniform_real_distribution<float> alfas(0.01f, 1.0f), mix(-1.0f, 1.0f);
  for (int run = 0; run < 4; run++) {
    auto d = NewDetector(Rate(), GetParam().nfft, alfas(rng), 5.0f * (int)(mix(rng) * 18));
    for (int step = 0; step < 8; step++) {
      // Partly coherent microphones: a common part plus an independent one.
      const float c = mix(rng);
      Spectra x = Make(Bins(), rng, [&](uint32, std::complex<float> x0) {
        return c * x0 + std::complex<float>(NonZero(rng), NonZero(rng));
      });
      Detect(d.get(), x);
      EXPECT_EQ(d->sDirect2re, d->sDirect);
      EXPECT_GE(d->sDirect, -1.0f);
      EXPECT_LE(d->sDirect, 1.0f);
      for (uint32 k = 0; k < Bins(); k++) {
        ASSERT_LE(std::abs(std::complex<float>(d->reCoherence[k], d->imCoherence[k])), 1.0f + 1e-5f) << k;
        ASSERT_LE(std::abs(Gain(*d, k)), 1.0f + 1e-5f) << k;
      }
    }
  }
}

TEST_P(Detection, FilterAppliesTheGainInEveryBinAlsoInPlace) {
  auto d = NewDetector(Rate(), GetParam().nfft, 1.0f, 0.0f);
  Spectra x = Make(Bins(), rng, [](uint32, std::complex<float> x0) { return -x0; });
  Detect(d.get(), x);  // gain -1 in every bin, below the band too
  Spectra y = Make(Bins(), rng, [](uint32, std::complex<float> x0) { return x0; });
  std::vector<float> re(Bins()), im(Bins());
  sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), re.data(), im.data());
  for (uint32 k = 0; k < Bins(); k++) {
    ASSERT_NEAR(re[k], -y.re[k], 1e-6f * fabsf(y.re[k]) + 1e-3f) << k;
    ASSERT_NEAR(im[k], -y.im[k], 1e-6f * fabsf(y.im[k]) + 1e-3f) << k;
  }
  sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), y.re.data(), y.im.data());
  for (uint32 k = 0; k < Bins(); k++) {
    ASSERT_EQ(y.re[k], re[k]) << k;
    ASSERT_EQ(y.im[k], im[k]) << k;
  }
}

TEST_P(Detection, UnitGainUntilTheFirstDetection) {
  auto d = NewDetector(Rate(), GetParam().nfft, 0.5f, 0.0f);
  Spectra y = Make(Bins(), rng, [](uint32, std::complex<float> x0) { return x0; });
  std::vector<float> re(Bins()), im(Bins());
  sDirect10a_FilterWiener(d.get(), y.re.data(), y.im.data(), re.data(), im.data());
  for (uint32 k = 0; k < Bins(); k++) {
    ASSERT_EQ(re[k], y.re[k]);
    ASSERT_EQ(im[k], y.im[k]);
  }
}

TEST_P(Detection, ResetRestartsStatisticsOnly) {
  auto d = NewDetector(Rate(), GetParam().nfft, 0.5f, 25.0f);
  for (int step = 0; step < 3; step++) {
    Spectra x = Make(Bins(), rng, [&](uint32, std::complex<float> x0) { return x0 * NonZero(rng); });
    Detect(d.get(), x);
  }
  const TsDirect10a before = *d;
  ASSERT_NE(before.sDirect2re, 0.0f);
  sDirect10a_Reset(d.get());
  for (uint32 i = 0; i < 2 * Bins(); i++) ASSERT_EQ(d->micPw[i], 0.0f);
  if (2 * Bins() < kMaxMics * kMaxBins) {
    EXPECT_EQ(d->micPw[2 * Bins()], kSentinel);
  }
  for (uint32 k = 0; k < Bins(); k++) {
    ASSERT_EQ(d->reCoherMics[k], 0.0f);
    ASSERT_EQ(d->imCoherMics[k], 0.0f);
    ASSERT_EQ(d->reCoherence[k], 0.0f);
    ASSERT_EQ(d->imCoherence[k], 0.0f);
    ASSERT_EQ(Gain(*d, k), std::complex<float>(1.0f, 0.0f));
  }
  EXPECT_EQ(d->sDirect, 0.0f);
  EXPECT_EQ(d->sDirectDinamic, 0.0f);
  EXPECT_EQ(d->sDirect2re, before.sDirect2re);
  EXPECT_EQ(d->lower_fbin, before.lower_fbin);
  EXPECT_EQ(0, memcmp(d->reDirVec, before.reDirVec, sizeof d->reDirVec));
  EXPECT_EQ(0, memcmp(d->imDirVec, before.imDirVec, sizeof d->imDirVec));
}

TEST_P(Detection, ResteeringKeepsTheAverages) {
  auto d = NewDetector(Rate(), GetParam().nfft, 0.5f, 0.0f);
  Spectra x = Make(Bins(), rng, [&](uint32, std::complex<float> x0) { return x0 * NonZero(rng); });
  Detect(d.get(), x);
  const TsDirect10a before = *d;
  sDirect10a_SetVectorDirect(d.get(), -40.0f, 0.05f);
  EXPECT_EQ(0, memcmp(d->micPw, before.micPw, sizeof d->micPw));
  EXPECT_EQ(0, memcmp(d->reCoherMics, before.reCoherMics, sizeof d->reCoherMics));
  EXPECT_EQ(0, memcmp(d->imCoherMics, before.imCoherMics, sizeof d->imCoherMics));
  EXPECT_EQ(0, memcmp(d->reWiener, before.reWiener, sizeof d->reWiener));
}

INSTANTIATE_TEST_SUITE_P(Sizes, Detection, ::testing::ValuesIn(kSegments));

}  // namespace
