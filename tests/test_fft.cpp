// Packed real FFT, its tables, the spectrum conversions and the windows.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "FFTnrc.h"
#include "micarray_core.h"

namespace {

const double kPi = 3.14159265358979323846;

class FftTest : public ::testing::TestWithParam<uint32> {
 protected:
  void SetUp() override {
    n = GetParam();
    FFTnRC_Init(&fft, n);
  }
  // The value of a real signal at sample i for bin k0: cos or sin(2*pi*k0*i/N).
  float Tone(uint32 k0, uint32 i, bool sine) const {
    const double a = 2.0 * kPi * k0 * i / n;
    return (float)(sine ? sin(a) : cos(a));
  }
  std::vector<float> RandomFrame(unsigned seed) const {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v) x = dist(gen);
    return v;
  }
  TFFTnRC fft;
  uint32 n = 0;
};

INSTANTIATE_TEST_SUITE_P(Lengths, FftTest, ::testing::Values(256u, 512u, 1024u));

// ---- tables and record ----------------------------------------------------

TEST(FftInit, OffsetsPerLengthAndUnsupportedLengthsKeepThem) {
  const struct { uint32 n; int16 cs, sw; } rows[] = {{256, 0, 0}, {512, 65, 128}, {1024, 194, 384}};
  for (const auto& r : rows) {
    TFFTnRC rec = {0, -1, -1};
    FFTnRC_Init(&rec, r.n);
    EXPECT_EQ(rec.nfft, r.n);
    EXPECT_EQ(rec.offset_cs, r.cs);
    EXPECT_EQ(rec.offset_sw, r.sw);
  }
  for (uint32 other : {0u, 128u, 2048u, 300u}) {
    TFFTnRC rec;
    FFTnRC_Init(&rec, 512);
    FFTnRC_Init(&rec, other);
    EXPECT_EQ(rec.nfft, other);
    EXPECT_EQ(rec.offset_cs, 65);
    EXPECT_EQ(rec.offset_sw, 128);
    FFTnRC_Destroyed(&rec);
    EXPECT_EQ(rec.nfft, other);
  }
}

TEST_P(FftTest, SwapSegmentExchangesBitReversedPairsOnce) {
  const uint16* swap = m_adwSwapTab + fft.offset_sw;
  const uint32 half = n / 2;
  uint32 bits = 0;
  while ((1u << bits) < half) bits++;
  uint32 nonzero = 0;
  for (uint32 i = 0; i < half; i++) {
    uint32 r = 0;
    for (uint32 b = 0; b < bits; b++) r |= ((i >> b) & 1u) << (bits - 1 - b);
    EXPECT_EQ(swap[i], r > i ? 2 * r : 0) << "entry " << i;
    nonzero += swap[i] != 0;
  }
  EXPECT_EQ(nonzero, n == 256 ? 56u : n == 512 ? 120u : 240u);
}

TEST(FftTables, FirstSwapEntriesFor256) {
  const uint16 first[] = {0, 128, 64, 192, 32, 160, 96, 224, 0, 144, 80, 208};
  for (size_t i = 0; i < sizeof first / sizeof first[0]; i++) EXPECT_EQ(m_adwSwapTab[i], first[i]);
}

TEST_P(FftTest, CosineSegmentIsAQuarterWave) {
  const float* cs = m_arCosTable32f + fft.offset_cs;
  EXPECT_EQ(cs[0], 1.0f);
  EXPECT_EQ(cs[n / 4], 0.0f);
  for (uint32 k = 0; k < n / 4; k++) EXPECT_EQ(cs[k], (float)cos(2.0 * kPi * k / n)) << k;
}

// Per four positions j of each table-driven stage (half span h = 8 ... N/4):
// {c_j, c_j, ..., c_j+3, c_j+3} and {s_j, -s_j, ..., s_j+3, -s_j+3}, the
// cosine and sine of twiddle index k = j*N/(2h) taken from the cosine table
// (negated entry N/2 - k, entry k - N/4 beyond the quarter), signs of zeros
// included.
TEST_P(FftTest, TwiddleVectorsFollowTheCosineTable) {
  const float* cs = m_arCosTable32f + fft.offset_cs;
  const float* tw = m_arTwiddle32f + (n == 256 ? 0 : n == 512 ? 480 : 1472);
  const uint32 quarter = n / 4, half = n / 2;
  auto same = [](float a, float b) { return a == b && std::signbit(a) == std::signbit(b); };
  for (uint32 h = 8; h <= quarter; h *= 2) {
    for (uint32 j = 0; j < h; j++) {
      const uint32 k = j * n / (2 * h);
      const float c = k <= quarter ? cs[k] : -cs[half - k];
      const float s = k <= quarter ? cs[quarter - k] : cs[k - quarter];
      const float* v = tw + 4 * (h - 8) + 16 * (j / 4) + 2 * (j % 4);
      EXPECT_TRUE(same(v[0], c) && same(v[1], c)) << "h " << h << " j " << j;
      EXPECT_TRUE(same(v[8], s) && same(v[9], -s)) << "h " << h << " j " << j;
    }
  }
}

// ---- forward transform ------------------------------------------------------

TEST_P(FftTest, ImpulseGivesFlatSpectrumExactly) {
  std::vector<float> p(n, 0.0f);
  p[0] = 1.0f;
  FFTnRC_fft(&fft, p.data(), 1);
  EXPECT_EQ(p[0], 1.0f);
  EXPECT_EQ(p[1], 1.0f);
  for (uint32 k = 1; k < n / 2; k++) {
    EXPECT_EQ(p[2 * k], 1.0f) << k;
    EXPECT_EQ(p[2 * k + 1], 0.0f) << k;
  }
}

TEST_P(FftTest, ConstantAndAlternatingFramesGiveDcAndNyquistExactly) {
  const float v = 3.25f;
  for (bool alternating : {false, true}) {
    std::vector<float> p(n);
    for (uint32 i = 0; i < n; i++) p[i] = alternating && (i & 1) ? -v : v;
    FFTnRC_fft(&fft, p.data(), 1);
    for (uint32 i = 0; i < n; i++) {
      const float want = i == (alternating ? 1u : 0u) ? n * v : 0.0f;
      EXPECT_EQ(p[i], want) << "alternating " << alternating << " float " << i;
    }
  }
}

TEST_P(FftTest, CosineAndSineLandInTheirBin) {
  const float tol = 1e-5f * n;
  const uint32 bins[] = {1, 3, n / 8, n / 4 - 1, n / 4, n / 4 + 1, n / 2 - 1};
  for (uint32 k0 : bins) {
    for (bool sine : {false, true}) {
      std::vector<float> p(n);
      for (uint32 i = 0; i < n; i++) p[i] = Tone(k0, i, sine);
      FFTnRC_fft(&fft, p.data(), 1);
      for (uint32 i = 0; i < n; i++) {
        float want = 0.0f;
        if (i == 2 * k0 && !sine) want = n / 2.0f;
        if (i == 2 * k0 + 1 && sine) want = -(n / 2.0f);
        EXPECT_NEAR(p[i], want, tol) << "k0 " << k0 << " sine " << sine << " float " << i;
      }
    }
  }
}

TEST_P(FftTest, MatchesDirectDft) {
  const std::vector<float> x = RandomFrame(7);
  std::vector<float> p = x;
  FFTnRC_fft(&fft, p.data(), 1);
  double worst = 0.0;
  for (uint32 k = 0; k <= n / 2; k++) {
    double re = 0.0, im = 0.0;
    for (uint32 i = 0; i < n; i++) {
      const double a = 2.0 * kPi * ((uint64)k * i % n) / n;
      re += x[i] * cos(a);
      im -= x[i] * sin(a);
    }
    double got_re, got_im;
    if (k == 0 || k == n / 2) {
      got_re = p[k == 0 ? 0 : 1];
      got_im = 0.0;
    } else {
      got_re = p[2 * k];
      got_im = p[2 * k + 1];
    }
    worst = std::fmax(worst, std::fmax(fabs(got_re - re), fabs(got_im - im)));
  }
  EXPECT_LT(worst, 1e-6 * n);
}

// ---- inverse transform ------------------------------------------------------

TEST_P(FftTest, InverseOfDcAndNyquistIsExact) {
  for (uint32 slot : {0u, 1u}) {
    std::vector<float> p(n, 0.0f);
    p[slot] = (float)n;
    FFTnRC_fft(&fft, p.data(), -1);
    for (uint32 i = 0; i < n; i++) {
      EXPECT_EQ(p[i], slot == 1 && (i & 1) ? -1.0f : 1.0f) << "slot " << slot << " sample " << i;
    }
  }
}

TEST_P(FftTest, InverseOfOneBinIsATone) {
  const uint32 bins[] = {1, 5, n / 4, n / 2 - 1};
  for (uint32 k0 : bins) {
    for (bool sine : {false, true}) {
      std::vector<float> p(n, 0.0f);
      p[2 * k0 + (sine ? 1 : 0)] = sine ? -(n / 2.0f) : n / 2.0f;
      FFTnRC_fft(&fft, p.data(), -1);
      for (uint32 i = 0; i < n; i++) {
        EXPECT_NEAR(p[i], Tone(k0, i, sine), 1e-5f) << "k0 " << k0 << " sine " << sine << " sample " << i;
      }
    }
  }
}

TEST_P(FftTest, ForwardThenInverseRestoresFrames) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const std::vector<float> x = RandomFrame(seed);
    std::vector<float> p = x;
    FFTnRC_fft(&fft, p.data(), 1);
    FFTnRC_fft(&fft, p.data(), -1);
    for (uint32 i = 0; i < n; i++) EXPECT_NEAR(p[i], x[i], 2e-6f) << "seed " << seed << " sample " << i;
  }
}

// ---- conversions ----------------------------------------------------------

// Phase rule: (re, im) -> radians in [-pi/2, 3pi/2).
TEST(FftPhase, RuleValues) {
  const struct { float re, im, want; } rows[] = {
      {0.0f, 0.0f, -1.5707964f},  {0.0f, 1.0f, 1.5707964f},  {0.0f, -1.0f, -1.5707964f},
      {-0.0f, 2.0f, 1.5707964f},  {-2.0f, 0.0f, 3.1415927f}, {-1.0f, -1.0f, 3.9269909f},
      {1.0f, -1.0f, -0.78539819f}, {4.0f, 0.0f, 0.0f},
  };
  TFFTnRC rec;
  FFTnRC_Init(&rec, 256);
  for (const auto& r : rows) {
    std::vector<float> x(129, 1.0f), y(129, 0.0f), F(129, 0.0f);
    x[0] = x[128] = r.re;
    y[0] = y[128] = r.im;
    FFTnRC_xy2F(&rec, x.data(), y.data(), F.data());
    EXPECT_EQ(F[0], r.want) << r.re << ", " << r.im;
    EXPECT_EQ(F[128], r.want) << r.re << ", " << r.im;
  }
}

TEST_P(FftTest, PackedDcAndNyquistAreRealInMagnitudeAndPhase) {
  std::vector<float> p(n, 0.0f), R(n / 2 + 2, -7.0f), F(n / 2 + 2, -7.0f);
  p[0] = -5.0f;  // negative DC
  p[1] = 0.0f;   // zero Nyquist
  p[2] = 3.0f;   // bin 1 = 3 + 4j
  p[3] = 4.0f;
  p[5] = 2.0f;  // bin 2 = +2j
  FFTnRC_fftbuf2RF(&fft, p.data(), R.data(), F.data());
  EXPECT_EQ(R[0], 5.0f);
  EXPECT_EQ(F[0], 3.1415927f);
  EXPECT_EQ(R[n / 2], 0.0f);
  EXPECT_EQ(F[n / 2], -1.5707964f);
  EXPECT_EQ(R[1], 5.0f);
  EXPECT_EQ(F[1], (float)atan((double)(4.0f / 3.0f)));
  EXPECT_EQ(R[2], 2.0f);
  EXPECT_EQ(F[2], 1.5707964f);
  EXPECT_EQ(R[n / 2 + 1], -7.0f) << "wrote past the last bin";
  EXPECT_EQ(F[n / 2 + 1], -7.0f) << "wrote past the last bin";

  p[1] = 6.0f;
  FFTnRC_fftbuf2R(&fft, p.data(), R.data());
  FFTnRC_fftbuf2F(&fft, p.data(), F.data());
  EXPECT_EQ(R[n / 2], 6.0f);
  EXPECT_EQ(F[n / 2], 0.0f);
}

TEST_P(FftTest, RebuildingThePackedBufferKeepsOnlyRealDcAndNyquist) {
  std::vector<float> R(n / 2 + 1), F(n / 2 + 1), p(n + 1, -7.0f);
  for (uint32 k = 0; k <= n / 2; k++) {
    R[k] = 1.0f + k;
    F[k] = 0.01f * k - 1.0f;
  }
  FFTnRC_RF2fftbuf(&fft, R.data(), F.data(), p.data());
  EXPECT_EQ(p[0], R[0] * (float)cos((double)F[0]));
  EXPECT_EQ(p[1], R[n / 2] * (float)cos((double)F[n / 2]));
  EXPECT_EQ(p[n], -7.0f) << "wrote past the buffer";

  // Packed -> magnitude/phase -> packed, including a negative DC.
  std::vector<float> q = RandomFrame(11), back(n);
  q[0] = -2.5f;
  FFTnRC_fftbuf2RF(&fft, q.data(), R.data(), F.data());
  FFTnRC_RF2fftbuf(&fft, R.data(), F.data(), back.data());
  for (uint32 i = 0; i < n; i++) EXPECT_NEAR(back[i], q[i], 1e-6f) << i;
}

TEST_P(FftTest, SplitAndPackRestoreExactly) {
  std::vector<float> p = RandomFrame(5);
  std::vector<float> x(n / 2 + 2, -7.0f), y(n / 2 + 2, -7.0f), back(n + 1, -7.0f);
  FFTnRC_fftbuf2xy(&fft, p.data(), x.data(), y.data());
  EXPECT_EQ(x[0], p[0]);
  EXPECT_EQ(x[n / 2], p[1]);
  EXPECT_EQ(y[0], 0.0f);
  EXPECT_EQ(y[n / 2], 0.0f);
  EXPECT_EQ(x[n / 2 + 1], -7.0f) << "wrote past the last bin";
  EXPECT_EQ(y[n / 2 + 1], -7.0f) << "wrote past the last bin";
  y[0] = 9.0f;  // not read back
  y[n / 2] = -9.0f;
  FFTnRC_xy2fftbuf(&fft, x.data(), y.data(), back.data());
  for (uint32 i = 0; i < n; i++) EXPECT_EQ(back[i], p[i]) << i;
  EXPECT_EQ(back[n], -7.0f) << "wrote past the buffer";
}

TEST_P(FftTest, MagnitudePhaseRoundTripOfSplitSpectrum) {
  const uint32 bins = n / 2 + 1;
  std::vector<float> x(bins), y(bins), R(bins), F(bins), x2(bins), y2(bins);
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> dist(-100.0f, 100.0f);
  for (uint32 k = 0; k < bins; k++) {
    x[k] = dist(gen);
    y[k] = dist(gen);
  }
  x[0] = -4.0f;  // DC and Nyquist keep their imaginary parts here
  y[0] = 3.0f;
  x[n / 2] = 0.0f;
  y[n / 2] = -2.0f;
  FFTnRC_xy2RF(&fft, x.data(), y.data(), R.data(), F.data());
  EXPECT_EQ(R[0], 5.0f);
  FFTnRC_RF2xy(&fft, R.data(), F.data(), x2.data(), y2.data());
  for (uint32 k = 0; k < bins; k++) {
    const float tol = 1e-6f * R[k] + 1e-6f;
    EXPECT_NEAR(x2[k], x[k], tol) << k;
    EXPECT_NEAR(y2[k], y[k], tol) << k;
  }

  // A zero magnitude rebuilds a zero bin whatever the phase.
  for (uint32 k = 0; k < bins; k++) {
    R[k] = 0.0f;
    F[k] = -1.5707964f + 0.037f * k;
  }
  FFTnRC_RF2xy(&fft, R.data(), F.data(), x2.data(), y2.data());
  for (uint32 k = 0; k < bins; k++) {
    EXPECT_EQ(x2[k], 0.0f) << k;
    EXPECT_EQ(y2[k], 0.0f) << k;
  }
}

// ---- windows ----------------------------------------------------------------

TEST(FftWindow, DegenerateLengths) {
  float w[2] = {-7.0f, -7.0f};
  FFTnRC_channing(0, w);
  EXPECT_EQ(w[0], -7.0f);
  FFTnRC_channing(1, w);
  EXPECT_EQ(w[0], 1.0f);
  EXPECT_EQ(w[1], -7.0f);
}

TEST_P(FftTest, GeneratedWindowFollowsItsSinglePrecisionRule) {
  std::vector<float> w(n + 1, -7.0f);
  FFTnRC_channing(n, w.data());
  for (uint32 i = 0; i < n; i++) {
    const float arg = ((float)i + 0.5f) * 6.2831855f / (float)n;
    EXPECT_EQ(w[i], 0.5f - 0.5f * (float)cos((double)arg)) << i;
    EXPECT_NEAR(w[i], w[n - 1 - i], 1e-6f) << i;
  }
  EXPECT_EQ(w[n], -7.0f) << "wrote past the window";
  EXPECT_NEAR(w[0], sin(kPi / (2.0 * n)) * sin(kPi / (2.0 * n)), 1e-8);
}

TEST_P(FftTest, EngineWindowTableIsAHannWindowThatAddsUpToTwo) {
  const float* w = winTable32f + (n == 256 ? 0 : n == 512 ? 256 : 768);
  std::vector<float> own(n);
  FFTnRC_channing(n, own.data());
  for (uint32 i = 0; i < n; i++) {
    EXPECT_EQ(w[i], (float)(0.5 - 0.5 * cos(2.0 * kPi * (i + 0.5) / n))) << i;
    EXPECT_EQ(w[i], w[n - 1 - i]) << i;
    EXPECT_NEAR(own[i], w[i], 1e-6f) << i;
  }
  // 75 % overlap: four windows shifted by a quarter frame sum to 2.
  for (uint32 i = 0; i < n / 4; i++) {
    const float sum = w[i] + w[i + n / 4] + w[i + n / 2] + w[i + 3 * n / 4];
    EXPECT_NEAR(sum, 2.0f, 1e-6f) << i;
  }
}

}  // namespace
