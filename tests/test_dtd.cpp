// Double-talk detector: the low-band DCT coefficients of a frame, and the
// similarity of two or three frames' low-band energies.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "DTD.h"

namespace {

const float kThreshold = 0.98f;  // the engine's decision threshold

const float* Table(uint32 n) {
  return n == 256 ? &mdct4x256_Tab32f[0][0] : n == 512 ? &mdct4x512_Tab32f[0][0] : &mdct4x1024_Tab32f[0][0];
}

// A frame of n samples: the constant a[0] plus a[k] times basis row k (1..3).
std::vector<float> Frame(uint32 n, const float (&a)[4]) {
  std::vector<float> v(n, a[0]);
  for (int k = 1; k < 4; k++)
    for (uint32 i = 0; i < n; i++) v[i] += a[k] * Table(n)[k * n + i];
  return v;
}

class Dtd : public ::testing::TestWithParam<uint32> {};
INSTANTIATE_TEST_SUITE_P(Frames, Dtd, ::testing::Values(256u, 512u, 1024u));

// RunMA: 2*Px*Pd/(Px^2 + Pd^2) of frames x and d (as y); RunMM: 2*Pe*Px/(Py^2 + Px^2 + Pe^2); 1 when all
// are silent or size_dct is 0; inclusive threshold, NaN decides no; no size_dct reaches the guard.
TEST_P(Dtd, SimilarityAndDecision) {
  const struct { const char* what; uint32 size; bool mm; float x[4], y[4], e[4], r; uint8 decision; } cases[] = {
      {"both silent", 4, false, {0, 0, 0, 0}, {0, 0, 0, 0}, {}, 1.0f, 1},
      {"x silent", 4, false, {0, 0, 0, 0}, {0, 1, 0, 0}, {}, 0.0f, 0},
      {"same energy, other shape", 4, false, {0, 3, 0, 0}, {0, 0, 0, 3}, {}, 1.0f, 1},
      {"d twice the energy", 4, false, {0, 1, 1, 0}, {0, 2, 0, 0}, {}, 0.8f, 0},
      {"size 0 compares nothing", 0, false, {5, 0, 0, 0}, {0, 0, 0, 0}, {}, 1.0f, 1},
      {"size 0, three frames", 0, true, {5, 0, 0, 0}, {5, 0, 0, 0}, {0, 0, 0, 0}, 1.0f, 1},
      {"size 1 compares sums only", 1, false, {1, 200, 0, 0}, {1, 0, 0, 0}, {}, 1.0f, 1},
      {"NaN frame", 4, false, {NAN, 0, 0, 0}, {0, 1, 0, 0}, {}, NAN, 0},
      {"reference silent", 4, true, {0, 0, 4, 0}, {0, 0, 0, 0}, {0, 0, 4, 0}, 1.0f, 1},
      {"three silent", 4, true, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 1.0f, 1},
      {"size 9 is clamped to 4", 9, true, {0, 0, 0, 2}, {0, 0, 1, 0}, {0, 1, 0, 0}, 8.0f / 18.0f, 0}};
  const uint32 n = GetParam();
  for (const auto& c : cases) {
    struct { TDTalkDetect det; float guard[4] = {7, 7, 7, 7}; } s;
    DTalkDetect_Init(&s.det, c.size, n);
    const std::vector<float> x = Frame(n, c.x), y = Frame(n, c.y), e = Frame(n, c.e);
    auto run = [&](float threshold, float* r) {
      return c.mm ? DTalkDetect_RunMM(&s.det, threshold, x.data(), y.data(), e.data(), r)
                  : DTalkDetect_RunMA(&s.det, threshold, x.data(), y.data(), r);
    };
    float r = -1.0f, again;
    EXPECT_EQ(run(kThreshold, &r), c.decision) << c.what;
    EXPECT_TRUE(std::isnan(c.r) ? std::isnan(r) : std::fabs(r - c.r) <= 2e-6f) << c.what << ": " << r;
    EXPECT_EQ(run(std::isnan(r) ? 0.0f : r, &again), !std::isnan(r)) << c.what;
    EXPECT_EQ(run(std::nextafter(r, 2.0f), &again), 0) << c.what;
    for (float g : s.guard) EXPECT_EQ(g, 7.0f) << c.what;
  }
}

}  // namespace
