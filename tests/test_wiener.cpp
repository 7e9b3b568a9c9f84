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

const float kTiny = 1e-20f;
const float kUnchecked = NAN;

// Runs one call on a 256-point record with every bin x; returns bin 0.
float RunBin(TFilterWiener* w, char active, char vad, float x) {
  std::vector<float> v(w->maxFbin, x);
  FilterWiener_Run(w, active, vad, v.data());
  return v[0];
}

TEST(Wiener, SubtractedFractionFromDecibels) {
  const struct { float pSdb, pSn; } cases[] = {
      {0.0f, 0.0f}, {12.0f, 0.0f}, {-6.0f, 0.49881279f}, {-10.0f, 0.68377221f}, {-20.0f, 0.9f}, {-40.0f, 0.99f}};
  for (const auto& c : cases) {
    TFilterWiener w;
    FilterWiener_Init(&w, 256, 0, c.pSdb, 0.9f, 0.98f);
    EXPECT_EQ(w.pSn, c.pSn) << c.pSdb;
  }
}

// Single-bin call sequences from a fresh record and the output of each call:
// with ActiveSig 1 the signal estimate X - pSn * Hn * X, with ActiveSig 0 the
// noise estimate Hn * X (so a probe of X = 1 shows the gain of the call before).
TEST(Wiener, CallSequences) {
  struct Call { char active, vad; float x, out; };
  const struct { const char* what; char kind; float pSdb, pNn, pMn; std::vector<Call> calls; } cases[] = {
      {"first call, initial gain", 0, -20, 0.9f, 0.98f, {{1, 1, 1, 0.36360395f}}},  // 0.3636039
      {"first call, noise output", 0, -20, 0.9f, 0.98f, {{0, 1, 1, 0.70710677f}}},
      {"0 dB passes the input", 0, 0, 0.9f, 0.98f, {{1, 1, 1, 1}, {1, 1, 5, 5}, {1, 1, 0.25f, 0.25f}}},
      {"mixed rule", 0, 0, 0.0f, 0.98f, {{1, 1, 2, 2}, {0, 0, 1, 0.92262214f}}},
      {"reference-only rule", 1, 0, 0.0f, 0.98f, {{1, 1, 2, 2}, {0, 0, 1, 0.9238795f}}},
      // A reference left at 1e-20 gives a huge but finite ratio in double: gain 1.
      {"mixed rule, stale reference", 0, -20, 0.5f, 0.98f, {{1, 0, 100, kUnchecked}, {0, 0, 4, 4}}},
      {"reference-only rule, stale reference", 1, -20, 0.5f, 0.98f, {{1, 0, 100, kUnchecked}, {0, 0, 4, 4}}},
      // A zero reference (input equal to the frozen noise mean) gives gain 0.
      {"reference-only rule, zero reference", 1, -20, 1.0f, 0.98f, {{1, 1, kTiny, kUnchecked}, {1, 0, 3, 3}}},
      // Full suppression after gain 1 leaves S = 0 and a reference X - N = 0.
      {"mixed rule, zero signal and reference", 0, -1000, 0.0f, 0.98f,
       {{1, 0, 1, kUnchecked}, {1, 1, 1, 0}, {0, 0, 1, 0}}}};
  for (const auto& c : cases) {
    TFilterWiener w;
    FilterWiener_Init(&w, 256, c.kind, c.pSdb, c.pNn, c.pMn);
    for (size_t i = 0; i < c.calls.size(); i++) {
      const Call& call = c.calls[i];
      const float out = RunBin(&w, call.active, call.vad, call.x);
      if (!std::isnan(call.out)) {
        EXPECT_EQ(out, call.out) << c.what << ", call " << i;
      }
    }
  }
}

// The noise mean: pNn 1 freezes it, pNn 0 follows the estimate. The signal
// reference is refreshed only while stateVad is on.
TEST(Wiener, NoiseMeanAndSignalReference) {
  TFilterWiener w;
  FilterWiener_Init(&w, 256, 0, -20.0f, 1.0f, 0.98f);
  RunBin(&w, 1, 1, 50.0f);
  EXPECT_EQ(w.psdNmean[0], kTiny);
  FilterWiener_Init(&w, 256, 0, -20.0f, 0.0f, 0.98f);
  RunBin(&w, 1, 0, 2.0f);
  EXPECT_EQ(w.psdNmean[0], w.psdN[0]);
  EXPECT_EQ(w.psdSmean[0], kTiny);
  RunBin(&w, 1, 1, 2.0f);
  const float refreshed = w.psdSmean[0];
  EXPECT_NE(refreshed, kTiny);
  RunBin(&w, 1, 0, 9.0f);
  EXPECT_EQ(w.psdSmean[0], refreshed);
}

// Reset changes the parameters only; a torn-down record leaves the input and
// itself alone; no call touches bins past maxFbin.
TEST(Wiener, LifecycleAndBounds) {
  for (uint32 nfft : {256u, 512u, 1024u}) {
    const uint32 n = nfft / 2 + 1;
    TFilterWiener w;
    std::memset(&w, 0x5A, sizeof w);
    const TFilterWiener fill = w;
    FilterWiener_Init(&w, nfft, 0, -20.0f, 0.9f, 0.98f);
    std::vector<float> x(kMaxBins + 1, 7.0f);
    for (int call = 0; call < 3; call++) FilterWiener_Run(&w, 1, call % 2, x.data());
    EXPECT_EQ(std::vector<float>(x.begin() + n, x.end()), std::vector<float>(kMaxBins + 1 - n, 7.0f)) << nfft;
    for (auto a : {&TFilterWiener::psdS, &TFilterWiener::psdSmean, &TFilterWiener::psdN, &TFilterWiener::psdNmean,
                   &TFilterWiener::Hn})
      EXPECT_EQ(std::memcmp(w.*a + n, fill.*a + n, (kMaxBins - n) * sizeof(float)), 0) << nfft;
    TFilterWiener expected = w;
    FilterWiener_Reset(&w, 1, -10.0f, 0.6f, 0.5f);
    expected.kind_subst = 1, expected.pSn = 0.68377221f, expected.pNn = 0.6f, expected.pMn = 0.5f;
    EXPECT_EQ(std::memcmp(&w, &expected, sizeof w), 0) << nfft;
    FilterWiener_Destroyed(&w);
    const TFilterWiener before = w;
    x.assign(kMaxBins + 1, 7.0f);
    FilterWiener_Run(&w, 1, 1, x.data());
    EXPECT_EQ(std::vector<float>(x.begin(), x.begin() + n), std::vector<float>(n, 7.0f)) << nfft;
    EXPECT_EQ(std::memcmp(&before, &w, sizeof w), 0) << nfft;
  }
}

// Over a random run, the signal output of a non-negative bin stays between
// X * 10^(pSdb/20) and X, and every gain within [0, 1].
TEST(Wiener, OutputWithinTheSuppressionLimit) {
  const struct { char kind; float pSdb, pNn, pMn; } cases[] = {
      {0, -15.0f, 0.9f, 0.98f}, {0, -30.0f, 0.6f, 0.995f}, {0, -6.0f, 0.0f, 0.0f}, {1, -20.0f, 0.9f, 0.5f}};
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> level(0.0f, 1.0f);
  std::exponential_distribution<float> mag(1.0f);
  for (const auto& c : cases) {
    TFilterWiener w;
    FilterWiener_Init(&w, 512, c.kind, c.pSdb, c.pNn, c.pMn);
    const double floor = std::pow(10.0, c.pSdb / 20.0) - 1e-6;  // slack: rounding of X - pSn*X
    std::vector<float> x(257), y(257);
    for (int call = 0; call < 400; call++) {
      const float scale = level(rng) < 0.5f ? 1.0f : 1000.0f;  // quiet and loud frames
      for (float& v : x) v = scale * mag(rng);
      if (call % 37 == 0) x[call % 257] = 0.0f;
      y = x;
      FilterWiener_Run(&w, 1, level(rng) < 0.3f, y.data());
      for (int i = 0; i < 257; i++)
        ASSERT_TRUE(y[i] >= 0.0f && y[i] <= x[i] && y[i] >= x[i] * floor && w.Hn[i] >= 0.0f && w.Hn[i] <= 1.0f)
            << "kind " << int(c.kind) << " pSdb " << c.pSdb << ", call " << call << ", bin " << i;
    }
  }
}

}  // namespace
