// Input conditioning, the dead-channel fallback and the wiring correction.
#include "mvdr_health.h"

#include <float.h>
#include <math.h>

#include "mvdr_bins.h"

namespace {

// Magnitudes beyond 64 times full scale are broken input, not sound; holding
// them keeps every power far from overflow.
const float kInputLimit = 64.0f;
// High-pass corner: removes DC (a disconnected input often rests at a
// constant) while leaving speech's band untouched.
const float kDcCornerHz = 2.0f;
// A first hop whose mean exceeds 10 times its spread rests at a level (a
// disconnected input) and the high-pass starts from that level: from zero it
// turned the level into an 80 ms step that reached the output 6 to 13 dB
// louder than the talker and was then learned as noise (the talker 16 to 26
// dB low until 0.4 s). Sound starts from zero as before: a start from its
// first sample changed how the beam learns input that begins at full level.
const float kRestingRatio = 10.0f;
// A sample at or above this magnitude counts as clipped (16-bit full scale
// is 32767/32768).
const float kClipLevel = 0.999f;
// Band of the power comparison, where speech and noise carry most power.
const float kBandLoHz = 200.0f, kBandHiHz = 5000.0f;
// Per-hop smoothing of powers and clip fractions (about 0.2 s at 16 ms hops).
const float kHealthSmooth = 0.92f;
// A channel more than 25 dB below the other is dead; microphone mismatch
// (a few dB) and near-field level differences stay well inside.
const float kDeadRatio = 3.16e-3f;
// Below this band power (about -100 dBFS per bin) both channels count as
// silent and nothing is judged.
const float kSilentPower = 1e-10f;
// A channel clipping on more than 10 % of its samples, and three times as
// often as the other, is clipped hard.
const float kClipFraction = 0.1f, kClipExcess = 3.0f;
// Clipping on more than 1 % of the samples makes the transfer between the
// channels nonlinear.
const float kClipNoticed = 0.01f;
// Whether two channels carry the same sound: the correlation over hops of
// their log band powers, smoothed by 0.95 (a third of a second), above 0.3;
// taken as so until the smoothing holds half its weight. A copy of the same
// sound, overdriven or not, rises and falls with its partner's words; a
// dead input's hiss stays level. (The tiny power keeps a silent channel's
// logarithm finite.)
const float kFollowSmooth = 0.95f, kFollowFrom = 0.3f, kFollowHistory = 0.5f, kLevelTiny = 1e-20f;
// A channel found clipped hard stays suspect for 10 s: an overdriven
// preamplifier clips again at the next loud word, and in the pauses
// between it would otherwise pass for healthy (and its partner, tens of
// dB quieter, for dead).
const float kClipHoldSeconds = 10.0f;
// Wiring. Below c / (8 D) any far source reaches the two microphones within
// 45 degrees of each other, so their cross power there is positive (a
// diffuse field's coherence is above 0.9 too): a coherence whose real
// part is below -0.5 means microphone 1 is wired inverted. Levels more than
// 8 dB apart are beyond the calibration's 6 dB: microphone 1 is scaled to
// its partner's level (a gain per channel changes nothing else for the
// beam). Both judged after a second of sound (a frame of hiss alone can
// show any sign or level), or after 0.16 s where the signs are clear: a
// coherence below -0.8 or levels 15 dB apart (independent hiss over ten
// frames of even a few bins stays far from either). The band stops at
// 1 kHz (speech's strong part). Below 400 Hz (spacings over 11 cm) it holds
// too little of speech: the window's leakage from above, where the phases
// pass 90 degrees, decides its sign, and polarity is not judged.
const float kWirePhase = 0.125f;  // of a cycle, at the endfire delay
const float kWireMinHz = 400.0f, kWireMaxHz = 1000.0f;
const float kWireSmooth = 0.99f;
const float kWireSeconds = 1.0f, kWireQuickSeconds = 0.16f;
const float kInverted = -0.5f, kClearlyInverted = -0.8f;
const float kLevelApart = 6.31f, kLevelClearlyApart = 31.6f;  // 8 and 15 dB
const float kMaxMic1Gain = 17.8f;  // 25 dB: beyond, the channel counts as dead
// The fallback moves over 0.1 s, so switching makes no click; from a
// channel clipped hard it moves at once (the synthesis overlap still
// crossfades it over a frame): that channel, often 20 dB louder than its
// partner and full of distortion, would otherwise burst into the output.
const float kFallSeconds = 0.1f;
// So it does from a channel 50 dB or more below its partner (one that went
// silent, or rests at a constant the high-pass removes): there is nothing in
// it to cross-fade from, and the 0.1 s during which the beam still took a
// dead channel from the first frame on left the talker 5 to 17 dB in error
// (a dead-microphone scene of the tuning set -0.95 dB against microphone 0,
// -0.36 with the move at once).
const float kSilentRatio = kDeadRatio * kDeadRatio;

// The wiring tests start afresh (at reset, and after a correction).
void RestartWiring(TMvdrHealth* it) {
  it->wire00 = it->wire11 = it->wire01 = it->slow[0] = it->slow[1] = 0.0f;
  it->wireHops = 0;
}

}  // namespace

void MvdrHealth_SetSpacing(TMvdrHealth* it, uint32_t rate, uint32_t n, float distance) {
  const float hz = fminf(kWirePhase * kMvdrSoundSpeed / distance, kWireMaxHz);
  it->wireHi = hz < kWireMinHz ? 0 : (uint32_t)(hz * n / rate);
}

void MvdrHealth_Init(TMvdrHealth* it, uint32_t rate, uint32_t n, float distance) {
  MvdrHealth_SetSpacing(it, rate, n, distance);
  it->half = n / 2;
  it->bandLo = (uint32_t)(kBandLoHz * n / rate);
  it->bandHi = (uint32_t)fminf(kBandHiHz * n / rate, (float)(n / 2));
  it->dcPole = 1.0f - 2.0f * 3.14159265f * kDcCornerHz / (float)rate;
  it->fallStep = (float)it->half / (kFallSeconds * (float)rate);
  it->clipHoldHops = MvdrHops(kClipHoldSeconds, rate, n);
  it->wireJudged = MvdrHops(kWireSeconds, rate, n);
  it->wireQuick = MvdrHops(kWireQuickSeconds, rate, n);
  MvdrHealth_Reset(it);
}

void MvdrHealth_Reset(TMvdrHealth* it) {
  for (int c = 0; c < 2; c++) {
    it->dcIn[c] = it->dcOut[c] = it->power[c] = it->clipped[c] = it->clippedNow[c] = 0.0f;
    it->clipHold[c] = 0;
  }
  it->dcStarted = false;
  it->level[0] = it->level[1] = it->levelSq[0] = it->levelSq[1] = it->levelCross = it->levelWeight = 0.0f;
  it->fallback = 0.0f;
  it->good = 0;
  RestartWiring(it);
  it->mic1Gain = 1.0f;
  it->rewired = false;
}

namespace {

// Channel c of the interleaved hop, bounded (NaN and infinities to 0) and
// scaled by gain, into out; the count of clipped samples into clipped.
MVDR_INLINE void Bound_Body(const float* __restrict stereo, int c, float gain, float* __restrict out,
                            uint32_t count, uint32_t* __restrict clipped) {
  uint32_t clips = 0;
  for (uint32_t i = 0; i < count; i++) {
    const float v = stereo[2 * i + c];
    const float bounded = v < -kInputLimit ? -kInputLimit : (v > kInputLimit ? kInputLimit : v);
    const float x = fabsf(v) <= FLT_MAX ? bounded : 0.0f;
    clips += fabsf(x) >= kClipLevel;
    out[i] = x * gain;
  }
  *clipped = clips;
}
MVDR_DISPATCH(Bound,
              (const float* __restrict stereo, int c, float gain, float* __restrict out, uint32_t count,
               uint32_t* __restrict clipped),
              (stereo, c, gain, out, count, clipped))

// The high-pass of channel c starts from the level its first hop x rests
// at, if it rests (kRestingRatio); otherwise from zero.
void StartAtRest(TMvdrHealth* it, int c, const float* x) {
  float sum = 0.0f, squares = 0.0f;
  for (uint32_t i = 0; i < it->half; i++) sum += x[i], squares += x[i] * x[i];
  const float mean = sum / (float)it->half, spread = squares / (float)it->half - mean * mean;
  if (mean * mean > kRestingRatio * kRestingRatio * spread) it->dcIn[c] = mean;
}

}  // namespace

void MvdrHealth_Condition(TMvdrHealth* it, const float* stereo, float* mic0, float* mic1) {
  float* out[2] = {mic0, mic1};
  const float gain[2] = {1.0f, it->mic1Gain};
  for (int c = 0; c < 2; c++) {
    uint32_t clips;
    Bound(stereo, c, gain[c], out[c], it->half, &clips);
    it->clippedNow[c] = (float)clips / (float)it->half;
    it->clipped[c] = kHealthSmooth * it->clipped[c] + (1.0f - kHealthSmooth) * it->clippedNow[c];
  }
  if (!it->dcStarted)
    for (int c = 0; c < 2; c++) StartAtRest(it, c, out[c]);
  it->dcStarted = true;
  // y[n] = e[n] + a y[n-1], e[n] = x[n] - x[n-1], two samples a step: with
  // y[n+1] = (e[n+1] + a e[n]) + a^2 y[n-1] each step waits on one multiply
  // and add for both, y[n] branching off. The channels' chains run side by
  // side. (Hops are even.)
  const float pole = it->dcPole, pole2 = pole * pole;
  float in[2] = {it->dcIn[0], it->dcIn[1]}, prev[2] = {it->dcOut[0], it->dcOut[1]};
  for (uint32_t i = 0; i < it->half; i += 2)
    for (int c = 0; c < 2; c++) {
      const float e0 = out[c][i] - in[c], e1 = out[c][i + 1] - out[c][i];
      in[c] = out[c][i + 1];
      out[c][i] = e0 + pole * prev[c];
      prev[c] = (e1 + pole * e0) + pole2 * prev[c];
      out[c][i + 1] = prev[c];
    }
  // A denormal tail of the recursion after long silence would only cost time.
  for (int c = 0; c < 2; c++) it->dcIn[c] = in[c], it->dcOut[c] = fabsf(prev[c]) < 1e-30f ? 0.0f : prev[c];
}

namespace {

// The wiring tests on this frame (microphone 1 as corrected so far); a
// correction restarts them.
void Rewire(TMvdrHealth* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, bool faulty) {
  it->rewired = false;
  // Nothing is learned from a dead or clipped channel, or from silence.
  if (faulty || it->power[0] <= kSilentPower || it->power[1] <= kSilentPower) return;
  float p0 = 0.0f, p1 = 0.0f, cr = 0.0f;
  for (uint32_t k = 1; k < it->wireHi; k++) {
    p0 += x0->re[k] * x0->re[k] + x0->im[k] * x0->im[k];
    p1 += x1->re[k] * x1->re[k] + x1->im[k] * x1->im[k];
    cr += x0->re[k] * x1->re[k] + x0->im[k] * x1->im[k];
  }
  it->wire00 = kWireSmooth * it->wire00 + p0;
  it->wire11 = kWireSmooth * it->wire11 + p1;
  it->wire01 = kWireSmooth * it->wire01 + cr;
  for (int c = 0; c < 2; c++) it->slow[c] = kWireSmooth * it->slow[c] + it->power[c];
  if (++it->wireHops < it->wireQuick) return;
  const bool settled = it->wireHops >= it->wireJudged;
  const float inverted = settled ? kInverted : kClearlyInverted;
  const float apart = settled ? kLevelApart : kLevelClearlyApart;
  float gain = 1.0f;
  if (it->wire01 < inverted * sqrtf(it->wire00 * it->wire11)) gain = -1.0f;
  const float ratio = it->slow[0] / it->slow[1];
  if (ratio > apart || ratio * apart < 1.0f) gain *= sqrtf(ratio);
  const float next = it->mic1Gain * gain;
  if (gain != 1.0f && fabsf(next) <= kMaxMic1Gain && fabsf(next) >= 1.0f / kMaxMic1Gain) {
    it->mic1Gain = next;
    it->rewired = true;
    RestartWiring(it);
  }
}

}  // namespace

namespace {

// Whether the two channels carry the same sound, from this hop's band
// powers (kFollowSmooth).
bool Follows(TMvdrHealth* it, const float* p) {
  const float l0 = logf(p[0] + kLevelTiny), l1 = logf(p[1] + kLevelTiny), b = 1.0f - kFollowSmooth;
  it->level[0] = kFollowSmooth * it->level[0] + b * l0, it->level[1] = kFollowSmooth * it->level[1] + b * l1;
  it->levelSq[0] = kFollowSmooth * it->levelSq[0] + b * l0 * l0;
  it->levelSq[1] = kFollowSmooth * it->levelSq[1] + b * l1 * l1;
  it->levelCross = kFollowSmooth * it->levelCross + b * l0 * l1;
  it->levelWeight = kFollowSmooth * it->levelWeight + b;
  const float w = it->levelWeight, e0 = it->level[0] / w, e1 = it->level[1] / w;
  const float v0 = it->levelSq[0] / w - e0 * e0, v1 = it->levelSq[1] / w - e1 * e1;
  const float cov = it->levelCross / w - e0 * e1;
  return w < kFollowHistory || cov > kFollowFrom * sqrtf(fmaxf(v0 * v1, 0.0f));
}

}  // namespace

void MvdrHealth_Judge(TMvdrHealth* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1) {
  const TMvdrSpectrum* x[2] = {x0, x1};
  float p[2];
  for (int c = 0; c < 2; c++) {
    p[c] = 0.0f;
    for (uint32_t k = it->bandLo; k < it->bandHi; k++)
      p[c] += x[c]->re[k] * x[c]->re[k] + x[c]->im[k] * x[c]->im[k];
    p[c] /= (float)(it->bandHi - it->bandLo);
    it->power[c] = kHealthSmooth * it->power[c] + (1.0f - kHealthSmooth) * p[c];
  }
  const bool follows = Follows(it, p);
  // Judged on the smoothed fractions and on this hop's alone, so that the
  // first clipped hop already counts.
  float clip[2];
  for (int c = 0; c < 2; c++) clip[c] = fmaxf(it->clipped[c], it->clippedNow[c]);
  for (int c = 0; c < 2; c++) {
    const int o = 1 - c;
    if (clip[c] > kClipFraction && clip[c] > kClipExcess * clip[o])
      it->clipHold[c] = it->clipHoldHops;
    else if (it->clipHold[c] > 0)
      it->clipHold[c]--;
  }
  // A channel 25 to 50 dB louder than its partner that clips at all, where
  // the two carry the same sound, is overdriven, not the partner dead: a
  // preamplifier 30 dB too hot clips only a few percent of the samples while
  // a scene starts softly, too few to count as clipped hard, and the level
  // test alone then handed the output to it (its first hops at the output 14
  // dB above the talker, and the noise statistics learned from them held the
  // talker down for a second). Far below a partner clipped hard, a channel
  // that does not follow it (a dead input's hiss) is dead all the same, and
  // the clipped partner, which still carries the talker, keeps the output.
  bool hot[2], over[2], dead[2], bad[2];  // over: clipped hard or hot
  for (int c = 0; c < 2; c++) {
    const int o = 1 - c;
    hot[c] = follows && clip[c] > kClipNoticed && it->power[o] < kDeadRatio * it->power[c] &&
             it->power[o] >= kSilentRatio * it->power[c];
    over[c] = it->clipHold[c] > 0 || hot[c];
  }
  for (int c = 0; c < 2; c++) {
    const int o = 1 - c;
    dead[c] = it->power[o] > kSilentPower && it->power[c] < kDeadRatio * it->power[o] &&
              !(it->clipHold[o] && follows) && !hot[o];
  }
  for (int c = 0; c < 2; c++) bad[c] = dead[c] || (over[c] && !dead[1 - c]);
  Rewire(it, x0, x1, bad[0] || bad[1]);
  // Until the wiring is judged, a negative cross power where every source
  // arrives in phase points to an inverted channel, against which the beam
  // cancels the talker: microphone 0 passes alone meanwhile (at the start
  // the beam is delay-and-sum, and its first tenth of a second came out as
  // loud as the talker in error).
  const bool suspect = it->wireHi > 0 && it->wireHops < it->wireQuick && it->wire01 < 0.0f;
  if (bad[0] != bad[1]) {
    const uint32_t good = bad[0] ? 1 : 0;
    // A switch of sides passes through beamforming rather than jumping, but
    // away from a channel found overdriven it jumps, and what was learned
    // goes with it: passing through, the beam mixed that channel, tens of
    // dB louder, into the output for a tenth of a second, and the noise
    // statistics learned from it held the talker down for a second more.
    const bool leaving = good != it->good && it->fallback > 0.0f;
    if (leaving && over[it->good])
      it->good = good, it->fallback = 1.0f, it->rewired = true;
    else if (leaving)
      it->fallback = fmaxf(it->fallback - it->fallStep, 0.0f);
    else
      it->good = good, it->fallback = over[1 - good] || it->power[1 - good] < kSilentRatio * it->power[good]
                                          ? 1.0f
                                          : fminf(it->fallback + it->fallStep, 1.0f);
  } else if (suspect) {
    it->good = 0, it->fallback = 1.0f;
  } else {
    it->fallback = fmaxf(it->fallback - it->fallStep, 0.0f);
  }
}

bool MvdrHealth_Clipping(const TMvdrHealth* it) {
  return it->clipped[0] > kClipNoticed || it->clipped[1] > kClipNoticed;
}
