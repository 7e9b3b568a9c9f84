// Harmonic attribution: the frame's pitch and whose it is.
#include "mvdr_harmonic.h"

#include <math.h>
#include <string.h>

#include "mvdr_fastmath.h"

namespace {

// Pitch candidates from 70 Hz, each 2 % above the last (88 reach 400 Hz);
// harmonics counted up to 1.5 kHz, where they are still resolved in a 32 ms
// frame.
const float kLowestPitchHz = 70.0f, kPitchStep = 0.02f, kHarmonicTopHz = 1500.0f;
// The fine structure is the log power less its mean over 125 Hz either
// side (the envelope); powers more than 120 dB below the frame's largest
// count as that.
const float kEnvelopeReachHz = 125.0f, kLevelRange = 1e-12f;
// A frame is voiced from a harmonicity (mean log power on the harmonics less
// mid-way between, in nepers) of 1.5, fully from 3.
const float kVoicedFrom = 1.5f, kVoicedSpan = 1.5f;
// The evidence is smoothed over frames by 0.8 and read through tanh(e / 0.5);
// each pitch moves the share by at most 0.3, on bins from 250 Hz (below, the
// share is not used) to 2 kHz (at first 1 kHz, above which the direction tells
// more; the move to 2 kHz is measured below). Attributed so, a pitch that
// matches one talker's (from the talker's and the interferer's own images) is
// that talker's 76 % of the time; by the share on its harmonics, 61 %. 235
// tuning rooms +0.14 dB (0, 5 and 8 dB +0.15, +0.11 and +0.14), STOI +0.002;
// 411 check rooms +0.14 (127 up by more than 0.2 dB, 4 down by 0.2 to 0.32),
// 398 rather than 400 ahead of the WebRTC beamformer by 1 dB or more; the
// tuning rooms at 1, 2, 3, 10 and 30 cm +0.04, +0.10, +0.13, +0.14 and +0.15,
// at 8 and 48 kHz +0.15 and +0.16, with the talker 40 degrees off or 2.5 m away
// +0.17 and +0.10. On 91 of the rooms, with the true pitches of both talkers
// and when each is voiced, combs of 0.2 each would gain 0.7 dB: a better pitch
// tracker has more to give. There a shift of 0.2 gained 0.02 dB less; evidence
// from this frame alone 0.04 less; voicing from 1 or 2, the shift up to 1.5 or
// 2 kHz, the tanh's scale 0.25 or 1 within 0.03 dB. That first form moved the
// share by the stronger pitch only. Each owner's strongest pitch, both combs at
// once, adds 0.008 dB on the tuning set's 7 rooms with the 540 of seeds 7 to 51
// and on the 480 of seeds 58 to 97 alike (3 rooms up by more than 0.2 dB, none
// down by as much; seed 42's lost 8 dB room from -1.15 to -0.94 dB), 0.004 to
// 0.010 at 2 and 10 cm and 8 and 48 kHz. Tracking on top gave nothing: on the
// tuning set's rooms and seeds 7 to 13, preferring a peak near the last frame's
// pitch 0, the owner's evidence summed along the track -0.02 and the share's
// own harmonicity from 1 to 2.5 kHz added to the evidence -0.03; on those 547,
// the pitch refined between candidates +0.001, the interferer's pitch from u's
// harmonicity -0.004, the weaker comb at half or twice its depth or a shift of
// 0.22 or 0.4 within 0.013. A surer owner is what a pitch lacks.
const float kEvidenceSmooth = 0.8f, kEvidenceScale = 0.5f, kShift = 0.3f;
const float kShiftLoHz = 250.0f, kShiftHiHz = 2000.0f;
// A picked pitch's evidence gains, at a weight of 1, the co-modulation cue on
// its harmonics less that between them (as far as the shift, the last frame's).
// Whether a bin's level follows the talker's envelope or the interferer's errs
// otherwise than the reference's harmonicity does; it moves each bin's share
// itself too, but here it counts for a pitch's harmonics together. Against each
// owner's pitch alone: the tuning set's 7 rooms and seeds 7 to 51 (547)
// +0.013 dB (2 rooms up by more than 0.2 dB, none down by as much), seeds 58 to
// 97 +0.016 (475 rather than 474 rooms ahead of the WebRTC beamformer by 1 dB
// or more, 3 rather than 4 with a STOI below microphone 0's), seeds 98 to 101
// (only checked) +0.016; the 7 rooms and seeds 7 to 25 at 2 and 10 cm +0.011
// (at 2 cm 169 rather than 167 of 235 ahead by 1 dB or more, one room down by
// 0.21), at 8 and 48 kHz +0.015 and +0.014. Weights of 0.5 and 2 scored +0.010
// and +0.012 on the 547 (2: 6 rooms down by more than 0.2), 4 nothing; the
// harmonics' cue alone, not less that between them, +0.008; read up to 2 kHz,
// +0.010.
const float kFollowWeight = 1.0f;
// With both pitches and their owners so, the shift reaches 2 kHz rather
// than 1: the 547 rooms +0.016 dB (13 up by more than 0.2 dB, none down by
// as much), seeds 58 to 97 +0.013 (one room down by 0.22), seeds 98 to 101
// (only checked) +0.006; the 7 rooms and seeds 7 to 25 at 2 and 10 cm
// +0.009 and +0.020 (at 2 cm 171 rather than 169 of 235 ahead by 1 dB or
// more), at 8 and 48 kHz +0.012 and +0.020. A top of 1.25, 1.5 or 2.5 kHz
// scored +0.006, +0.014 and +0.014 on the 547. Above the 1.5 kHz the
// harmonicity reads, the pitch found below carries the comb on.
const float kTwoPi = 6.28318531f;

// v at fractional bin pos, linear between its two neighbours.
float Between(const float* v, float pos) {
  const uint32_t lo = (uint32_t)pos;
  const float frac = pos - (float)lo;
  return (1.0f - frac) * v[lo] + frac * v[lo + 1];
}

// Adds w to candidate i's comb at fractional bin pos, split between its two
// neighbours.
void Spread(TMvdrHarmonic* it, uint32_t i, float pos, float w) {
  const uint32_t lo = (uint32_t)pos;
  const float frac = pos - (float)lo;
  it->comb[lo][i] += (1.0f - frac) * w;
  it->comb[lo + 1][i] += frac * w;
}

// Log power of bins 0..count-1 of y (which 0) and u = d1 X0 - X1 (1).
MVDR_INLINE void Levels_Body(TMvdrHarmonic* __restrict it, const TMvdrSpectrum* __restrict y,
                             const TMvdrSpectrum* __restrict x0, const TMvdrSpectrum* __restrict x1,
                             const float* __restrict d1Re, const float* __restrict d1Im, uint32_t which,
                             uint32_t count) {
  for (uint32_t k = 0; k < count; k++) {
    float re = y->re[k], im = y->im[k];
    if (which) MvdrReference(x0, x1, d1Re[k], d1Im[k], k, &re, &im);
    it->level[k] = re * re + im * im;
  }
  // The peak in eight lanes (bin k in lane k mod 8), so that the loop
  // vectorises; a maximum is the same in any order.
  float lane[8];
  for (uint32_t j = 0; j < 8; j++) lane[j] = kMvdrPowerFloor;
  for (uint32_t k = 0; k < count; k += 8)
    for (uint32_t j = 0; j < 8; j++) {
      const float power = k + j < count ? it->level[k + j] : 0.0f;
      lane[j] = power > lane[j] ? power : lane[j];
    }
  float peak = lane[0];
  for (uint32_t j = 1; j < 8; j++) peak = lane[j] > peak ? lane[j] : peak;
  const float least = kLevelRange * peak;
  for (uint32_t k = 0; k < count; k++) it->level[k] = MvdrLn(it->level[k] + least);
}
MVDR_DISPATCH(Levels,
              (TMvdrHarmonic* __restrict it, const TMvdrSpectrum* __restrict y, const TMvdrSpectrum* __restrict x0,
               const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re, const float* __restrict d1Im,
               uint32_t which, uint32_t count),
              (it, y, x0, x1, d1Re, d1Im, which, count))

// Harmonicity of every candidate in the fine structure of y and of u (bin
// by bin, so that the candidates fill the vector lanes).
MVDR_INLINE void Harmonicity_Body(TMvdrHarmonic* __restrict it) {
  float* __restrict hy = it->harmonicity[0];
  float* __restrict hu = it->harmonicity[1];
  for (uint32_t i = 0; i < kMvdrPitches; i++) hy[i] = hu[i] = 0.0f;
  for (uint32_t k = 0; k < it->bins; k++) {
    const float fy = it->fine[0][k], fu = it->fine[1][k];
    const float* __restrict comb = it->comb[k];
    for (uint32_t i = 0; i < kMvdrPitches; i++) hy[i] += comb[i] * fy, hu[i] += comb[i] * fu;
  }
}
MVDR_DISPATCH(Harmonicity, (TMvdrHarmonic* __restrict it), (it))

// How much more the levels on a pitch's harmonics (in bins) from cueLo up
// to cueHi follow the talker's envelope than those mid-way below them: the
// mean difference of the co-modulation cue, read between bins.
float Follows(const TMvdrHarmonic* it, const float* follows, float pitch) {
  float sum = 0.0f;
  uint32_t count = 0;
  for (float h = ceilf((float)it->cueLo / pitch); h * pitch < (float)it->cueHi; h += 1.0f, count++)
    sum += Between(follows, h * pitch) - Between(follows, (h - 0.5f) * pitch);
  return count ? sum / (float)count : 0.0f;
}

}  // namespace

void MvdrHarmonic_Init(TMvdrHarmonic* it, uint32_t rate, uint32_t n) {
  const float binHz = (float)rate / (float)n;
  it->bins = (uint32_t)(kHarmonicTopHz / binHz) + 2;
  it->reach = (uint32_t)(kEnvelopeReachHz / binHz + 0.5f);
  it->cueLo = (uint32_t)ceilf(kShiftLoHz / binHz);
  it->cueHi = (uint32_t)(kShiftHiHz / binHz) + 1;
  memset(it->comb, 0, sizeof it->comb);
  for (uint32_t i = 0; i < kMvdrPitches; i++) {
    const float pitch = kLowestPitchHz * expf(kPitchStep * (float)i) / binHz;
    const uint32_t harmonics = (uint32_t)(kHarmonicTopHz / binHz / pitch);
    it->pitch[i] = pitch;
    for (uint32_t h = 1; h <= harmonics; h++) {
      Spread(it, i, (float)h * pitch, 1.0f / (float)harmonics);
      Spread(it, i, ((float)h - 0.5f) * pitch, -1.0f / (float)harmonics);
    }
  }
  MvdrHarmonic_Reset(it);
}

void MvdrHarmonic_Reset(TMvdrHarmonic* it) { memset(it->evidence, 0, sizeof it->evidence); }

void MvdrHarmonic_Attribute(TMvdrHarmonic* it, const TMvdrSpectrum* y, const TMvdrSpectrum* x0,
                            const TMvdrSpectrum* x1, const float* d1Re, const float* d1Im, const float* follows,
                            float room, float* share) {
  for (uint32_t which = 0; which < 2; which++) {
    Levels(it, y, x0, x1, d1Re, d1Im, which, it->bins + it->reach);
    MvdrAround(it->level, it->fine[which], it->bins + it->reach, it->reach);
    for (uint32_t k = 0; k < it->bins; k++) it->fine[which][k] = it->level[k] - it->fine[which][k];
  }
  Harmonicity(it);
  // Evidence: harmonicity in y less in u, averaged with the neighbouring
  // candidates (the ends repeated), smoothed over frames.
  const float* hy = it->harmonicity[0];
  const float* hu = it->harmonicity[1];
  float before = hy[0] - hu[0], here = before;
  for (uint32_t i = 0; i < kMvdrPitches; i++) {
    const float after = i + 1 < kMvdrPitches ? hy[i + 1] - hu[i + 1] : here;
    it->evidence[i] = kEvidenceSmooth * it->evidence[i] + (1.0f - kEvidenceSmooth) * (before + here + after) / 3.0f;
    before = here, here = after;
  }
  // Each talker's strongest pitch: the largest peak of the harmonicity in y
  // among the candidates whose evidence is the talker's (0), and among those
  // whose evidence is the interferer's (1).
  uint32_t best[2] = {0, 0};
  float strongest[2] = {kVoicedFrom, kVoicedFrom};
  for (uint32_t i = 1; i + 1 < kMvdrPitches; i++) {
    const uint32_t owner = it->evidence[i] < 0.0f;
    if (hy[i] > strongest[owner] && hy[i] >= hy[i - 1] && hy[i] >= hy[i + 1]) best[owner] = i, strongest[owner] = hy[i];
  }
  if (best[0] == 0 && best[1] == 0) return;
  // Per pitch, its comb's depth and cos(2 pi k / pitch) from bin to bin by
  // rotation; a pitch not found moves nothing.
  float shift[2], re[2], im[2], turnRe[2], turnIm[2];
  for (uint32_t w = 0; w < 2; w++) {
    const float pitch = it->pitch[best[w]];
    shift[w] = 0.0f;
    if (best[w]) {
      const float voiced = (strongest[w] - kVoicedFrom) / kVoicedSpan;
      const float evidence = it->evidence[best[w]] + kFollowWeight * Follows(it, follows, pitch);
      shift[w] = room * kShift * (voiced < 1.0f ? voiced : 1.0f) * tanhf(evidence / kEvidenceScale);
    }
    const float step = kTwoPi / pitch;
    turnRe[w] = cosf(step), turnIm[w] = sinf(step);
    re[w] = cosf(step * (float)it->cueLo), im[w] = sinf(step * (float)it->cueLo);
  }
  for (uint32_t k = it->cueLo; k < it->cueHi; k++) {
    float moved = share[k];
    for (uint32_t w = 0; w < 2; w++) {
      moved += shift[w] * re[w];
      const float next = re[w] * turnRe[w] - im[w] * turnIm[w];
      im[w] = re[w] * turnIm[w] + im[w] * turnRe[w], re[w] = next;
    }
    share[k] = moved < 0.0f ? 0.0f : moved > 1.0f ? 1.0f : moved;
  }
}
