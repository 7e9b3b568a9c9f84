// Wiener post-filter: suppression fraction from the dB limit, the stored gain
// applied per call, noise tracking, both gain rules, lifecycle, and the bounds
// of the output over a random run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "wiener.h"

namespace {

const float kInitialGain = 0.70710677f;
const float kTiny = 1e-20f;

// Runs one call on a single value in bin 0 of a 256-point record.
float RunBin(TFilterWiener* w, char active, char vad, float x) {
  std::vector<float> v(w->maxFbin, x);
  FilterWiener_Run(w, active, vad, v.data());
  return v[0];
}

struct SnCase {
  float pSdb, pSn;
};

class WienerSn : public ::testing::TestWithParam<SnCase> {};

TEST_P(WienerSn, FractionFromDecibels) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, GetParam().pSdb, 0.9f, 0.98f);
  EXPECT_EQ(w.pSn, GetParam().pSn) << GetParam().pSdb;
}

INSTANTIATE_TEST_SUITE_P(Levels, WienerSn,
                         ::testing::Values(SnCase{0.0f, 0.0f}, SnCase{12.0f, 0.0f}, SnCase{-6.0f, 0.49881279f},
                                           SnCase{-10.0f, 0.68377221f}, SnCase{-20.0f, 0.9f},
                                           SnCase{-40.0f, 0.99f}));

class WienerSizes : public ::testing::TestWithParam<uint32> {};

TEST_P(WienerSizes, InitialStateAndUntouchedTail) {
  const uint32 nfft = GetParam(), n = nfft / 2 + 1;
  TFilterWiener w;
  std::memset(&w, 0x5A, sizeof w);
  const TFilterWiener fill = w;
  FilterWiener_Init(&w, nfft, 0, -20.0f, 0.9f, 0.98f);
  ASSERT_EQ(w.maxFbin, n);
  for (uint32 i = 0; i < n; i++) {
    EXPECT_EQ(w.psdSmean[i], kTiny);
    EXPECT_EQ(w.psdNmean[i], kTiny);
    EXPECT_EQ(w.Hn[i], kInitialGain);
  }
  std::vector<float> x(kMaxBins + 1, 7.0f);
  for (int call = 0; call < 3; call++) FilterWiener_Run(&w, 1, call % 2, x.data());
  for (uint32 i = n; i < x.size(); i++) EXPECT_EQ(x[i], 7.0f);
  for (auto a : {&TFilterWiener::psdS, &TFilterWiener::psdSmean, &TFilterWiener::psdN, &TFilterWiener::psdNmean,
                 &TFilterWiener::Hn})
    EXPECT_EQ(std::memcmp(w.*a + n, fill.*a + n, (kMaxBins - n) * sizeof(float)), 0);
}

INSTANTIATE_TEST_SUITE_P(Frames, WienerSizes, ::testing::Values(256u, 512u, 1024u));

TEST(Wiener, FirstCallAppliesTheInitialGain) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.9f, 0.98f);
  EXPECT_FLOAT_EQ(RunBin(&w, 1, 1, 1.0f), 0.3636039f);
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.9f, 0.98f);
  EXPECT_EQ(RunBin(&w, 0, 1, 1.0f), kInitialGain);
  // The noise output is the stored gain times the input.
  const float gain = w.Hn[0];
  EXPECT_EQ(RunBin(&w, 0, 1, 3.0f), gain * 3.0f);
}

TEST(Wiener, NoSuppressionPassesInputButStillLearns) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, 0.0f, 0.9f, 0.98f);
  for (float x : {1.0f, 5.0f, 0.25f}) EXPECT_EQ(RunBin(&w, 1, 1, x), x);
  EXPECT_NE(w.psdNmean[0], kTiny);
  EXPECT_NE(w.psdSmean[0], kTiny);
  EXPECT_NE(w.Hn[0], kInitialGain);
}

TEST(Wiener, VadOffKeepsSignalReference) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.9f, 0.98f);
  RunBin(&w, 1, 0, 2.0f);
  EXPECT_EQ(w.psdSmean[0], kTiny);
  RunBin(&w, 1, 1, 2.0f);
  const float refreshed = w.psdSmean[0];
  EXPECT_NE(refreshed, kTiny);
  RunBin(&w, 1, 0, 9.0f);
  EXPECT_EQ(w.psdSmean[0], refreshed);
}

TEST(Wiener, StaleReferenceGivesFullNoiseGain) {
  // The reference stays at 1e-20 while the noise mean grows: the ratio is
  // huge but finite in double precision, so the gain is exactly 1.
  for (char kind : {0, 1}) {
    TFilterWiener w;
    FilterWiener_Init(&w, 256, kind, -20.0f, 0.5f, 0.98f);
    RunBin(&w, 1, 0, 100.0f);
    EXPECT_EQ(w.Hn[0], 1.0f) << int(kind);
  }
}

TEST(Wiener, NoiseMeanSmoothing) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, -20.0f, 1.0f, 0.98f);  // pNn 1 freezes the mean
  for (float x : {1.0f, 50.0f, 3.0f}) {
    RunBin(&w, 1, 1, x);
    EXPECT_EQ(w.psdNmean[0], kTiny);
  }
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.0f, 0.98f);  // pNn 0 follows the estimate
  for (float x : {1.0f, 50.0f, 3.0f}) {
    RunBin(&w, 1, 1, x);
    EXPECT_EQ(w.psdNmean[0], w.psdN[0]);
  }
}

TEST(Wiener, ReferenceOnlyRuleWithZeroReferencePassesNextCall) {
  // pNn 1 keeps the noise mean at 1e-20; an input equal to it leaves a
  // reference of exactly 0, hence the gain 0, and the next call passes the bin.
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 1, -20.0f, 1.0f, 0.98f);
  RunBin(&w, 1, 1, kTiny);
  EXPECT_EQ(w.psdSmean[0], 0.0f);
  EXPECT_EQ(w.Hn[0], 0.0f);
  EXPECT_EQ(RunBin(&w, 1, 0, 3.0f), 3.0f);
}

TEST(Wiener, MixedRuleWithZeroSignalAndReferenceGivesZeroGain) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.0f, 0.98f);
  RunBin(&w, 1, 0, 1.0f);  // stale reference: gain 1
  ASSERT_EQ(w.Hn[0], 1.0f);
  // Full suppression (pSn 1) with gain 1 leaves S = 0; the mean follows the
  // noise estimate X, so the reference X - N is 0 as well.
  FilterWiener_Reset(&w, 0, -1000.0f, 0.0f, 0.98f);
  ASSERT_EQ(w.pSn, 1.0f);
  EXPECT_EQ(RunBin(&w, 1, 1, 1.0f), 0.0f);
  EXPECT_EQ(w.psdNmean[0], 1.0f);
  EXPECT_EQ(w.psdSmean[0], 0.0f);
  EXPECT_EQ(w.Hn[0], 0.0f);
}

TEST(Wiener, DestroyedRecordWritesNothing) {
  TFilterWiener w;
  FilterWiener_Init(&w, 512, 0, -20.0f, 0.9f, 0.98f);
  RunBin(&w, 1, 1, 4.0f);
  FilterWiener_Destroyed(&w);
  EXPECT_EQ(w.maxFbin, 0u);
  const TFilterWiener before = w;
  std::vector<float> x(257, 4.0f);
  FilterWiener_Run(&w, 1, 1, x.data());
  for (float v : x) EXPECT_EQ(v, 4.0f);
  EXPECT_EQ(std::memcmp(&before, &w, sizeof w), 0);
}

TEST(Wiener, ResetChangesOnlyParameters) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.9f, 0.98f);
  for (float x : {1.0f, 2.0f, 3.0f}) RunBin(&w, 1, 1, x);
  TFilterWiener expected = w;
  FilterWiener_Reset(&w, 1, -10.0f, 0.6f, 0.5f);
  expected.kind_subst = 1;
  expected.pSn = 0.68377221f;
  expected.pNn = 0.6f;
  expected.pMn = 0.5f;
  EXPECT_EQ(w.maxFbin, expected.maxFbin);
  EXPECT_EQ(std::memcmp(w.psdS, expected.psdS, 5 * sizeof w.psdS), 0);  // all five arrays
  EXPECT_EQ(w.kind_subst, expected.kind_subst);
  EXPECT_EQ(w.pSn, expected.pSn);
  EXPECT_EQ(w.pNn, expected.pNn);
  EXPECT_EQ(w.pMn, expected.pMn);
}

// Over a random run, the signal output of a non-negative bin stays between
// X * 10^(pSdb/20) and X: it never changes sign and never grows.
struct BoundsCase {
  char kind;
  float pSdb, pNn, pMn;
};

class WienerBounds : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(WienerBounds, OutputWithinSuppressionLimit) {
  const BoundsCase& c = GetParam();
  TFilterWiener w;
  FilterWiener_Init(&w, 512, c.kind, c.pSdb, c.pNn, c.pMn);
  const double floor = std::pow(10.0, c.pSdb / 20.0);
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> level(0.0f, 1.0f);
  std::exponential_distribution<float> mag(1.0f);
  std::vector<float> x(257), y(257);
  for (int call = 0; call < 400; call++) {
    const float scale = level(rng) < 0.5f ? 1.0f : 1000.0f;  // quiet and loud frames
    for (float& v : x) v = scale * mag(rng);
    if (call % 37 == 0) x[call % 257] = 0.0f;
    y = x;
    FilterWiener_Run(&w, 1, level(rng) < 0.3f, y.data());
    for (int i = 0; i < 257; i++) {
      ASSERT_GE(y[i], 0.0f) << call << " " << i;
      ASSERT_LE(y[i], x[i]) << call << " " << i;
      ASSERT_GE(y[i], x[i] * (floor - 1e-6)) << call << " " << i;  // slack: rounding of X - pSn*X
      ASSERT_TRUE(w.Hn[i] >= 0.0f && w.Hn[i] <= 1.0f) << call << " " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, WienerBounds,
                         ::testing::Values(BoundsCase{0, -15.0f, 0.9f, 0.98f}, BoundsCase{0, -30.0f, 0.6f, 0.995f},
                                           BoundsCase{0, -6.0f, 0.0f, 0.0f}, BoundsCase{1, -20.0f, 0.9f, 0.5f},
                                           BoundsCase{1, -40.0f, 0.99f, 0.98f}));

}  // namespace
