// Double-talk detector: DCT basis tables, the low-band coefficients of a
// frame, and the similarity of two or three frames' low-band energies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "DTD.h"

namespace {

const float kThreshold = 0.98f;  // the engine's decision threshold

const float* Table(uint32 n) {
  return n == 256 ? &mdct4x256_Tab32f[0][0] : n == 512 ? &mdct4x512_Tab32f[0][0] : &mdct4x1024_Tab32f[0][0];
}

std::vector<float> Row(uint32 n, int k, float scale = 1.0f) {
  std::vector<float> v(Table(n) + k * n, Table(n) + (k + 1) * n);
  for (float& x : v) x *= scale;
  return v;
}

TEST(DctTables, KnownValues) {
  EXPECT_EQ(mdct4x256_Tab32f[0][0], 0.088388346f);
  EXPECT_EQ(mdct4x512_Tab32f[0][100], 0.0625f);
  EXPECT_EQ(mdct4x1024_Tab32f[0][1023], 0.044194173f);
  EXPECT_EQ(mdct4x256_Tab32f[1][0], 0.088386685f);
  EXPECT_EQ(mdct4x256_Tab32f[1][1], 0.08837337f);
  EXPECT_EQ(mdct4x256_Tab32f[1][2], 0.088346757f);
}

class DctSizes : public ::testing::TestWithParam<uint32> {};

TEST_P(DctSizes, RowsAreTheRoundedBasis) {
  const uint32 n = GetParam();
  for (int k = 0; k < 4; k++)
    for (uint32 i = 0; i < n; i++) {
      const long double v = sqrtl(2.0L / n) * cosl(3.14159265358979323846264338327950288L * k * (i + 0.5L) / n);
      ASSERT_EQ(Table(n)[k * n + i], (float)v) << "row " << k << " sample " << i;
    }
}

TEST_P(DctSizes, BasisRowGivesItsCoefficient) {
  const uint32 n = GetParam();
  TDTalkDetect d;
  DTalkDetect_Init(&d, 4, n);
  for (int k = 1; k < 4; k++) {
    float out[4];
    DCT_dct(&d, Row(n, k, 3.0f).data(), out);
    for (int j = 0; j < 4; j++) EXPECT_NEAR(out[j], j == k ? 3.0f : 0.0f, 1e-5f) << "row " << k << " coeff " << j;
  }
  // A constant frame has only coefficient 0, its sum over sqrt(N).
  std::vector<float> c(n, 2.0f);
  float out[4];
  DCT_dct(&d, c.data(), out);
  EXPECT_EQ(out[0], 2.0f * n / std::sqrt((float)n));
  for (int j = 1; j < 4; j++) EXPECT_NEAR(out[j], 0.0f, 1e-4f);
}

// RunMA on frames x and d built from basis rows; the similarity is
// 2*Px*Pd/(Px^2 + Pd^2) of the low-band energies.
struct MaCase {
  const char* what;
  float x1, x2, d1, d2;  // amplitudes of basis rows 1 and 2 in x and in d
  float expected;
  uint8 decision;
};

class DtdRunMA : public ::testing::TestWithParam<std::tuple<uint32, MaCase>> {};

TEST_P(DtdRunMA, Similarity) {
  const uint32 n = std::get<0>(GetParam());
  const MaCase& c = std::get<1>(GetParam());
  std::vector<float> x(n), d(n);
  const float* t = Table(n);
  for (uint32 i = 0; i < n; i++) {
    x[i] = c.x1 * t[n + i] + c.x2 * t[2 * n + i];
    d[i] = c.d1 * t[n + i] + c.d2 * t[2 * n + i];
  }
  TDTalkDetect det;
  DTalkDetect_Init(&det, 4, n);
  float r = -1.0f;
  EXPECT_EQ(DTalkDetect_RunMA(&det, kThreshold, x.data(), d.data(), &r), c.decision) << c.what;
  EXPECT_NEAR(r, c.expected, 2e-6f) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DtdRunMA,
    ::testing::Combine(::testing::Values(256u, 512u, 1024u),
                       ::testing::Values(MaCase{"both silent", 0, 0, 0, 0, 1.0f, 1},
                                         MaCase{"x silent", 0, 0, 1, 0, 0.0f, 0},
                                         MaCase{"d silent", 0, 3, 0, 0, 0.0f, 0},
                                         MaCase{"same energy, other shape", 3, 0, 0, 3, 1.0f, 1},
                                         MaCase{"d twice the energy", 1, 1, 2, 0, 0.8f, 0},
                                         MaCase{"x twice the energy", 0, 2, 1, 1, 0.8f, 0})));

TEST(Dtd, EqualFramesGiveExactlyOne) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-1000.0f, 1000.0f);
  std::vector<float> x(512);
  for (float& v : x) v = u(rng);
  TDTalkDetect d;
  DTalkDetect_Init(&d, 4, 512);
  float r;
  EXPECT_EQ(DTalkDetect_RunMA(&d, kThreshold, x.data(), x.data(), &r), 1);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(std::memcmp(d.xDCT, d.yDCT, sizeof d.xDCT), 0);
}

TEST(Dtd, SizeZeroGivesOneWithoutComparing) {
  std::vector<float> x(256, 5.0f), silent(256, 0.0f);
  TDTalkDetect d;
  DTalkDetect_Init(&d, 0, 256);
  float r;
  EXPECT_EQ(DTalkDetect_RunMA(&d, kThreshold, x.data(), silent.data(), &r), 1);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(DTalkDetect_RunMM(&d, kThreshold, x.data(), x.data(), silent.data(), &r), 1);
  EXPECT_EQ(r, 1.0f);
}

TEST(Dtd, SizeOneComparesFrameSumsOnly) {
  // Equal sums, different shapes: similar at size 1, not at size 4.
  std::vector<float> x = Row(256, 1, 200.0f), d(256, 0.0f);
  for (uint32 i = 0; i < 256; i++) x[i] += 1.0f;
  d.assign(256, 1.0f);
  TDTalkDetect det;
  float r;
  DTalkDetect_Init(&det, 1, 256);
  DTalkDetect_RunMA(&det, kThreshold, x.data(), d.data(), &r);
  EXPECT_NEAR(r, 1.0f, 1e-5f);
  DTalkDetect_Init(&det, 4, 256);
  DTalkDetect_RunMA(&det, kThreshold, x.data(), d.data(), &r);
  EXPECT_LT(r, 0.1f);
}

TEST(Dtd, SizeAboveFourIsClamped) {
  struct {
    TDTalkDetect det;
    float guard[4];
  } s;
  const float kGuard = 123.0f;
  for (float& g : s.guard) g = kGuard;
  DTalkDetect_Init(&s.det, 9, 256);
  EXPECT_EQ(s.det.size_dct, 4u);
  std::vector<float> x = Row(256, 3, 2.0f), y = Row(256, 2), e = Row(256, 1);
  float r9, r4;
  DTalkDetect_RunMM(&s.det, kThreshold, x.data(), y.data(), e.data(), &r9);
  for (float g : s.guard) EXPECT_EQ(g, kGuard);
  TDTalkDetect four;
  DTalkDetect_Init(&four, 4, 256);
  DTalkDetect_RunMM(&four, kThreshold, x.data(), y.data(), e.data(), &r4);
  EXPECT_EQ(r9, r4);
}

TEST(Dtd, LengthWithoutTableComputesOnlyCoefficientZero) {
  const uint32 n = 300;
  std::vector<float> x(n);
  for (uint32 i = 0; i < n; i++) x[i] = std::cos(0.1f * i) + 0.5f;
  TDTalkDetect d;
  DTalkDetect_Init(&d, 4, n);
  float out[4] = {NAN, NAN, NAN, NAN};
  DCT_dct(&d, x.data(), out);
  float sum = 0.0f;
  for (float v : x) sum = sum + v;
  EXPECT_EQ(out[0], sum / std::sqrt(300.0f));
  EXPECT_EQ(out[1], 0.0f);
  EXPECT_EQ(out[2], 0.0f);
  EXPECT_EQ(out[3], 0.0f);
}

TEST(Dtd, NaNSimilarityDecidesNo) {
  std::vector<float> x(256, 1.0f), d(256, 1.0f);
  x[7] = std::numeric_limits<float>::quiet_NaN();
  TDTalkDetect det;
  DTalkDetect_Init(&det, 4, 256);
  float r;
  EXPECT_EQ(DTalkDetect_RunMA(&det, 0.0f, x.data(), d.data(), &r), 0);
  EXPECT_TRUE(std::isnan(r));
}

TEST(Dtd, ThresholdIsInclusive) {
  std::vector<float> x = Row(512, 1, 1.0f), d = Row(512, 1, 2.0f);
  TDTalkDetect det;
  DTalkDetect_Init(&det, 4, 512);
  float r;
  DTalkDetect_RunMA(&det, kThreshold, x.data(), d.data(), &r);
  EXPECT_EQ(DTalkDetect_RunMA(&det, r, x.data(), d.data(), &r), 1);
  EXPECT_EQ(DTalkDetect_RunMA(&det, std::nextafter(r, 1.0f), x.data(), d.data(), &r), 0);
}

TEST(Dtd, RunMMWeighsErrorAgainstReference) {
  // y enters only the denominator: 2*Pe*Px/(Py^2 + Px^2 + Pe^2).
  std::vector<float> a = Row(1024, 2, 4.0f), silent(1024, 0.0f);
  TDTalkDetect det;
  DTalkDetect_Init(&det, 4, 1024);
  float r;
  EXPECT_EQ(DTalkDetect_RunMM(&det, kThreshold, a.data(), silent.data(), a.data(), &r), 1);
  EXPECT_NEAR(r, 1.0f, 1e-6f);
  EXPECT_EQ(DTalkDetect_RunMM(&det, kThreshold, a.data(), a.data(), a.data(), &r), 0);
  EXPECT_NEAR(r, 2.0f / 3.0f, 1e-6f);
  EXPECT_EQ(DTalkDetect_RunMM(&det, kThreshold, a.data(), a.data(), silent.data(), &r), 0);
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(DTalkDetect_RunMM(&det, kThreshold, silent.data(), silent.data(), silent.data(), &r), 1);
  EXPECT_EQ(r, 1.0f);
  // Coefficients land in the array of their frame.
  std::vector<float> x = Row(1024, 1, 1.0f), y = Row(1024, 2, 2.0f), e = Row(1024, 3, 3.0f);
  DTalkDetect_RunMM(&det, kThreshold, x.data(), y.data(), e.data(), &r);
  EXPECT_NEAR(det.xDCT[1], 1.0f, 1e-5f);
  EXPECT_NEAR(det.yDCT[2], 2.0f, 1e-5f);
  EXPECT_NEAR(det.eDCT[3], 3.0f, 1e-5f);
}

INSTANTIATE_TEST_SUITE_P(Frames, DctSizes, ::testing::Values(256u, 512u, 1024u));

}  // namespace
