// Wiener post-filter: both gain rules on call sequences, and the output bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "wiener.h"

namespace {

const float kTiny = 1e-20f;
const float kUnchecked = NAN;  // an output that the case does not check

// One call with every bin of the largest record set to x; returns the output.
std::vector<float> Filter(TFilterWiener* w, char active, char vad, float x) {
  std::vector<float> v(kMaxBins, x);
  FilterWiener_Run(w, active, vad, v.data());
  return v;
}

// Call sequences from a fresh record: output X - pSn*Hn*X with ActiveSig 1, the noise
// estimate Hn*X with ActiveSig 0 (a probe of X = 1 shows the gain of the call before).
TEST(Wiener, CallSequences) {
  struct Call { char active, vad; float x, out; };
  const struct { const char* what; char kind; float pSdb, pNn, pMn; std::vector<Call> calls; } cases[] = {
      {"first call, initial gain", 0, -20, 0.9f, 0.98f, {{1, 1, 1, 0.36360395f}}},  // 0.3636039
      {"first call, noise output", 0, -20, 0.9f, 0.98f, {{0, 1, 1, 0.70710677f}}},
      {"0 dB passes the input", 0, 0, 0.9f, 0.98f, {{1, 1, 1, 1}, {1, 1, 5, 5}}},
      {"mixed rule", 0, 0, 0.0f, 0.98f, {{1, 1, 2, 2}, {0, 0, 1, 0.92262214f}}},
      // A call with stateVad 0 keeps the reference of the call before.
      {"reference-only rule", 1, 0, 0.0f, 0.98f, {{1, 1, 2, 2}, {0, 0, 2, 2 * 0.9238795f}, {0, 0, 1, 0.95324379f}}},
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
    for (const Call& call : c.calls) {
      const float out = Filter(&w, call.active, call.vad, call.x)[0];
      EXPECT_TRUE(std::isnan(call.out) || out == call.out) << c.what << ": " << out;
    }
  }
}

// Over a random run, the signal output of a bin X >= 0 stays within [X * 10^(pSdb/20), X]
// and every gain within [0, 1]; the input past maxFbin stays as it is.
TEST(Wiener, OutputWithinTheSuppressionLimit) {
  const struct { uint32 nfft; char kind; float pSdb, pNn, pMn; } cases[] = {{256, 0, -15.0f, 0.9f, 0.98f},
      {512, 0, -30.0f, 0.6f, 0.995f}, {1024, 0, -6.0f, 0.0f, 0.0f}, {1024, 1, -20.0f, 0.9f, 0.5f}};
  std::mt19937 rng(17);
  std::exponential_distribution<float> mag(1.0f);
  for (const auto& c : cases) {
    TFilterWiener w;
    FilterWiener_Init(&w, c.nfft, c.kind, c.pSdb, c.pNn, c.pMn);
    const uint32 n = c.nfft / 2 + 1;
    const double floor = std::pow(10.0, c.pSdb / 20.0) - 1e-6;  // slack: rounding of X - pSn*X
    for (uint32 call = 0; call < 400; call++) {
      const float scale = rng() % 2 ? 1.0f : 1000.0f;  // quiet and loud frames
      std::vector<float> x(kMaxBins + 1), y;
      for (float& v : x) v = scale * mag(rng);
      x[call % n] = 0.0f;
      y = x;
      FilterWiener_Run(&w, 1, rng() % 3 == 0, y.data());
      for (uint32 i = 0; i <= kMaxBins; i++)
        ASSERT_TRUE(i < n ? y[i] <= x[i] && y[i] >= x[i] * floor && w.Hn[i] >= 0.0f && w.Hn[i] <= 1.0f : y[i] == x[i])
            << "nfft " << c.nfft << " kind " << int(c.kind) << ", call " << call << ", bin " << i;
    }
  }
}

}  // namespace
