// The adaptive engine on free-field scenes of sums of sinusoids, each evaluated
// at its exact arrival time (in a room, with diffuse tails added); quality is
// SI-SDR against the target at microphone 0 after the first second.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "mvdr/mvdr_engine.h"
#include "mvdr/mvdr_comod.h"
#include "mvdr/mvdr_harmonic.h"
#include "mvdr/mvdr_stft.h"

namespace {

const double kPi = 3.14159265358979323846;
const double kSoundSpeed = 343.0;
const double kSettle = 1.0;  // seconds left out of every measurement

enum TKind { kTalker, kNoise };

// A voiced talker (harmonics of a gliding pitch under a moving formant, in
// syllables of 0.2 s with pauses) or broadband noise (random partials).
struct TSource {
  TKind kind;
  double pitch, syllables, offset;  // base pitch (Hz), syllables per second, start (s)
  double top;                       // highest partial, Hz
  std::vector<double> freq, phase;

  TSource(TKind k, uint32_t rate, unsigned seed) : kind(k), top(0.45 * rate) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    pitch = 100.0 + 100.0 * unit(rng), syllables = 2.0 + 1.5 * unit(rng), offset = unit(rng);
    for (int i = 0; i < 96; i++) {
      freq.push_back(100.0 + (top - 100.0) * unit(rng));
      phase.push_back(2.0 * kPi * unit(rng));
    }
  }
  double At(double t) const {
    double v = 0.0;
    if (kind == kNoise) {
      for (size_t i = 0; i < freq.size(); i++) v += std::sin(2.0 * kPi * freq[i] * t + phase[i]);
      return v / std::sqrt((double)freq.size());
    }
    t += offset;
    const double glide = 0.25 * pitch;  // the pitch glides by a quarter at 0.7 Hz
    const double angle =
        2.0 * kPi * (pitch * t + glide / (2.0 * kPi * 0.7) * (1.0 - std::cos(2.0 * kPi * 0.7 * t)));
    const double formant = 600.0 + 500.0 * std::sin(2.0 * kPi * 1.3 * t);
    const double f0 = pitch + glide * std::sin(2.0 * kPi * 0.7 * t);
    for (int h = 1; h <= 40 && h * f0 < top; h++) {
      const double f = h * f0;
      v += (1.0 / (1.0 + (f - formant) * (f - formant) / 9e4) + 0.15 / h) * std::sin(h * angle + phase[h]);
    }
    return std::max(std::sin(2.0 * kPi * syllables * t), 0.0) * v / 3.0;
  }
};

// Two microphone signals (float, interleaved) and the target at microphone 0.
struct TScene {
  uint32_t rate;
  std::vector<float> stereo, target;
};

// In the order of the scene table's columns.
struct TGeometry {
  uint32_t rate = 16000;
  double spacing = 0.05, targetAngle = 0.0, interfererAngle = 60.0;
  double snr = 0.0;  // dB at microphone 0; NAN: no interferer
  TKind interferer = kTalker;
  double gainDb = 0.0, delay = 0.0;  // microphone 1's capsule error (samples)
  double seconds = 4.0;              // long enough for the slow statistics to settle
  double secondAngle = NAN;          // a second interferer of the same kind and level; NAN: none
  double rt60 = 0.0;                 // seconds; above 0, every arrival gets a diffuse reverberant tail
  bool targetOn = true;
  double targetLevel = 0.3;  // peak-ish amplitude, full scale 1
  double wiring = 1.0;       // microphone 1's signal times this: -1 inverted, 0.1 a preamp 20 dB down
};

// Seconds by which microphone 1 hears a source at angle degrees later.
double Lag(const TGeometry& g, double angle) {
  return g.spacing * std::sin(angle * kPi / 180.0) / kSoundSpeed;
}

// A room's diffuse tail on one arrival, added to both microphones' signals
// from microphone 0's dry one: sparse reflections, random in time and sign,
// each from a direction uniform on the sphere (so the tails' coherence
// between the microphones is the diffuse field's sinc, to the sample),
// decaying by 60 dB over rt60 and holding twice the direct sound's energy
// (a talker beyond the critical distance).
void Reverberate(std::vector<float>& x0, std::vector<float>& x1, const TGeometry& g, unsigned seed) {
  const int kReflections = 400;
  const double kTailEnergy = 2.0, kFirst = 0.003;  // energy over the direct sound's; first reflection (s)
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  struct TTap {
    size_t at0, at1;
    double a;
  };
  std::vector<TTap> taps;
  double energy = 0.0;
  for (int j = 0; j < kReflections; j++) {
    const double t = kFirst + (g.rt60 - kFirst) * unit(rng);
    const double a = std::pow(10.0, -3.0 * t / g.rt60) * (unit(rng) < 0.5 ? -1.0 : 1.0);
    const double lag = g.spacing * (2.0 * unit(rng) - 1.0) / kSoundSpeed;  // the axis' cosine is uniform
    taps.push_back({(size_t)(t * g.rate), (size_t)std::lround((t + lag) * g.rate), a}), energy += a * a;
  }
  const std::vector<float> dry = x0;
  for (const TTap& tap : taps) {
    const float a = (float)(tap.a * std::sqrt(kTailEnergy / energy));
    for (size_t k = tap.at0; k < x0.size(); k++) x0[k] += a * dry[k - tap.at0];
    for (size_t k = tap.at1; k < x1.size(); k++) x1[k] += a * dry[k - tap.at1];
  }
}

TScene Render(const TGeometry& g) {
  const TSource talker(kTalker, g.rate, 1), other(g.interferer, g.rate, 2), second(g.interferer, g.rate, 3);
  const size_t n = (size_t)(g.seconds * g.rate);
  std::vector<float> t0(n), i0(n), t1(n), i1(n);
  const double capsule = g.delay / g.rate, lt = Lag(g, g.targetAngle) + capsule;
  const double li = Lag(g, g.interfererAngle) + capsule, l2 = Lag(g, g.secondAngle) + capsule;
  const bool two = !std::isnan(g.secondAngle);
  for (size_t k = 0; k < n; k++) {
    const double t = (double)k / g.rate;
    t0[k] = g.targetOn ? (float)(g.targetLevel * talker.At(t)) : 0.0f;
    t1[k] = g.targetOn ? (float)(g.targetLevel * talker.At(t - lt)) : 0.0f;
    i0[k] = (float)(other.At(t) + (two ? second.At(t) : 0.0));
    i1[k] = (float)(other.At(t - li) + (two ? second.At(t - l2) : 0.0));
  }
  if (g.rt60 > 0.0) Reverberate(t0, t1, g, 10), Reverberate(i0, i1, g, 11);
  double pt = 0.0, pi = 0.0;
  for (size_t k = 0; k < n; k++) pt += (double)t0[k] * t0[k], pi += (double)i0[k] * i0[k];
  const double scale =
      std::isnan(g.snr) ? 0.0 : std::sqrt((g.targetOn ? pt : n * 0.01) / pi) * std::pow(10.0, -g.snr / 20);
  const double gain = g.wiring * std::pow(10.0, g.gainDb / 20);
  // Every capsule hisses a little: independent white noise at -70 dBFS.
  std::mt19937 rng(3);
  std::normal_distribution<double> hiss(0.0, std::pow(10.0, -70.0 / 20));
  TScene s{g.rate, std::vector<float>(2 * n), t0};
  for (size_t k = 0; k < n; k++) {
    s.stereo[2 * k] = (float)(t0[k] + scale * i0[k] + hiss(rng));
    s.stereo[2 * k + 1] = (float)(gain * (t1[k] + scale * i1[k] + hiss(rng)));
  }
  return s;
}

// An engine in its own memory.
struct TEngine {
  std::vector<unsigned char> memory;
  TMvdrArray* it;
  TEngine(uint32_t rate, double spacing, double angle, float floorDb)
      : memory(MvdrArray_Size(rate)),
        it(MvdrArray_Init(memory.data(), rate, (float)spacing, (float)angle, floorDb)) {}
};

// Output aligned with the input (the latency removed), as long as whole hops allow.
std::vector<float> Enhance(TMvdrArray* it, const std::vector<float>& stereo) {
  const uint32_t H = MvdrArray_Hop(it), L = MvdrArray_Latency(it);
  std::vector<float> out(stereo.size() / 2 / H * H);
  for (size_t k = 0; k < out.size() / H; k++) MvdrArray_ProcessFloat(it, &stereo[2 * H * k], &out[H * k]);
  return std::vector<float>(out.begin() + L, out.end());
}

double Energy(const std::vector<float>& x, size_t from, size_t to) {
  double e = 0.0;
  for (size_t k = from; k < to; k++) e += (double)x[k] * x[k];
  return e;
}

// Scale-invariant SDR of estimate against reference over [from, to).
double SiSdr(const std::vector<float>& ref, const std::vector<float>& est, size_t from, size_t to) {
  double rr = 0.0, re = 0.0;
  for (size_t k = from; k < to; k++) rr += (double)ref[k] * ref[k], re += (double)ref[k] * est[k];
  const double a = re / rr;
  double err = 0.0;
  for (size_t k = from; k < to; k++) err += (a * ref[k] - est[k]) * (a * ref[k] - est[k]);
  return 10.0 * std::log10(a * a * rr / err);
}

std::vector<float> Channel(const std::vector<float>& stereo, int c) {
  std::vector<float> x(stereo.size() / 2);
  for (size_t k = 0; k < x.size(); k++) x[k] = stereo[2 * k + c];
  return x;
}

struct TScore {
  double input, output;  // SI-SDR of the microphone and of the output
  double levelDb, overMicDb;  // output level against the target, against the microphone
  double startOverMicDb;      // the same before kSettle
};

// Scores the engine on the scene from kSettle seconds to the end.
TScore Score(const TScene& s, TMvdrArray* it, int reference = 0) {
  const std::vector<float> out = Enhance(it, s.stereo), mic = Channel(s.stereo, reference);
  const size_t from = (size_t)(kSettle * s.rate), to = out.size();
  return {SiSdr(s.target, mic, from, to), SiSdr(s.target, out, from, to),
          10.0 * std::log10(Energy(out, from, to) / Energy(s.target, from, to)),
          10.0 * std::log10(Energy(out, from, to) / Energy(mic, from, to)),
          10.0 * std::log10(Energy(out, 0, from) / Energy(mic, 0, from))};
}

// Every frame size: the analysis gives the DFT of the windowed frame, and
// analysis then synthesis gives back the input one hop late.
TEST(Mvdr, TransformIsTheDftAndSynthesisUndoesIt) {
  static TMvdrStft stft;
  static TMvdrSpectrum x;
  for (uint32_t n = 256; n <= kMvdrMaxFrame; n *= 2) {
    const uint32_t M = n / 2;
    MvdrStft_Init(&stft, n);
    std::mt19937 rng(n);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> in(4 * M), out(4 * M);
    for (float& v : in) v = unit(rng);
    for (uint32_t hop = 0; hop < 4; hop++) {
      MvdrStft_Analyse(&stft, 0, &in[hop * M], &x);
      MvdrStft_Synthesise(&stft, &x, &out[hop * M]);
    }
    double worst = 0.0;  // the last frame, samples M to 4M-1, against a direct DFT
    for (uint32_t k = 0; k <= M; k++) {
      double re = 0.0, im = 0.0;
      for (uint32_t i = 0; i < n; i++) {
        const double v = in[2 * M + i] * std::sin(kPi * i / n), a = 2.0 * kPi * k * i / n;
        re += v * std::cos(a), im -= v * std::sin(a);
      }
      worst = std::max(worst, std::hypot(x.re[k] - re, x.im[k] - im));
    }
    EXPECT_LT(worst, 1e-5 * n) << n;
    for (uint32_t i = M; i < 4 * M; i++) ASSERT_NEAR(out[i], in[i - M], 1e-5) << n << " " << i;
  }
}

// The spatial stage alone (floor 0 dB) at every rate: a lone talker at the look
// direction passes unchanged, a lone interferer is nulled.
TEST(Mvdr, SpatialStageIsDistortionlessAndNullsAnInterfererAtEveryRate) {
  for (uint32_t rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u}) {
    TGeometry g;
    g.rate = rate, g.seconds = 3.0, g.snr = NAN;
    for (double spacing : {0.05, 0.3}) {  // a delay of up to 42 samples between the microphones
      g.spacing = spacing, g.targetAngle = spacing > 0.1 ? -90.0 : 20.0;
      // At 0.3 m endfire the delay (3 % of a frame) is not a pure phase per
      // bin, and the talker leaks into the noise statistics.
      const TScore alone = Score(Render(g), TEngine(rate, g.spacing, g.targetAngle, 0.0f).it);
      EXPECT_NEAR(alone.levelDb, 0.0, 0.2) << rate << " " << spacing;
      EXPECT_GT(alone.output, 25.0) << rate << " " << spacing;
    }
    g.targetOn = false, g.snr = 0.0, g.targetAngle = 0.0, g.spacing = 0.1;
    EXPECT_LT(Score(Render(g), TEngine(rate, g.spacing, g.targetAngle, 0.0f).it).overMicDb, -25.0) << rate;
  }
}

// Power-weighted mean presence probability over the frames after kSettle.
double MeanPresence(const TGeometry& g) {
  const TScene s = Render(g);
  TEngine e(g.rate, g.spacing, g.targetAngle, -12.0f);
  const uint32_t H = MvdrArray_Hop(e.it), bins = H + 1;
  std::vector<float> out(H);
  double weighted = 0.0, total = 0.0;
  for (size_t k = 0; (k + 1) * 2 * H <= s.stereo.size(); k++) {
    MvdrArray_ProcessFloat(e.it, &s.stereo[2 * H * k], out.data());
    if (k * H < kSettle * g.rate) continue;
    for (uint32_t b = 0; b < bins; b++) {
      const double p = (double)e.it->x0.re[b] * e.it->x0.re[b] + (double)e.it->x0.im[b] * e.it->x0.im[b];
      weighted += p * e.it->presence.p[b], total += p;
    }
  }
  return weighted / total;
}

TEST(Mvdr, PresenceIsHighForTheTalkerAloneAndLowForTheInterfererAlone) {
  for (double angle : {0.0, -45.0, 90.0}) {
    TGeometry g;
    g.targetAngle = angle, g.interfererAngle = angle - 60.0 * (angle >= 0 ? 1 : -1);
    g.snr = NAN;
    EXPECT_GT(MeanPresence(g), 0.8) << angle;
    g.targetOn = false, g.snr = 0.0;
    for (TKind kind : {kTalker, kNoise}) {
      g.interferer = kind;
      EXPECT_LT(MeanPresence(g), 0.2) << angle << " " << kind;
    }
  }
}

// The pitch stage on spectra of known harmonicity (16 kHz): a pitch heard in
// the output but not in the blocking reference is the talker's and lifts
// the share on its harmonics below 1 kHz and lowers it between them; one
// the reference holds more clearly is the interferer's, the other way
// round, also while a talker's pitch is the stronger in the output; one
// as clear in both goes to the talker whose envelope its harmonics follow;
// a flat spectrum or no room moves nothing.
TEST(Mvdr, PitchMovesTheShareTowardItsOwner) {
  const uint32_t rate = 16000, n = 512, bins = n / 2 + 1;
  const double pitch = 150.0 * n / rate, otherPitch = 187.5 * n / rate;  // in bins
  auto comb = [&](uint32_t k, double p, double depth) {
    double a = 0.0;
    for (int h = 1; h * p < bins; h++) a += depth * std::exp(-0.5 * std::pow((k - h * p) / 0.5, 2));
    return a;
  };
  static TMvdrHarmonic h;
  static TMvdrSpectrum y, x0, x1;
  std::vector<float> d1Re(bins, 1.0f), d1Im(bins, 0.0f), share(bins), follows(bins, 0.0f);
  // The share after ten frames of y and u = X0 - X1, each 1 plus combs of
  // both pitches at the depths given.
  auto run = [&](double yDepth, double yOther, double uDepth, double uOther, float room) {
    MvdrHarmonic_Init(&h, rate, n);
    for (uint32_t k = 0; k < bins; k++) {
      y.re[k] = x0.re[k] = (float)(1.0 + comb(k, pitch, yDepth) + comb(k, otherPitch, yOther));
      x1.re[k] = x0.re[k] - (float)(1.0 + comb(k, pitch, uDepth) + comb(k, otherPitch, uOther));
      y.im[k] = x0.im[k] = x1.im[k] = 0.0f;
    }
    for (int frame = 0; frame < 10; frame++) {
      std::fill(share.begin(), share.end(), 0.5f);
      MvdrHarmonic_Attribute(&h, &y, &x0, &x1, d1Re.data(), d1Im.data(), follows.data(), room, share.data());
    }
  };
  // Mean share moved on the first pitch's harmonics 2-6 and mid-way after them.
  auto moved = [&](double yDepth, double uDepth, float room, double* onHarmonics, double* between) {
    run(yDepth, 0.0, uDepth, 0.0, room);
    *onHarmonics = *between = 0.0;
    for (int m = 2; m <= 6; m++) {
      *onHarmonics += (share[(uint32_t)std::lround(m * pitch)] - 0.5) / 5.0;
      *between += (share[(uint32_t)std::lround((m + 0.5) * pitch)] - 0.5) / 5.0;
    }
  };
  double on, off;
  moved(30.0, 0.0, 1.0f, &on, &off);
  EXPECT_GT(on, 0.15) << "talker's pitch";
  EXPECT_LT(off, -0.15);
  moved(3.0, 30.0, 1.0f, &on, &off);
  EXPECT_LT(on, -0.05) << "interferer's pitch";
  EXPECT_GT(off, 0.05);
  moved(0.0, 0.0, 1.0f, &on, &off);
  EXPECT_EQ(on, 0.0) << "no pitch";
  // A pitch as clear in the reference as in the output: its owner is
  // whoever's envelope the levels on its harmonics follow.
  for (uint32_t k = 0; k < bins; k++) follows[k] = (float)(0.5 * std::cos(2.0 * kPi * k / pitch));
  moved(30.0, 30.0, 1.0f, &on, &off);
  EXPECT_GT(on, 0.1) << "harmonics that follow the talker";
  EXPECT_LT(off, -0.1);
  std::fill(follows.begin(), follows.end(), 0.0f);
  moved(30.0, 0.0, 0.0f, &on, &off);
  EXPECT_EQ(on, 0.0) << "free field";
  EXPECT_EQ(off, 0.0);
  // Both voiced, the talker's pitch the stronger in y, the interferer's
  // (187.5 Hz) clear in the reference: the share falls on its 3rd and 5th
  // harmonics too, where the talker's comb is at its zero.
  run(30.0, 10.0, 0.0, 30.0, 1.0f);
  for (int m : {3, 5}) EXPECT_LT(share[(uint32_t)std::lround(m * otherPitch)], 0.45f) << "harmonic " << m;
  // Every rate keeps the stage within its arrays: the finest bins come with
  // rates just above a power of two times 250 Hz (8001 Hz: 15.6 Hz bins).
  for (uint32_t r : {8000u, 8001u, 11025u, 16001u, 44100u, 48000u}) {
    std::vector<unsigned char> memory(MvdrArray_Size(r));
    const TMvdrArray* it = MvdrArray_Init(memory.data(), r, 0.05f, 0.0f, -12.0f);
    ASSERT_NE(it, nullptr) << r;
    const TMvdrHarmonic& h = it->post.harmonic;
    EXPECT_LE(h.bins + h.reach, (uint32_t)kMvdrHarmonicBins) << r;
    for (uint32_t reach : {h.reach, it->post.shareReach, it->post.envelopeReach})
      EXPECT_LE(reach, (uint32_t)kMvdrMaxReach) << r;  // what the local means hold
    EXPECT_LT(h.cueHi, it->post.bins) << r;  // the pitch stage reads and moves bins up to cueHi
    EXPECT_LE(it->post.comod.hi, (uint32_t)kMvdrComodBins) << r;
  }
}

// The co-modulation stage with two talkers of independent envelopes: a bin
// whose level (reference and output alike) rises and falls with the
// talker's envelope lifts the share there; one that follows the
// interferer's lowers it; without a room nothing moves.
TEST(Mvdr, ReferenceFollowingAnEnvelopeMovesTheShareTowardItsOwner) {
  const uint32_t rate = 16000, n = 512, bins = n / 2 + 1;
  auto moved = [&](bool followsTalker, float room) {
    static TMvdrComod c;
    static TMvdrSpectrum x0, x1;  // X1 = 0, so u = X0 (d1 = 1); the output y is X0 too
    std::vector<float> d1Re(bins, 1.0f), d1Im(bins, 0.0f), share(bins);
    MvdrComod_Init(&c, rate, n);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> decibels(-30.0f, 0.0f);
    double mean = 0.0;
    for (int frame = 0; frame < 60; frame++) {
      const float talker = std::pow(10.0f, decibels(rng) / 10.0f), interferer = std::pow(10.0f, decibels(rng) / 10.0f);
      for (uint32_t k = 0; k < bins; k++) x0.re[k] = std::sqrt(0.01f * (followsTalker ? talker : interferer));
      std::fill(share.begin(), share.end(), 0.5f);
      MvdrComod_Attribute(&c, &x0, &x0, &x1, d1Re.data(), d1Im.data(), talker, interferer, room, share.data());
      // Mean move over the band, over the last 40 frames.
      for (uint32_t k = c.lo; frame >= 20 && k < c.hi; k++) mean += (share[k] - 0.5) / (40.0 * (c.hi - c.lo));
      EXPECT_EQ(share[c.lo - 1], 0.5f) << "below the band";
      EXPECT_EQ(share[c.hi], 0.5f) << "above the band";
    }
    return mean;
  };
  EXPECT_GT(moved(true, 1.0f), 0.12) << "the talker's reverberation";
  EXPECT_LT(moved(false, 1.0f), -0.12) << "the interferer";
  EXPECT_EQ(moved(true, 0.0f), 0.0) << "free field";
}

// Whole engine, default floor: gains over microphone 0 on short scenes and
// a long one, two interfering talkers, capsule mismatch, spacings from 1 to
// 30 cm, talkers at endfire and a reverberant room; clean input passes
// nearly untouched.
TEST(Mvdr, EnhancesEveryKindOfScene) {
  const std::pair<TGeometry, double> rows[] = {  // the scene, the least gain in dB
      {{16000, 0.05, 0, 60, 0, kTalker}, 20},
      // 16 s: a room detector that misfires late in the free field costs
      // this scene 2 dB or more (+24.2 dB).
      {{16000, 0.05, 0, 60, 0, kTalker, 0, 0, 16}, 23},
      {{16000, 0.05, 0, 20, 5, kTalker}, 12},
      // The beam nulls one; the post-filter's short-term term follows the
      // other (+1.5 dB without it).
      {{16000, 0.05, 0, 60, 0, kTalker, 0, 0, 8, -30}, 2},
      {{8000, 0.05, 0, 30, 0, kNoise}, 8},
      {{48000, 0.05, 0, 90, -5, kNoise}, 19},
      {{16000, 0.05, 0, 60, 0, kTalker, 3, 0.5}, 19},  // capsule mismatch
      {{16000, 0.05, 0, 40, 0, kTalker, 3, -0.5}, 19},
      {{16000, 0.05, 0, -50, 0, kTalker, -3, 0.5}, 19},
      {{16000, 0.05, 30, -30, 0, kTalker, -3, -0.5}, 19},
      // Half a 16 kHz sample is 1.5 at 48 kHz; at 8 kHz a loud source 20
      // degrees off must not pass for the talker's capsules (+5 and +13 dB
      // with the calibration's windows in samples).
      {{48000, 0.05, 0, 60, 0, kTalker, -3, 1.5}, 19},
      {{8000, 0.05, 0, -20, -5, kNoise}, 18},
      {{16000, 0.01, 90, 0, 0, kNoise}, 12},  // a headset: endfire, 1 cm
      {{32000, 0.3, -40, 25, 0, kTalker}, 15},
      // A reverberant room, talker and interferer beyond the critical
      // distance: +5.1 dB, and +1.5 with the room handling off.
      {{16000, 0.05, 0, 50, 0, kTalker, 0, 0, 8, NAN, 0.5}, 3.5},
      // At 8 dB the talker's own reverberation outweighs what the beam
      // could remove, so the room must be found at once: +2.1 dB, and -5.0
      // with the room handling off.
      {{16000, 0.05, 0, 50, 8, kTalker, 0, 0, 6, NAN, 0.5}, 0.5}};
  for (const auto& row : rows) {
    const TGeometry& g = row.first;
    const TScore s = Score(Render(g), TEngine(g.rate, g.spacing, g.targetAngle, -12.0f).it);
    EXPECT_GT(s.output - s.input, row.second) << "row " << &row - rows << ", output " << s.output;
  }
  // Microphone 1 wired inverted or its preamp 20 dB down: put right on
  // input, so the engine still beamforms. Before an inversion is judged the
  // beam would cancel a talker straight ahead: a clean one keeps its first
  // quarter second (16.6 dB when the beam ran meanwhile).
  for (double wiring : {-1.0, 0.1, -0.1}) {
    TGeometry g;
    g.wiring = wiring;
    const TScore s = Score(Render(g), TEngine(g.rate, g.spacing, g.targetAngle, -12.0f).it);
    EXPECT_GT(s.output - s.input, 15.0) << wiring;
    if (wiring > 0.0) continue;
    g.snr = NAN;
    const TScene talker = Render(g);
    const std::vector<float> out = Enhance(TEngine(g.rate, g.spacing, g.targetAngle, -12.0f).it, talker.stereo);
    EXPECT_GT(SiSdr(talker.target, out, 0, g.rate / 4), 30.0) << wiring;
  }
  TGeometry clean;
  clean.snr = NAN;
  const TScore s = Score(Render(clean), TEngine(16000, 0.05, 0.0, -12.0f).it);
  EXPECT_GT(s.output, 30.0);
  EXPECT_NEAR(s.levelDb, 0.0, 0.5);
  // Rumble below the voices' band that both microphones hear alike (the
  // beam passes it and the blocking reference hears none of it), about as
  // loud as the talker, at rates with the coarsest and the finest bins.
  for (uint32_t rate : {8000u, 16000u, 44100u, 48000u}) {
    clean.rate = rate;
    TScene rumbled = Render(clean);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::pair<double, double>> partials;
    for (int i = 0; i < 8; i++) partials.push_back({20.0 + 45.0 * unit(rng), 2.0 * kPi * unit(rng)});
    for (size_t k = 0; k < rumbled.target.size(); k++) {
      double v = 0.0;
      for (const auto& p : partials) v += std::sin(2.0 * kPi * p.first * k / rate + p.second);
      for (int c = 0; c < 2; c++) rumbled.stereo[2 * k + c] += (float)(0.03 * v);
    }
    const TScore r = Score(rumbled, TEngine(rate, 0.05, 0.0, -12.0f).it);
    EXPECT_GT(r.output - r.input, 9.0) << rate;  // +10.5 to +11.4 dB; +3.9 to +7.8 tracked like other bins
  }
}

// A dead channel (silent, resting at a constant, or clipped hard) hands the
// output to the good microphone: the talker keeps its level, the output is
// at least as clean as that microphone, and the bad channel never bursts
// into it (a clipped one is tens of dB louder), from the first frame on,
// even where the scene starts softly (6 dB down for half a second, then
// rising over the next) and the overdriven channel clips only its peaks at
// first. Where it starts 20 dB down, that channel does not clip at first
// and takes the output, as the louder of two far apart; once it clips the
// output leaves it at once.
TEST(Mvdr, DeadChannelFallsBackToTheGoodMicrophone) {
  enum TFault { kZeros, kDc, kClipped, kClippedSoftly, kClippedLate };
  for (int dead : {0, 1})
    for (TFault fault : {kZeros, kDc, kClipped, kClippedSoftly, kClippedLate}) {
      TGeometry g;
      g.snr = 10.0, g.interferer = kNoise;
      TScene s = Render(g);
      const float start = fault == kClippedSoftly ? 0.5f : fault == kClippedLate ? 0.1f : 1.0f;
      for (size_t k = 0; k < g.rate; k++) {
        const float w = k < g.rate / 2 ? start : start + (1.0f - start) * (float)(k - g.rate / 2) / (float)(g.rate / 2);
        s.target[k] *= w, s.stereo[2 * k] *= w, s.stereo[2 * k + 1] *= w;
      }
      // A quiet second (40 dB down): an overdriven channel stops clipping
      // there, yet must not take over from its partner, now far quieter.
      for (size_t k = 2 * g.rate; k < 3 * g.rate; k++)
        s.target[k] *= 0.01f, s.stereo[2 * k] *= 0.01f, s.stereo[2 * k + 1] *= 0.01f;
      for (size_t k = 0; k < s.stereo.size() / 2; k++) {
        float& x = s.stereo[2 * k + dead];
        x = fault == kZeros ? 0.0f : fault == kDc ? 0.5f : std::max(-1.0f, std::min(1.0f, 30.0f * x));
      }
      const TScore score = Score(s, TEngine(g.rate, g.spacing, 0.0, -12.0f).it, 1 - dead);
      EXPECT_NEAR(score.levelDb, 0.0, 2.0) << dead << " " << fault;
      EXPECT_GT(score.output, score.input) << dead << " " << fault;
      if (fault != kClippedLate) {
        EXPECT_LT(score.startOverMicDb, 1.0) << dead << " " << fault;
      } else {
        // From the rise on, the output stays near the good microphone's
        // level: +1.9 dB (+10.5 while the overdriven channel took the output
        // until it clipped hard, +3.7 while the output left it through the
        // beam).
        const std::vector<float> out = Enhance(TEngine(g.rate, g.spacing, 0.0, -12.0f).it, s.stereo);
        const std::vector<float> mic = Channel(s.stereo, 1 - dead);
        const size_t from = g.rate / 2, to = 3 * g.rate / 2;
        EXPECT_LT(10.0 * std::log10(Energy(out, from, to) / Energy(mic, from, to)), 2.5) << dead;
      }
      // A silent or resting channel: from the first frame on the output is
      // the good microphone's sound (+9.4 dB over the first 0.2 s; +5.8 while
      // the beam still took the silence in, -50 and +2.4 while the high-pass
      // turned the resting level into a step).
      if (fault >= kClipped) continue;
      const std::vector<float> out = Enhance(TEngine(g.rate, g.spacing, 0.0, -12.0f).it, s.stereo);
      EXPECT_GT(SiSdr(Channel(s.stereo, 1 - dead), out, 0, g.rate / 5), 8.0) << dead << " " << fault;
    }
  // A dead input's hiss, 40 dB below a loud partner clipped hard: the
  // partner, which still carries the talker, keeps the output (it went to
  // the hiss, and the output came out 67 dB down).
  for (int dead : {0, 1}) {
    TGeometry g;
    g.snr = 10.0, g.interferer = kNoise;
    TScene s = Render(g);
    const std::vector<float> mic = Channel(s.stereo, 1 - dead);
    std::mt19937 rng(11);
    std::normal_distribution<double> hiss(0.0, 0.01 * std::sqrt(Energy(mic, 0, mic.size()) / (double)mic.size()));
    for (size_t k = 0; k < s.stereo.size() / 2; k++) {
      s.stereo[2 * k + dead] = (float)hiss(rng);
      float& x = s.stereo[2 * k + 1 - dead];
      x = std::max(-1.0f, std::min(1.0f, 8.0f * x));
    }
    const std::vector<float> out = Enhance(TEngine(g.rate, g.spacing, 0.0, -12.0f).it, s.stereo);
    const std::vector<float> loud = Channel(s.stereo, 1 - dead);
    const size_t from = g.rate / 2, to = out.size();
    EXPECT_NEAR(10.0 * std::log10(Energy(out, from, to) / Energy(loud, from, to)), 0.0, 2.0) << dead;
  }
}

// After minutes of silence or a burst of NaN and infinities the engine enhances
// the next scene as a fresh one would; after full-scale clipping it still works;
// reset, it is a fresh one bit for bit. Refused settings change nothing.
TEST(Mvdr, RecoversFromSilenceFullScaleAndNonFiniteInputAndReset) {
  TGeometry g;
  g.interferer = kNoise;
  const TScene scene = Render(g);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const size_t second = 2 * g.rate;
  std::vector<float> loud(scene.stereo.begin(), scene.stereo.begin() + 2 * second);
  for (float& x : loud) x = std::max(-1.0f, std::min(1.0f, 40.0f * x));
  std::vector<float> broken(second / 4);
  for (size_t k = 0; k < broken.size(); k++) broken[k] = k % 3 == 0 ? nan : k % 3 == 1 ? inf : -inf;
  const std::vector<std::vector<float>> before = {std::vector<float>(120 * second, 0.0f), broken, loud};
  const TScore fresh = Score(scene, TEngine(g.rate, g.spacing, 0.0, -12.0f).it);
  for (const std::vector<float>& prefix : before) {
    TEngine e(g.rate, g.spacing, 0.0, -12.0f);
    const uint32_t H = MvdrArray_Hop(e.it);
    std::vector<float> head(prefix.begin(), prefix.begin() + prefix.size() / (2 * H) * 2 * H), out(H);
    for (size_t k = 0; k < head.size() / (2 * H); k++) {
      MvdrArray_ProcessFloat(e.it, &head[2 * H * k], out.data());
      for (float y : out) ASSERT_TRUE(std::isfinite(y));
    }
    const TScore s = Score(scene, e.it);
    EXPECT_GT(s.output, &prefix == &before.back() ? s.input + 20.0 : fresh.output - 2.0) << prefix.size();
  }
  // After silence the presence test takes everything for the talker; only
  // the tracking covariance's relearning of a grown reference teaches the
  // engine a noise that starts with the talker, also one 20 degrees off
  // (+16.7 dB; +10.8 when all relearning waited for sources 30 degrees off).
  g.interfererAngle = 20.0;
  const TScene nearby = Render(g);
  TEngine woken(g.rate, g.spacing, 0.0, -12.0f);
  Enhance(woken.it, before.front());
  const TScore s = Score(nearby, woken.it);
  EXPECT_GT(s.output - s.input, 13.0);
  TEngine used(g.rate, g.spacing, 0.0, -12.0f), again(g.rate, g.spacing, 0.0, -12.0f);
  Enhance(used.it, loud);
  MvdrArray_Reset(used.it);
  EXPECT_EQ(Enhance(used.it, scene.stereo), Enhance(again.it, scene.stereo));
  EXPECT_EQ(MvdrArray_Retune(used.it, 0.0f, 0.0f, -12.0f), -1);
  EXPECT_EQ(MvdrArray_Retune(used.it, 0.05f, 91.0f, -12.0f), -1);
  EXPECT_EQ(MvdrArray_Retune(used.it, 0.05f, 0.0f, 1.0f), -1);
  EXPECT_EQ(used.it->angle, 0.0f);
  EXPECT_EQ(MvdrArray_Size(7999), 0u);
  EXPECT_EQ(MvdrArray_Size(48001), 0u);
  EXPECT_EQ(MvdrArray_Latency(again.it), 256u);  // half a 32 ms frame at 16 kHz
  EXPECT_EQ(MvdrArray_Init(again.memory.data(), 16000, 0.05f, -90.5f, -12.0f), nullptr);
}

}  // namespace
