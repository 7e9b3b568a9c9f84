// The classic engine's stages at their edges, each on inputs whose answer is
// known: the packed FFT, the fixed-point helpers, the double-talk detector,
// the Wiener post-filter, the adaptive filters and the direction detector.
// What they do to sound together the reference vectors pin, bit for bit.
// Then the fast arc tangents, cosines and sines: every result must be the
// float that the C library's double result rounds to. MICARRAY_EXHAUSTIVE=all
// (or one function's name) checks every float argument, for hours.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DTD.h"
#include "FFTnrc.h"
#include "fastmath.h"
#include "fdafn12.h"
#include "fdafn12_mul.h"
#include "fix.h"
#include "micarray_core.h"
#include "sdirect10a.h"
#include "wiener.h"

namespace {

typedef std::complex<float> C;

// Packed real FFT: the phase rule, conversions at DC and Nyquist, windows, no write past the bins.

const float kGuard = -7.0f;  // entries past the end that no call may write

class Fft : public ::testing::TestWithParam<uint32> {
 protected:
  void SetUp() override { FFTnRC_Init(&fft, n); }
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
  std::mt19937 gen(5);
  std::vector<float> p(n), back(n + 1, kGuard);
  for (float& v : p) v = std::uniform_real_distribution<float>(-1.0f, 1.0f)(gen);
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

// Fixed-point helpers against plain 64-bit reference arithmetic; the fixed-point magnitude.

const int64_t kMax32 = INT32_MAX, kMin32 = INT32_MIN;
const uint64_t kMaxRoot64 = 3037000499u;  // floor(sqrt(2^63 - 1))
const int64_t kSqrt32Top = 1073709055;    // the largest input whose root Sqrt32 represents
const int64_t kSqrt32ExactRoots = 1620;   // Sqrt32 is exact on the squares of 1 ... 1620

int64_t Wrap32(int64_t v) { return (int64_t)(int32_t)(uint32_t)(uint64_t)v; }
int64_t Saturate32(int64_t v) { return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : v); }
int64_t FloorDiv(int64_t p, int64_t d) { return p >= 0 ? p / d : -((-p + d - 1) / d); }
int64_t HighestBit(int64_t v) { return v >= 1 ? 63 - __builtin_clzll(v) : 0; }

// floor(sqrt(L)) from the double root, corrected by the defining inequality; 0 below 1.
int64_t FloorSqrt(int64_t L) {
  if (L < 1) return 0;
  uint64_t r = (uint64_t)sqrt((double)L);
  while (r * r > (uint64_t)L) r--;
  while (r < kMaxRoot64 && (r + 1) * (r + 1) <= (uint64_t)L) r++;
  return (int64_t)r;
}

// Normalisation count: the redundant sign bits of a non-zero 32-bit value.
int ExpOf(int64_t v) { return Wrap32(v) == 0 ? 0 : __builtin_clrsb((int32_t)Wrap32(v)); }

// 32-bit operand patterns: uniform, and near the limits and zero.
int64_t RandomOperand(std::mt19937_64& rng) {
  const uint64_t bits = rng();
  const int64_t small = (int64_t)(bits >> 56) - 128;
  const int64_t pick[] = {kMax32 - (small & 0x7F), kMin32 + (small & 0x7F), small, Wrap32((int64_t)(bits >> 16))};
  return pick[bits & 3];
}

// v as an int32 argument: sign-extended, zero-extended or with random high
// bits. Where long is 32 bits wide all three are v itself.
int32 Wide(int64_t v, int mode, std::mt19937_64& rng) {
  const uint64_t high = mode == 0 ? (uint64_t)v & ~0xFFFFFFFFull : mode == 1 ? 0 : rng() << 32;
  return (int32)(int64_t)((uint64_t)(uint32_t)(uint64_t)v | high);
}

// The 32-bit extremes first, then powers of two, perfect squares and their neighbours, inputs
// near powers of four (Sqrt32's mantissa near 1.0), a dense and a random sample of each range.
std::vector<int64_t> Operands(std::mt19937_64& rng) {
  const int64_t top = (int64_t)(kMaxRoot64 * kMaxRoot64);
  std::vector<int64_t> v = {kMin32,     kMin32 + 1, -2,      -1,  0,       1,             kSqrt32Top, kSqrt32Top + 1,
                            kMax32 - 1, kMax32,     top - 1, top, top + 1, INT64_MAX - 1, INT64_MAX,  INT64_MIN};
  for (int k = 0; k <= 62; k++)
    for (int64_t d : {-1, 0, 1}) v.insert(v.end(), {(1LL << k) + d, -(1LL << k) - d});
  for (int64_t k = 1; k * k <= kMax32; k++) v.insert(v.end(), {k * k - 1, k * k, k * k + 1});
  for (int j = 1; j <= 15; j++)
    for (int64_t d = -300; d <= 300; d++) v.push_back((1LL << 2 * j) + d);
  for (int64_t L = 1; L <= kMax32; L += 2039) v.push_back(L);
  for (int i = 0; i < 100000; i++) {
    const int64_t k = (int64_t)(rng() % kMaxRoot64) + 1;
    v.insert(v.end(), {RandomOperand(rng), RandomOperand(rng), k * k - 1, k * k, (int64_t)(rng() >> (1 + rng() % 63))});
  }
  return v;
}

// Each helper against its 64-bit reference, on the low 32 bits of the operands however they
// are extended (Sqrt32 within [floor - 1, floor + 2], 0 below 1, 32767 above its range).
TEST(Fix, MatchesReferenceArithmetic) {
  std::mt19937_64 rng(20240601);
  const std::vector<int64_t> ops = Operands(rng);
  auto check = [&](int64_t a, int64_t b, int mode) {
    const int32 wa = Wide(a, mode, rng), wb = Wide(b, mode, rng);
    const int16 h = (int16)(uint16_t)b, g = (int16)(uint16_t)(a >> 8);
    auto where = [&]() { return testing::Message() << a << ", " << b << " passed as " << wa << ", " << wb; };
    ASSERT_EQ((int64_t)L_add(wa, wb), Saturate32(a + b)) << where();
    ASSERT_EQ((int64_t)L_sub(wa, wb), Saturate32(a - b)) << where();
    ASSERT_EQ((int64_t)abs32(wa), Wrap32(a < 0 ? -a : a)) << where();
    ASSERT_EQ((int64_t)mult1(g, h), (int64_t)(int16_t)(uint16_t)FloorDiv((int64_t)g * h, 1 << 15)) << g << " * " << h;
    ASSERT_EQ((int64_t)Mul32x16H(wa, h), Wrap32(2 * FloorDiv(a * h, 1 << 16))) << where() << " * " << h;
    ASSERT_EQ((int)Exp(wa), ExpOf(a)) << where();
    ASSERT_EQ((int64_t)Order32(wa), HighestBit(a)) << where();
    const int64_t f = FloorSqrt(a), r = Sqrt32(wa);
    ASSERT_EQ((int64_t)L_Sqrt32(wa), f) << where();
    ASSERT_TRUE(a < 1 ? r == 0 : a > kSqrt32Top ? r == 32767 : r >= f - 1 && r <= f + 2) << where() << ": " << r;
  };
  for (size_t i = 0; i < 10; i++)  // the 32-bit extremes with each other
    for (size_t j = 0; j < 10; j++) check(ops[i], ops[j], (i + j) % 3);
  for (size_t i = 0; i < ops.size(); i++) {
    ASSERT_EQ((int64_t)Sqrt64(ops[i]), FloorSqrt(ops[i])) << "Sqrt64(" << ops[i] << ")";
    ASSERT_EQ((int64_t)Order64(ops[i]), HighestBit(ops[i])) << "Order64(" << ops[i] << ")";
    check(Wrap32(ops[i]), RandomOperand(rng), i % 3);
  }
  for (int64_t k = 1; k <= kSqrt32ExactRoots; k++) ASSERT_EQ((int64_t)Sqrt32(k * k), k);
  EXPECT_EQ((int64_t)Sqrt32((kSqrt32ExactRoots + 1) * (kSqrt32ExactRoots + 1)), kSqrt32ExactRoots);  // one low
}

// Magnitude: the integer root of the truncated power (saturated at 2^31 - 1), each case at
// both ends of the 129 bins (Nyquist with an imaginary part), nothing written past them.
TEST(Fix, MagnitudeIsTheIntegerRootOfTheTruncatedPower) {
  TFFTnRC fft;
  FFTnRC_Init(&fft, 256);
  const float cases[][3] = {{3, 4, 5},  {0.9f, 0, 0},         {1.5f, 0, 1},        {-10, 0, 10},
                            {0, 0, 0},  {46340.5f, 0, 46340}, {1e6f, 1e6f, 46340}, {0, -7, 7}};
  std::vector<float> x(129, 0.0f), y(129, 0.0f), R(130, -1.0f);
  for (size_t i = 0; i < 8; i++) x[i] = x[128 - i] = cases[i][0], y[i] = y[128 - i] = cases[i][1];
  FFTnRC_xy2R_fix(&fft, x.data(), y.data(), R.data());
  for (size_t i = 0; i < 8; i++) EXPECT_TRUE(R[i] == cases[i][2] && R[128 - i] == cases[i][2]) << "case " << i;
  EXPECT_EQ(R[129], -1.0f);
}

// Double-talk detector: similarity of two or three frames' low-band DCT energies.

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

// Wiener post-filter: both gain rules on call sequences, and the output bounds.

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

// Blocking-matrix filter and multi-reference canceller: the NLMS update, reference packing.

const unsigned char kFill = 0x5A;  // byte pattern of untouched record memory

bool Same(const float* a, const float* b, size_t n) { return std::memcmp(a, b, n * sizeof(float)) == 0; }

// n weights 1 + 1e-20j, followed (when `end` is given) by untouched memory up to end.
bool Fresh(const float* re, const float* im, size_t n, size_t end = 0) {
  for (size_t k = 0; k < n; k++)
    if (re[k] != 1.0f || im[k] != 1e-20f) return false;
  const size_t bytes = end > n ? (end - n) * sizeof(float) : 0;
  auto untouched = [&](const float* p) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(p + n);
    return std::all_of(b, b + bytes, [](unsigned char c) { return c == kFill; });
  };
  return untouched(re) && untouched(im);
}

// n random non-zero values (one part of a split spectrum), NaN past them so
// that any read beyond the bins in use shows up in the results.
std::vector<float> Random(size_t n, std::mt19937& rng) {
  std::vector<float> v(2 * kMaxBins, NAN);
  std::uniform_real_distribution<float> u(0.1f, 1.0f), sign(-1.0f, 1.0f);
  for (size_t k = 0; k < n; k++) v[k] = std::copysign(u(rng), sign(rng));
  return v;
}

// One bin's update with step 1: weight w, reference x, error e (set through a
// subtraction with step 0, which copies D into E) -> expected weight.
TEST(Fdaf, OneBinUpdateAndTheUnitCircleLimit) {
  const float kAboveOne = std::nextafter(1.0f, 2.0f);
  const struct { const char* what; C w, x, e, expected; } cases[] = {
      {"inside", {0.5f, 0.0f}, {2.0f, 0.0f}, {0.5f, 0.25f}, {0.75f, 0.125f}},
      {"zero reference keeps the weight", {0.25f, -0.5f}, {0.0f, 0.0f}, {3.0f, -2.0f}, {0.25f, -0.5f}},
      {"exactly 1j accepted", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, 0.5f}, {0.0f, 1.0f}},
      {"just above resets", {0.0f, 0.5f}, {1.0f, 0.0f}, {0.0f, kAboveOne - 0.5f}, {1.0f, 0.0f}},
      {"NaN error resets", {0.5f, 0.5f}, {1.0f, 0.0f}, {NAN, 0.0f}, {1.0f, 0.0f}}};
  for (const auto& c : cases) {
    TFDAF12 f;
    FDAF12_Init(&f, 256);
    f.reW[0] = c.w.real(), f.imW[0] = c.w.imag();
    float xr[129] = {c.x.real()}, xi[129] = {c.x.imag()}, dr[129] = {c.e.real()}, di[129] = {c.e.imag()};
    FDAF12_Substration(&f, xr, xi, dr, di, 0.0f);
    FDAF12_Adaptation(&f, xr, xi, 1.0f);
    EXPECT_EQ(C(f.reW[0], f.imW[0]), c.expected) << c.what;
  }
}

// References packed at stride maxFbin, as many as the weight arrays hold; no
// reference copies D (the mean over none would be 0/0).
TEST(MulFdaf, InitClampsToCapacityAndNoReferenceCopiesD) {
  const struct { uint32 nref, nfft, expected; } cases[] = {
      {0, 256, 0}, {1, 256, 1}, {9, 256, 7}, {3, 512, 3}, {4, 512, 3}, {3, 1024, 2}};
  std::mt19937 rng(11);
  for (const auto& c : cases) {
    TMulFDAF12 m;
    std::memset(&m, kFill, sizeof m);
    MulFDAF12_Init(&m, c.nref, c.nfft);
    const uint32 n = c.nfft / 2 + 1, used = c.expected * n;
    EXPECT_EQ(m.nReference, c.expected) << c.nref << " references at " << c.nfft;
    EXPECT_TRUE(Fresh(m.reW, m.imW, used, 2 * kMaxBins));
    std::vector<float> xr = Random(used, rng), xi = Random(used, rng), dr = Random(n, rng), di = Random(n, rng);
    float coeff[7] = {1, 1, 1, 1, 1, 1, 1};
    MulFDAF12_Substration(&m, xr.data(), xi.data(), dr.data(), di.data(), coeff);
    for (uint32 k = 0; k < n; k++) ASSERT_TRUE(std::isfinite(m.reE[k]) && std::isfinite(m.imE[k])) << k;
    EXPECT_TRUE(c.expected != 0 || (Same(m.reE, dr.data(), n) && Same(m.imE, di.data(), n)));
  }
}

// Direction detector: the band, the direction-match value and the coherence gain. (The engine
// looks straight ahead, so the quantisation of other look angles is not checked.)

const uint32 kSizes[] = {256, 512, 1024};

// A detector record (zeroed, so whole arrays compare) looking at `angle`.
std::unique_ptr<TsDirect10a> NewDetector(uint32 rate, uint32 nfft, float alfa, float angle) {
  std::unique_ptr<TsDirect10a> d(new TsDirect10a());
  sDirect10a_Init(d.get(), rate, nfft, alfa);
  sDirect10a_SetVectorDirect(d.get(), angle, 0.05f);
  return d;
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
    sDirect10a_Reset(d.get());  // back to no direction and unit gain
    EXPECT_EQ(d->sDirect, 0.0f);
    for (uint32 k = 0; k < bins; k++) ASSERT_EQ(Gain(*d, k), C(1.0f, 0.0f)) << k;
  }
}

// Fast arc tangents, cosines and sines against the C library.
float FromBits(uint32_t u) {
  float f;
  memcpy(&f, &u, sizeof f);
  return f;
}

// The same float; any NaN matches any NaN.
bool SameFloat(float a, float b) { return (std::isnan(a) && std::isnan(b)) || memcmp(&a, &b, sizeof a) == 0; }

struct TUnary {
  const char* name;
  void (*fast)(const mfloat* x, mfloat* y, uint32 n);
  double (*library)(double);
};

// The cosine and the sine come together; each half is checked on its own.
void CosOfSinCos(const mfloat* x, mfloat* c, uint32 n) {
  std::vector<float> s(n);
  FastMath_sincos(x, c, s.data(), n);
}
void SinOfSinCos(const mfloat* x, mfloat* s, uint32 n) {
  std::vector<float> c(n);
  FastMath_sincos(x, c.data(), s, n);
}

double Atan(double x) { return atan(x); }
double Cos(double x) { return cos(x); }
double Sin(double x) { return sin(x); }
const TUnary kUnaries[] = {{"atan", FastMath_atan, Atan}, {"cos", FastMath_cos, Cos},
                           {"sincos_cos", CosOfSinCos, Cos}, {"sincos_sin", SinOfSinCos, Sin}};

// The 32-bit and ARM64 suites run in an emulator about 20 times slower: they
// check a sixteenth as many arguments there.
#ifdef MICARRAY_EMULATED
const uint32 kCount = 1u << 18;
const uint32 kRun = 256;  // floats on each side of a hard point
#else
const uint32 kCount = 1u << 22;
const uint32 kRun = 4096;
#endif
const uint32 kLongestGroup = 8;  // elements the functions evaluate at once

std::vector<float> AnyBits(uint32 n, uint32 seed) {
  std::mt19937 rng(seed);
  std::vector<float> v(n);
  for (float& x : v) x = FromBits(rng());
  return v;
}

// Uniform in [lo, hi), times 2^e with e uniform in [-spread, spread].
std::vector<float> Uniform(uint32 n, float lo, float hi, uint32 seed, int spread = 0) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(lo, hi);
  std::uniform_int_distribution<int> exponent(-spread, spread);
  std::vector<float> v(n);
  for (float& x : v) x = std::ldexp(value(rng), exponent(rng));
  return v;
}

// kRun consecutive floats on each side of every point, and their negations.
std::vector<float> Around(const std::vector<double>& points) {
  std::vector<float> v;
  for (double p : points) {
    float lo = (float)p, hi = lo;
    for (uint32 k = 0; k < kRun; k++) {
      v.insert(v.end(), {lo, -lo, hi, -hi});
      lo = std::nextafter(lo, -INFINITY);
      hi = std::nextafter(hi, INFINITY);
    }
  }
  return v;
}

const std::vector<float> kSpecials = {0.0f, -0.0f, INFINITY, -INFINITY, NAN, -NAN, FLT_MAX, -FLT_MAX, FLT_MIN,
                                      -FLT_MIN, FromBits(1), FromBits(0x80000001u), 1.0f, 8.0f, 3.1415927f};

// Where the evaluation changes table point or octant: the midpoints between
// table points (for the arc tangent also their reciprocals), the quarter
// turns, the ends of the tables; with the diagonal only, the atan2 ratios.
std::vector<double> HardPoints(bool atan, bool ratios = false) {
  std::vector<double> p = {1.0};
  if (!ratios) p.insert(p.end(), {0.0, 8.0, FLT_MAX, M_PI / 2, M_PI, 3 * M_PI / 2, 2 * M_PI, 5 * M_PI / 2});
  const int grid = atan ? kFastMathAtanGrid : kFastMathCosSinGrid;
  for (int i = 0; i + 1 < (atan ? kFastMathAtanPoints : kFastMathCosSinPoints); i++) {
    p.push_back((i + 0.5) / grid);
    if (atan && !ratios) p.push_back(grid / (i + 0.5));
  }
  return p;
}

// Differences from the library; the first few are reported.
uint32 Check(const TUnary& f, const std::vector<float>& x) {
  std::vector<float> y(x.size());
  f.fast(x.data(), y.data(), (uint32)x.size());
  uint32 differences = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const float exact = (float)f.library((double)x[i]);
    if (!SameFloat(y[i], exact) && differences++ < 5)
      ADD_FAILURE() << f.name << "(" << std::hexfloat << x[i] << ") = " << y[i] << ", library " << exact;
  }
  return differences;
}

uint32 CheckAtan2(const std::vector<float>& y, const std::vector<float>& x) {
  std::vector<float> r(x.size());
  FastMath_atan2(y.data(), x.data(), r.data(), (uint32)x.size());
  uint32 differences = 0;
  for (size_t i = 0; i < x.size(); i++) {
    const float exact = (float)atan2((double)y[i], (double)x[i]);
    if (!SameFloat(r[i], exact) && differences++ < 5)
      ADD_FAILURE() << "atan2(" << std::hexfloat << y[i] << ", " << x[i] << ") = " << r[i] << ", library " << exact;
  }
  return differences;
}

// The hardest arguments an exhaustive run found: the library's result lies within 2^-45
// of a rounding boundary (atan(0x1.1ad646p-4) on one), beyond what a fast evaluation settles.
const std::pair<const char*, std::vector<float>> kHardest[] = {
    {"atan", {0x1.1ad646p-4f, -0x1.1ad646p-4f, 0x1.f83792p-9f, 0x1.ac6ff4p-10f, 0x1.e00a3p+25f, 0x1.120b18p+0f}},
    {"cos", {0x1p-12f, 0x1.20ffccp-7f, 0x1.a8872ap-11f, -0x1.1e377ap-11f}},
    {"sincos_cos", {0x1p-12f, 0x1.20ffccp-7f}},
    {"sincos_sin", {0x1.e7061ep-2f, 0x1.9eab2ep-4f, 0x1.e64002p-2f, -0x1.41f49cp+0f}}};

class Unary : public ::testing::TestWithParam<TUnary> {};

// Random bit patterns, the engine's ranges (phases, beam quotients), the hard points, the
// special values, each hardest argument in every lane of a group, and every length up to two
// groups (each position of a group a tail once, nothing written past the last element).
TEST_P(Unary, MatchesTheLibraryOnEveryPath) {
  const TUnary& f = GetParam();
  EXPECT_EQ(Check(f, AnyBits(kCount, 1)), 0u);
  EXPECT_EQ(Check(f, Uniform(kCount, -4.712389f, 4.712389f, 2)), 0u);
  EXPECT_EQ(Check(f, Uniform(kCount, -1.0f, 1.0f, 3, 30)), 0u);
  EXPECT_EQ(Check(f, Around(HardPoints(f.fast == FastMath_atan))), 0u);
  EXPECT_EQ(Check(f, kSpecials), 0u);
  for (const auto& [name, hardest] : kHardest)
    if (std::string(name) == f.name) {
      for (float h : hardest) EXPECT_EQ(Check(f, std::vector<float>(2 * kLongestGroup, h)), 0u);
    }
  const std::vector<float> x = Uniform(2 * kLongestGroup, -3.0f, 3.0f, 4);
  for (uint32 n = 0; n <= x.size(); n++) {
    std::vector<float> y(n + 1, 42.0f);
    f.fast(x.data(), y.data(), n);
    for (uint32 i = 0; i < n; i++) EXPECT_TRUE(SameFloat(y[i], (float)f.library((double)x[i])));
    EXPECT_EQ(y[n], 42.0f) << "n = " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Functions, Unary, ::testing::ValuesIn(kUnaries),
                         [](const ::testing::TestParamInfo<TUnary>& p) { return std::string(p.param.name); });

// Random bit patterns, coherence values (also over many orders of magnitude), the hardest
// pairs an exhaustive run met, every pair of special values (atan2(+-0, -0) is +-pi), and
// ratios around the diagonal and the table's midpoints, both ways round, at random scales, in
// all quadrants.
TEST(Atan2, MatchesTheLibrary) {
  EXPECT_EQ(CheckAtan2(AnyBits(kCount, 5), AnyBits(kCount, 6)), 0u);
  EXPECT_EQ(CheckAtan2(Uniform(kCount, -1.0f, 1.0f, 7), Uniform(kCount, -1.0f, 1.0f, 8)), 0u);
  EXPECT_EQ(CheckAtan2(Uniform(kCount, -1.0f, 1.0f, 9, 100), Uniform(kCount, -1.0f, 1.0f, 10, 100)), 0u);
  std::vector<float> y = {-0x1.570aeap-1f, 0x1.307918p-3f, 0x1.ab72dap-4f, 0x1.9cfa7p-4f};
  std::vector<float> x = {-0x1.e276eap-1f, -0x1.ddd3b2p-3f, -0x1.8c095ep-1f, -0x1.65c49cp-1f};
  for (float a : kSpecials)
    for (float b : kSpecials) y.push_back(a), x.push_back(b);
  const std::vector<float> r = Around(HardPoints(true, true)), scales = Uniform((uint32)r.size(), 1.0f, 2.0f, 11, 20);
  for (size_t i = 0; i < r.size(); i++)
    for (float sx : {scales[i], -scales[i]}) {
      y.insert(y.end(), {r[i] * scales[i], sx});
      x.insert(x.end(), {sx, r[i] * scales[i]});
    }
  EXPECT_EQ(CheckAtan2(y, x), 0u);
}

// By hand: every float argument of the one-argument functions, and 2^31 random pairs (all bit
// patterns, coherence values) for atan2.
TEST(FastMath, EveryArgumentWhenAsked) {
  const char* asked = std::getenv("MICARRAY_EXHAUSTIVE");
  if (asked == nullptr) GTEST_SKIP() << "MICARRAY_EXHAUSTIVE=all|atan|cos|sincos_cos|sincos_sin|atan2";
  const uint32 kBlock = 1u << 16;
  auto wanted = [&](const std::string& name) { return std::string(asked) == "all" || name == asked; };
  std::vector<float> x(kBlock);
  for (const TUnary& f : kUnaries)
    for (uint64_t start = 0; wanted(f.name) && start < (1ull << 32); start += kBlock) {
      for (uint32 i = 0; i < kBlock; i++) x[i] = FromBits((uint32_t)(start + i));
      ASSERT_EQ(Check(f, x), 0u);
    }
  for (uint32 seed = 0; wanted("atan2") && seed < (1u << 16); seed += 4) {
    ASSERT_EQ(CheckAtan2(AnyBits(kBlock, seed), AnyBits(kBlock, seed + 1)), 0u);
    ASSERT_EQ(CheckAtan2(Uniform(kBlock, -1.0f, 1.0f, seed + 2), Uniform(kBlock, -1.0f, 1.0f, seed + 3)), 0u);
  }
}

}  // namespace
