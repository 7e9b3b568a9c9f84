// The MVDR stage: covariances, closed-form 2x2 weights, beam output.
#include "mvdr_beam.h"

#include <math.h>
#include <string.h>

#include "mvdr_fastmath.h"
#include "mvdr_isa.h"

namespace {

// Short-term covariance: weight of the newest frame (about 50 ms memory).
const float kShortTerm = 0.3f;
// Noise covariance: forgetting 0.98 per frame (about 0.8 s at 16 ms hops)
// where the talker is absent, none where present.
const float kNoiseForget = 0.98f;
// The first frames average plainly, so the noise field is known quickly
// (a talker speaking from the first frame is averaged in too). Without the
// plain start in the tracking covariance, its presence reads the first
// frames as all talker and the room detector judges the input's own
// coherence, finding rooms within four frames (31 development rooms +0.2
// dB); but a loud noise near the talker is then learned at 2 % a frame, the
// stale rule stops at a tenth of its power and presence takes the rest for
// the talker (white noise 30 degrees off at -5 dB, 48 kHz, 10 cm: +15.2 dB
// became +6.6), and the calibration follows it (5 cm, endfire: +8.4 became
// -9.2). The room detector's band around the diffuse zero has a covariance
// of its own without the plain start (below).
const uint32_t kStartFrames = 8;
// Before any frame, white noise far below 16-bit quantisation.
const float kNoiseStart = 1e-6f;
// The noise covariance is stale where the short-term power of the blocking
// reference (which holds no talker) exceeds what the covariance predicts
// for it by 10 dB: after silence, or when the noise grew while the talker
// seemed present. Such bins learn at the full rate, whatever the presence.
const float kStaleRatio = 10.0f;
// ... provided the reference holds a real share of the input power: the
// talker alone leaks into it a little, and learning that leak would cancel
// the talker. The leak grows with the square of the delay between the
// microphones as a part of the frame (a delay is a phase per bin only for
// delays short against the frame): a share of 100 (delay / N)^2, and at
// least -25 dB (steering slightly off before the calibration settles).
// Measured: 0.3 m at 90 degrees needs -11 dB; after silence a talking
// interferer 60 degrees off at 5 cm is relearned only below -20 dB.
const float kLeakPerDelay = 100.0f;
const float kStaleShare = 0.003f;
// A noise that starts after a quiet stretch, together with the talker, is
// taken for the talker where the reference cannot tell them apart (low
// frequencies, or near the talker's direction): presence stays high and the
// tracking covariance never learns it (pink noise 20 degrees off at 0 dB
// after 1 s at -50 dBFS: -10.8 dB, for good; 60 degrees off +3.6 against
// +9.4 without the lead-in). Speech leaves gaps in every bin within a second;
// such a noise does not. So the tracking covariance also relearns at the
// full rate where it holds less than twice the least short-term input power
// of the last 0.5-1 s (that minimum lies below a steady noise's mean, about
// half of it), up to that level. The output beam's covariance keeps its own
// rules (relearning it so cost talker scenes up to 1.8 dB). With the
// calibration's floor test and the envelope restart below: 36 scenes after
// a lead-in at -50 or -40 dBFS (pink and white noise and talkers 20 to 60
// degrees off) +2.6 dB on average, the worst -4.2 dB became +4.4; free-field
// tuning and held-out sets +0.10 and +0.15, steering sets 0.00 and -0.06 (an
// 8 kHz scene -0.6), rooms within 0.01. A 0.25 s block caught the same
// noises as well but cost 8 kHz talker scenes up to 1.9 dB; 0.75 s let the
// calibration lock on before the covariance caught up.
const float kFloorSeconds = 0.5f, kFloorMargin = 2.0f, kNoFloorYet = 1e30f;
// The output beam's covariance relearns a stale bin only for a source
// clearly apart from the talker. In a room the talker's reverberation, which
// does not come from its direction, fills the reference from its first word
// on; relearned, it taught the beam to cancel the talker's reverberant part
// before the room was detected. Below the first zero of a diffuse field's
// coherence, c / 2D, reverberation at centimetre spacings is coherent and
// near the talker's phase, so its share of the reference stays small; a
// source s samples from the talker's delay gives 1 - cos(w s). There the
// reference must hold more than a source half the spacing's delay away
// would (30 degrees off broadside), with s held to a 5 cm array's 73 us (at
// wider spacings the band is narrow, and at 30 cm the test cost a lone
// talker at endfire 0.04 dB). Used for everything, the rule left a noise
// within 30 degrees of the talker unlearned after a quiet start, where
// presence reads 1 everywhere (white noise 20 degrees off: +1.5 dB instead
// of +12.4); the tracking covariance keeps the old rule, so its presence,
// which gates both, falls in the noise's pauses and bins. Measured against
// the old rule alone: 31 development rooms +0.12 dB, held-out rooms +0.76,
// free-field scenes +0.03 to +0.24 on average, the quiet start unchanged.
const float kApartSeparation = 0.5f, kApartMaxSeconds = 73e-6f;
// The noise covariance of a talker alone is the talker's own, leak
// included, and the beam cancels that leak: a lone talker at endfire of a
// 30 cm array came out 0.14 to 0.28 dB low (a leak of about -11 dB). The
// weights take the leak's share times the leak over 0.15 as more diagonal
// loading (about half the leak at 30 cm endfire, where the talker then
// loses at most 0.17 dB and white noise 30 degrees off is removed 0.5 to
// 0.9 dB less), which the square keeps negligible for short delays:
// loading equal to its leak of 0.2 % cost a 5 cm array steered to endfire
// 3.1 dB against such a noise.
const float kLeakLoading = 0.15f;
// Room detector: how coherent the talker is between the microphones. Where
// the talker leads (presence above one half), its covariance is
// Phi_x - Phi_n; the squared coherence |s01|^2 / (s00 s11) is near 1 for a
// direct wave and falls toward a diffuse field's where reverberation
// carries much of the talker's power. Averaged over 1-4 kHz (where a
// diffuse field's coherence is low at centimetre spacings), weighted by the
// talker's power, smoothed over frames (0.99, about 1.6 s); a ratio of two
// sums with the same memory, so it has no start-up bias. Measured on the
// tuning scenes, means after the first second: free field (directional,
// diffuse and several interferers, mismatched capsules, targets off
// broadside, 6 and 16 s) 0.945 or more, its frames' 5th percentile 0.92;
// rooms (RT60 0.25 to 0.7 s, talker 1 to 1.5 m) 0.81 to 0.88 at 0 dB SNR
// and 0.85 to 0.91 at 3 to 8 dB. The room weight rises from 0 at 0.94 to 1
// at 0.91.
const float kRoomLoHz = 1000.0f, kRoomHiHz = 4000.0f;
const float kRoomSmooth = 0.99f, kRoomPresence = 0.5f, kRoomFrom = 0.94f, kRoomSpan = 0.03f;
// The same over a band around the first zero of a diffuse field's
// coherence, sin(x)/x at x = pi, f = c / 2D (3.4 kHz at 5 cm): from 0.6 to
// 1.2 times that frequency, about 2-4 kHz at 5 cm. There rooms stand apart
// earlier and at higher SNR, where the wider band's coherence stays near
// the free field's: rooms 0.58 to 0.88 from the first second on (8 dB rooms
// at 0.65 to 0.84 that the wider band took 5 s to find or never found),
// the evaluation's free-field scenes 0.89 or more once the noise statistics
// have settled, down to 0.85 in the first half second. The band follows
// the spacing because both a diffuse field's coherence and the phase
// between the talker's and a noise's directions go with f D: fixed at 2-4
// kHz, white noise at -5 dB 30 degrees off a 10 cm array read as a room
// (-1.6 dB with a ramp from 0.85). But it stays between the 10 cm band and
// the 5 cm one: at 30 cm (0.34-0.69 kHz) a talker 60 degrees off read as a
// room (-2.1 dB), at 2 cm (5-10 kHz, where speech is weak) talkers 30-40
// degrees off did (-1.2 and -2.2 dB). The room weight is the larger of the
// two bands' ramps; this one rises from 0 at 0.82 to 1 at 0.78. The free
// field's margin is thin: an interfering talker 60 degrees off dipped to
// 0.834 after 9 s of a 16 s scene, and a ramp from 0.85 cost it 2.2 dB
// (from 0.90, talker scenes lost 0.3 dB in their first second); from 0.82
// the rooms lose 0.05 dB on average against 0.85.
// This band measures the talker against a noise covariance of its own,
// learned like the tracking one but without the plain start-up: the plain
// mean takes a talker or reverberant field heard from the first frames for
// noise, and the room then reads only once the talker outgrows it (held-out
// room 1 found at 0.9 s). Without it the first frames judge the input's own
// coherence: low in a room (the interferer's and the talker's
// reverberation) from the first frames on, high for point sources in the
// free field. Diffuse noise reads low too, which the envelope test below
// vetoes (alone, this covariance cost diffuse noise 1.6 dB before that test
// existed). Measured against the plain-started covariance: 31 development
// rooms +0.08 dB, random rooms seeds 7 to 11 +0.04 to +0.15, the tuning and
// held-out free field 0.00 (worst -0.09), the off-broadside sweep -0.01
// (worst -0.23).
const float kRoomHighLo = 0.6f, kRoomHighHi = 1.2f, kRoomHighFrom = 0.82f, kRoomHighSpan = 0.04f;
// The zero's frequency is held between a 10 cm and a 5 cm array's.
const float kRoomHighZeroLoHz = kMvdrSoundSpeed / (2.0f * 0.1f);
const float kRoomHighZeroHiHz = kMvdrSoundSpeed / (2.0f * 0.05f);
// A clear room holds: once the weight has stayed at 1 for a second it keeps
// its value while either band's coherence stays below its ramp's start and,
// above both, fades by kRoomFade per frame (about a second) instead of
// dropping. At 5 to 8 dB SNR a room's mean over 1-4 kHz sits near 0.91 and
// its frames reach 0.94 now and then, which switched the room handling off
// for seconds. The free field reaches 1 only in short dips (off-broadside
// talkers at -5 to -3 dB); holding after any frame at 1 cost those scenes
// up to 1.9 dB.
const uint32_t kRoomHoldFrames = 60;
const float kRoomFade = 1.0f / 60.0f;
// The coherence mistakes a talking interferer for reverberation: its
// moments above its learned average stay in Phi_x - Phi_n and mix a second
// direction into the talker's coherence. At 10 to 30 cm, talkers off
// broadside with a talking interferer read 0.88 to 0.91 and spent half their
// time as rooms (up to 5 dB lost). Reverberation differs in that it carries
// the talker into the blocking reference u, so u's level follows the
// output's from frame to frame; an interferer fills u on its own schedule
// (the beam nulls it in y). Per bin of the wide band, the correlation of
// log |y|^2 and log |u|^2 over frames (smoothed like the coherence, its
// start-up bias divided out), averaged over the band. Means after the first
// second: rooms 0.62 to 0.78 (31 development rooms, and the same rooms at
// 10 cm), the free-field tuning scenes 0.02 to 0.49, an off-broadside sweep
// at 5 to 30 cm 0.08 to 0.60 (1-2 cm arrays at -5 dB up to 0.64, where the
// coherence never reads a room). Below 0.55 it scales the room weight down,
// to 0 at 0.4: the sweep +1.3 dB (its false rooms gone, up to +5 dB), tuning
// free field +0.1, the rooms -0.01 at 5 cm (worst -0.24), -0.03 at 10 cm,
// -0.06 at 30 cm. A dead microphone makes u a copy of y: it never vetoes.
const float kEnvelopeFrom = 0.4f, kEnvelopeSpan = 0.15f;
// A quiet stretch before the scene puts a step into both levels, which then
// correlate for as long as the statistics remember it (a free-field talker
// with pink noise 60 degrees off, after 1 s at -50 dBFS, read as a room for
// four seconds). Where the input's level over the band jumps 20 dB above its
// smoothed log level the statistics start afresh, once they hold a third of
// a second (a weight of 0.2): within a scene the level rose so far only in
// its first frames (a room whose talker starts softly lost 2.6 dB in its
// first second without that wait).
const float kWakeRise = 4.61f;  // ln 100
const float kWakeHistory = 0.2f;
// Together the two cues tell more than either alone. Over its first 0.3 s
// the diffuse-zero band dips to 0.53-0.89 in the development rooms (median
// 0.72) but also to 0.67-0.98 in the free field (medians 0.88 to 0.96), in
// its first second or with a talking interferer; where it reads below 0.86, the
// envelope correlation is 0.60-0.83 in rooms (10th to 99th percentile of
// such frames) and mostly below 0.55 in the free field (a mismatched pair's
// first second reached 0.78). So where that band reads below 0.88 and the
// envelopes clearly follow (0.60 to 0.68), the room weight is at least the
// product of the two ramps, and rooms that read 0.82 to 0.88 are caught in
// their first words instead of after a second: random rooms seeds 8, 9 and
// 12 to 15 +0.01 to +0.19 dB, 31 development rooms +0.03, free field
// unchanged. What it costs: at 0 dB the room handling itself loses (one
// room of seed 7, -0.8 dB), and a near-silent lead-in makes the envelopes
// follow at the step (free field, -0.5 dB).
const float kJointHighFrom = 0.88f, kJointHighSpan = 0.04f, kJointEnvelopeFrom = 0.6f, kJointEnvelopeSpan = 0.08f;
// Rooms with little reverberation (RT60 0.3-0.4 s) at 5-8 dB keep the
// talker coherent enough (1-4 kHz 0.92-0.95, the diffuse-zero band
// 0.84-0.89) that both rules above find them late or half-way, and such a
// room then falls up to 3.6 dB below the same room handled as one. What
// still tells them is the noise: a room's interferer arrives mostly as
// reverberation, whose coherence over the diffuse-zero band (the tracking
// noise covariance's, power-weighted) reads 0.2-0.6, where a far source in
// the free field reads near 1 and diffuse noise, low too, leaves the
// envelopes apart (below 0.11). So where the noise reads below 0.8 (fully
// below 0.7), the envelopes follow (from 0.5, fully at 0.58) and the wide
// band reads below 0.965 (fully at 0.945; a mismatched pair's first second
// otherwise passed), the room weight is at least the product of the three
// ramps. 115 tuning rooms +0.07 dB on average (up to +2.5 dB in a room), 75
// check rooms +0.08; free field at 1 to 30 cm, an off-broadside sweep and
// scenes after a lead-in unchanged (within 0.02 dB on average, the worst
// scene -0.12). The wide band's bound later rose from 0.965 to 0.975 (fully
// at 0.955): large rooms with the talker near at 8 dB read 0.95 there and
// were found half the time (one trailed the WebRTC beamformer by 0.16 dB
// and now leads it by 1.2). 1908 rooms +0.013 dB (38 up by 0.2 dB
// or more, one 0.25 down), 240 drawn after +0.014 (5 up, none down); free
// field (tuning and held-out scenes at 2 to 30 cm, 64 drawn steering and 48
// diffuse-noise scenes) unchanged but two interfering talkers, +0.64. At
// 0.985 the mismatched pair's first seconds read as a room (-0.45 dB).
const float kNoiseCoherenceFrom = 0.8f, kNoiseCoherenceSpan = 0.1f, kIncoherentEnvelopeFrom = 0.5f,
            kIncoherentEnvelopeSpan = 0.08f, kIncoherentWideFrom = 0.975f, kIncoherentWideSpan = 0.02f;
// The envelope test can also veto a room outright: one room in 235 (RT60
// 0.5 s, 8 dB, the interferer 70 degrees off) read 0.80-0.87 over 1-4 kHz
// and 0.71-0.79 around the diffuse zero for all six seconds, far below any
// free-field scene, yet its envelopes followed only 0.28-0.43, and it fell
// 2.2 dB below microphone 0. Where both bands read that low (fully below
// 0.83 and 0.73) the envelopes need only follow a little (from 0.2, fully
// at 0.3): that room +1.0 dB; the 187 other tuning and check rooms within
// 0.01 dB on average, free field at 1 to 10 cm and the lead-in scenes
// unchanged, free field at 30 cm -0.12 dB in one scene (a pink noise 30
// degrees off).
// Up to 5 cm the bounds are higher, 0.88 over 1-4 kHz and 0.82 around the
// diffuse zero (fully 0.85 and 0.79): rooms at 8 dB that read 0.76-0.80
// around the diffuse zero, with envelopes following 0.26-0.43, went
// unfound for seconds: seed 25's first room (RT60 0.45 s, the interferer
// 27 degrees off) came out 2.2 dB below microphone 0 with a STOI 0.024
// below, now 0.2 dB below and 0.015 above. 540 rooms +0.01 dB (6 rather
// than 7 short of the rooms goal), 480, 240 and 240 drawn after +0.01,
// +0.005 and +0.004 (as many short), no room more than 0.13 dB lower; the rooms at 2 cm, at 8 and 48 kHz and with the talker 15 to 40
// degrees off within 0.003 dB on average; free-field tuning and held-out
// scenes at 2 and 5 cm within 0.01 dB, and traced over the drawn steering
// and diffuse-noise scenes (seeds 1-8 and 1-6) the rule never fires. At 30
// cm a recorded voice with pink noise 30 degrees off at -5 dB read as a
// room and lost 2.2 dB, so the bounds return to the ones above as the
// spacing grows to 10 cm.
const float kEvidentWideFrom = 0.86f, kEvidentHighFrom = 0.76f, kEvidentSpan = 0.03f, kEvidentEnvelopeFrom = 0.2f,
            kEvidentEnvelopeSpan = 0.1f;
const float kEvidentWideNear = 0.88f, kEvidentHighNear = 0.82f, kEvidentNearTo = 0.05f, kEvidentFarFrom = 0.10f;
// Below 5 cm a diffuse field stays coherent over both bands (over 1-4 kHz
// its squared coherence, sinc^2(w D / c), averages 0.25 at 5 cm and 0.67 at
// 2 cm), and so does a room: 31 development rooms and seeds 7 and 8 read
// 0.95-0.99 over 1-4 kHz at 2 cm, where at 5 cm they read 0.81-0.91, and
// fell up to 4.3 dB behind the WebRTC beamformer. Below 5 cm each band's
// coherence is read as 1 - (1 - c) / s, s the band's mean diffuse
// incoherence 1 - sinc^2 at this spacing against 5 cm's (0.33 over 1-4 kHz
// at 2 cm, 0.09 at 1 cm). Those 55 rooms at 2 cm then lead it by 1.05 dB
// on average rather than -0.26, at 1 cm by 0.73 rather than 0.19, at 3 cm
// by 1.39 rather than 0.93; free field at 1 to 3 cm unchanged but one
// scene (8 kHz, 2 cm, a talker at -5 dB 44 degrees off: -1.0 dB). A steeper
// rescaling (s^1.6) found more rooms but cost free-field scenes at 2 cm up
// to 4 dB. The floor only keeps the division finite.
const float kScaleSpacing = 0.05f, kMinScale = 0.05f;
const double kPi = 3.14159265358979323846;
// In rooms the MVDR's superdirective correction w - e0 reshapes the talker's
// reverberation about as much as it removes noise: there it counts 0.3,
// and its weights take 0.1 of the noise's mean power more diagonal loading
// (less superdirective). With the room weight forced to 1 on 31 rooms at 0
// to 8 dB: +0.07 dB on average against a share of 0.2 without the loading
// (loading 0.03 or 0.3 the same; a share of 0.5 0.03 dB lower, 0.7 0.18
// lower). Free-field scenes where the detector misfires lose up to 0.4 dB.
const float kRoomShare = 0.3f, kRoomLoading = 0.1f;
// Blocks of the peak search: the peak spans 0.75 to 1.5 s, longer than a
// talking interferer pauses.
const float kBlockSeconds = 0.75f;
// Off-diagonal terms below this go to zero (no subnormal arithmetic).
const float kTiny = 1e-30f;

MVDR_INLINE float Flush(float v) { return __builtin_fabsf(v) < kTiny ? 0.0f : v; }

MVDR_INLINE float Unit(float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; }

// A band's coherence read against a 5 cm array's diffuse field (exactly c
// at 5 cm and wider).
MVDR_INLINE float Rescaled(float c, float scale) { return scale < 1.0f ? 1.0f - (1.0f - c) / scale : c; }

// v^H C v for v = [v0, v1].
MVDR_INLINE float Quadratic(const TMvdrCov* c, uint32_t k, float v0r, float v0i, float v1r, float v1i) {
  // conj(v0) v1
  const float pr = v0r * v1r + v0i * v1i, pi = v0r * v1i - v0i * v1r;
  return (v0r * v0r + v0i * v0i) * c->p00[k] + (v1r * v1r + v1i * v1i) * c->p11[k] +
         2.0f * (pr * c->re01[k] - pi * c->im01[k]);
}

// C <- a C + (1 - a) x x^H with the floors; a per bin.
MVDR_INLINE void Accumulate(TMvdrCov* c, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, uint32_t k,
                            float a) {
  const float b = 1.0f - a;
  const float p0 = x0->re[k] * x0->re[k] + x0->im[k] * x0->im[k];
  const float p1 = x1->re[k] * x1->re[k] + x1->im[k] * x1->im[k];
  const float cr = x0->re[k] * x1->re[k] + x0->im[k] * x1->im[k];
  const float ci = x0->im[k] * x1->re[k] - x0->re[k] * x1->im[k];
  const float q0 = a * c->p00[k] + b * p0, q1 = a * c->p11[k] + b * p1;
  c->p00[k] = q0 > kMvdrPowerFloor ? q0 : kMvdrPowerFloor;
  c->p11[k] = q1 > kMvdrPowerFloor ? q1 : kMvdrPowerFloor;
  c->re01[k] = Flush(a * c->re01[k] + b * cr);
  c->im01[k] = Flush(a * c->im01[k] + b * ci);
}

MVDR_INLINE void Observe_Body(TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0,
                              const TMvdrSpectrum* __restrict x1) {
  for (uint32_t k = 0; k < it->bins; k++) {
    Accumulate(&it->x, x0, x1, k, 1.0f - kShortTerm);
  }
}
MVDR_DISPATCH(Observe,
              (TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0,
               const TMvdrSpectrum* __restrict x1),
              (it, x0, x1))

// With Psi = Phi_n + load I = [[a, c], [conj c, b]], adj(Psi) d = [b - c d1,
// a d1 - conj c]; the determinant cancels in w.
MVDR_INLINE void Weights_Body(TMvdrBeam* __restrict it, const TMvdrCov* __restrict noise,
                              const float* __restrict d1Re, const float* __restrict d1Im, float loading) {
  for (uint32_t k = 0; k < it->bins; k++) {
    const float load = loading * 0.5f * (noise->p00[k] + noise->p11[k]) + kMvdrPowerFloor;
    const float a = noise->p00[k] + load, b = noise->p11[k] + load;
    const float cr = noise->re01[k], ci = noise->im01[k];
    const float dr = d1Re[k], di = d1Im[k];
    const float u0r = b - (cr * dr - ci * di), u0i = -(cr * di + ci * dr);
    const float u1r = a * dr - cr, u1i = a * di + ci;
    float du = u0r + dr * u1r + di * u1i;
    du = du > kMvdrPowerFloor * kMvdrPowerFloor ? du : kMvdrPowerFloor * kMvdrPowerFloor;
    const float inv = 1.0f / du;
    it->w0Re[k] = u0r * inv, it->w0Im[k] = u0i * inv, it->w1Re[k] = u1r * inv, it->w1Im[k] = u1i * inv;
  }
}
MVDR_DISPATCH(Weights,
              (TMvdrBeam* __restrict it, const TMvdrCov* __restrict noise, const float* __restrict d1Re,
               const float* __restrict d1Im, float loading),
              (it, noise, d1Re, d1Im, loading))

// Final weights: the correction to microphone 0 scaled by 1 - room (1 -
// share), blended toward the good microphone by the fallback; the beam
// output and the noise power left in it, w^H (Phi_n + load I) w.
MVDR_INLINE void Apply_Body(TMvdrBeam* __restrict it, const TMvdrCov* __restrict noise,
                            const TMvdrSpectrum* __restrict x0,
                            const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
                            const float* __restrict d1Im, float scale, float fallback, uint32_t good) {
  const float keep = 1.0f - fallback;
  for (uint32_t k = 0; k < it->bins; k++) {
    const float dr = d1Re[k], di = d1Im[k];
    // The fallback: [1, 0] for microphone 0; [0, d1 / |d1|^2] for
    // microphone 1 (its signal aligned and scaled to microphone 0).
    const float dd = 1.0f / (dr * dr + di * di);
    const float f0 = good == 0 ? fallback : 0.0f, f1 = good == 0 ? 0.0f : fallback * dd;
    const float w0r = keep * (1.0f + scale * (it->w0Re[k] - 1.0f)) + f0, w0i = keep * scale * it->w0Im[k];
    const float w1r = keep * scale * it->w1Re[k] + f1 * dr, w1i = keep * scale * it->w1Im[k] + f1 * di;
    it->w0Re[k] = w0r, it->w0Im[k] = w0i, it->w1Re[k] = w1r, it->w1Im[k] = w1i;
    const float load = kMvdrLoading * 0.5f * (noise->p00[k] + noise->p11[k]) + kMvdrPowerFloor;
    const float left =
        Quadratic(noise, k, w0r, w0i, w1r, w1i) + load * (w0r * w0r + w0i * w0i + w1r * w1r + w1i * w1i);
    it->residual[k] = left > kMvdrPowerFloor ? left : kMvdrPowerFloor;
    // y = conj(w0) X0 + conj(w1) X1
    it->y.re[k] = w0r * x0->re[k] + w0i * x0->im[k] + w1r * x1->re[k] + w1i * x1->im[k];
    it->y.im[k] = w0r * x0->im[k] - w0i * x0->re[k] + w1r * x1->im[k] - w1i * x1->re[k];
  }
}
MVDR_DISPATCH(Apply,
              (TMvdrBeam* __restrict it, const TMvdrCov* __restrict noise, const TMvdrSpectrum* __restrict x0,
               const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re, const float* __restrict d1Im,
               float scale, float fallback, uint32_t good),
              (it, noise, x0, x1, d1Re, d1Im, scale, fallback, good))

// The reference u = d1 X0 - X1 holds no talker; its power under a
// covariance C is b^H C b with b = [conj d1, -1].
MVDR_INLINE float ReferencePower(const TMvdrCov* c, uint32_t k, float dr, float di) {
  return (dr * dr + di * di) * c->p00[k] + c->p11[k] - 2.0f * (dr * c->re01[k] - di * c->im01[k]);
}

// The input's power as the reference weighs it, |d1|^2 P00 + P11.
MVDR_INLINE float InputPower(const TMvdrCov* x, uint32_t k, float dr, float di) {
  return (dr * dr + di * di) * x->p00[k] + x->p11[k];
}

// A covariance is stale where the reference's short-term power now exceeds
// what it predicts by kStaleRatio.
MVDR_INLINE bool Outgrown(const TMvdrCov* c, uint32_t k, float dr, float di, float now) {
  return now > kStaleRatio * ReferencePower(c, k, dr, di);
}

// The forgetting of a noise covariance: kNoiseForget where the talker is
// absent, none where present.
MVDR_INLINE float Gated(float presence) { return kNoiseForget + (1.0f - kNoiseForget) * presence; }

// Keeps a covariance's power at most peak.
MVDR_INLINE void Cap(TMvdrCov* c, uint32_t k, float peak) {
  const float held = c->p00[k] + c->p11[k];
  const float scale = held > peak ? peak / held : 1.0f;
  c->p00[k] *= scale, c->p11[k] *= scale;
  c->re01[k] *= scale, c->im01[k] *= scale;
}

MVDR_INLINE void LearnNoise_Body(TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0,
                                 const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
                                 const float* __restrict d1Im, const float* __restrict presence,
                                 float start) {
  for (uint32_t k = 0; k < it->bins; k++) {
    const float now = ReferencePower(&it->x, k, d1Re[k], d1Im[k]);
    const float input = InputPower(&it->x, k, d1Re[k], d1Im[k]);
    const bool grown = now > it->staleShare * input;
    const bool stale = grown & Outgrown(&it->noise, k, d1Re[k], d1Im[k], now);
    const bool staleApart =
        grown & (now > it->apartShare[k] * input) & Outgrown(&it->apart, k, d1Re[k], d1Im[k], now);
    const float power = it->x.p00[k] + it->x.p11[k];
    it->floorNow[k] = power < it->floorNow[k] ? power : it->floorNow[k];
    const float least = power < it->inputFloor[k] ? power : it->inputFloor[k];
    it->inputFloor[k] = least;
    const bool under = kFloorMargin * least > it->noise.p00[k] + it->noise.p11[k];
    const float gated = Gated(presence[k]);
    Accumulate(&it->noise, x0, x1, k, start >= 0.0f ? start : stale | under ? kNoiseForget : gated);
    // Relearnt for the floor alone, it rises no further than that.
    if (under & !stale & (start < 0.0f)) Cap(&it->noise, k, kFloorMargin * least);
    Accumulate(&it->apart, x0, x1, k, start >= 0.0f ? start : staleApart ? kNoiseForget : gated);
    const float peakNow = power > it->peakNow[k] ? power : it->peakNow[k];
    it->peakNow[k] = peakNow;
    const float peak = peakNow > it->peakLast[k] ? peakNow : it->peakLast[k];
    Cap(&it->noise, k, peak);
    Cap(&it->apart, k, peak);
  }
}
MVDR_DISPATCH(LearnNoise,
              (TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0,
               const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re, const float* __restrict d1Im,
               const float* __restrict presence, float start),
              (it, x0, x1, d1Re, d1Im, presence, start))

// |c01|^2 / (c00 c11) of a 2x2 covariance; 0 where it holds no power.
MVDR_INLINE float SquaredCoherence(float c00, float c11, float re01, float im01) {
  return (re01 * re01 + im01 * im01) / (c00 * c11 + kMvdrPowerFloor * kMvdrPowerFloor);
}

// Per bin of lo..hi: the talker's power where it leads (its covariance is
// Phi_x - Phi_n against a noise covariance as it stood before this frame,
// weighted by presence) and that power times its squared coherence.
MVDR_INLINE void Talker_Body(const TMvdrBeam* __restrict it, const TMvdrCov* __restrict noise,
                             const float* __restrict presence, uint32_t lo, uint32_t hi, float* __restrict power,
                             float* __restrict coherent) {
  for (uint32_t k = lo; k < hi; k++) {
    const float s00 = it->x.p00[k] - noise->p00[k], s11 = it->x.p11[k] - noise->p11[k];
    const float sr = it->x.re01[k] - noise->re01[k], si = it->x.im01[k] - noise->im01[k];
    const bool leads = (s00 > 0.0f) & (s11 > 0.0f) & (presence[k] > kRoomPresence);
    const float coherence = SquaredCoherence(s00, s11, sr, si);
    const float talker = leads ? presence[k] * (s00 + s11) : 0.0f;
    power[k] = talker, coherent[k] = talker * (coherence < 1.0f ? coherence : 1.0f);
  }
}
MVDR_DISPATCH(Talker,
              (const TMvdrBeam* __restrict it, const TMvdrCov* __restrict noise, const float* __restrict presence,
               uint32_t lo, uint32_t hi, float* __restrict power, float* __restrict coherent),
              (it, noise, presence, lo, hi, power, coherent))

// The talker's coherence over bins lo..hi, its power-weighted mean smoothed
// over frames (power and coherent hold the sums); before any talker is
// heard, 1 (free field).
float BandCoherence(const TMvdrBeam* it, const TMvdrCov* noise, const float* presence, uint32_t lo, uint32_t hi,
                    float* power, float* coherent) {
  alignas(64) float talker[kMvdrMaxBins], held[kMvdrMaxBins];
  Talker(it, noise, presence, lo, hi, talker, held);
  float p = 0.0f, c = 0.0f;
  for (uint32_t k = lo; k < hi; k++) p += talker[k], c += held[k];
  *power = kRoomSmooth * *power + p;
  *coherent = kRoomSmooth * *coherent + c;
  return *power > 0.0f ? *coherent / *power : 1.0f;
}

// Per bin of the wide band, the correlation over frames of the output's and
// the reference's log levels (statistics scaled by unbias, the inverse of
// their weights' sum); 0 where a level has not varied.
MVDR_INLINE void Envelope_Body(TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0,
                               const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
                               const float* __restrict d1Im, float unbias) {
  const float a = kRoomSmooth, b = 1.0f - a;
  // The logarithms in a loop of their own, where more bins overlap.
  alignas(64) float levelY[kMvdrMaxBins], levelU[kMvdrMaxBins];
  for (uint32_t k = it->roomLo; k < it->roomHi; k++) {
    float ur, ui;
    MvdrReference(x0, x1, d1Re[k], d1Im[k], k, &ur, &ui);
    levelY[k] = MvdrLn(it->y.re[k] * it->y.re[k] + it->y.im[k] * it->y.im[k]);
    levelU[k] = MvdrLn(ur * ur + ui * ui);
  }
  for (uint32_t k = it->roomLo; k < it->roomHi; k++) {
    const float ly = levelY[k], lu = levelU[k];
    const float sy = a * it->levels.y[k] + b * ly, su = a * it->levels.u[k] + b * lu;
    const float syy = a * it->levels.yy[k] + b * ly * ly, suu = a * it->levels.uu[k] + b * lu * lu;
    const float syu = a * it->levels.yu[k] + b * ly * lu;
    it->levels.y[k] = sy, it->levels.u[k] = su, it->levels.yy[k] = syy, it->levels.uu[k] = suu;
    it->levels.yu[k] = syu;
    const float my = sy * unbias, mu = su * unbias;
    const float vy = syy * unbias - my * my, vu = suu * unbias - mu * mu;
    const bool varied = (vy > 0.0f) & (vu > 0.0f);
    // (The root is of 1 where unused, so no vector lane takes a negative.)
    it->envelope[k] = varied ? (syu * unbias - my * mu) / sqrtf(varied ? vy * vu : 1.0f) : 0.0f;
  }
}
MVDR_DISPATCH(Envelope,
              (TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0, const TMvdrSpectrum* __restrict x1,
               const float* __restrict d1Re, const float* __restrict d1Im, float unbias),
              (it, x0, x1, d1Re, d1Im, unbias))

// The envelope correlation averaged over the wide band.
float EnvelopeCorrelation(TMvdrBeam* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, const float* d1Re,
                          const float* d1Im) {
  float power = 0.0f;
  for (uint32_t k = it->roomLo; k < it->roomHi; k++) power += it->x.p00[k] + it->x.p11[k];
  const float level = MvdrLn(power + kMvdrPowerFloor);
  if (it->envelopeWeight > kWakeHistory && level > it->inputLevel / it->envelopeWeight + kWakeRise) {
    memset(&it->levels, 0, sizeof it->levels);
    it->envelopeWeight = it->inputLevel = 0.0f;
  }
  it->inputLevel = kRoomSmooth * it->inputLevel + (1.0f - kRoomSmooth) * level;
  it->envelopeWeight = kRoomSmooth * it->envelopeWeight + (1.0f - kRoomSmooth);
  Envelope(it, x0, x1, d1Re, d1Im, 1.0f / it->envelopeWeight);
  float sum = 0.0f;
  for (uint32_t k = it->roomLo; k < it->roomHi; k++) sum += it->envelope[k];
  return it->roomHi > it->roomLo ? sum / (float)(it->roomHi - it->roomLo) : 1.0f;
}

// Per bin of lo..hi, a covariance's power and that power times its squared
// coherence.
MVDR_INLINE void Coherent_Body(const TMvdrCov* __restrict n, uint32_t lo, uint32_t hi, float* __restrict power,
                               float* __restrict coherent) {
  for (uint32_t k = lo; k < hi; k++) {
    const float p = n->p00[k] + n->p11[k];
    power[k] = p, coherent[k] = p * SquaredCoherence(n->p00[k], n->p11[k], n->re01[k], n->im01[k]);
  }
}
MVDR_DISPATCH(Coherent,
              (const TMvdrCov* __restrict n, uint32_t lo, uint32_t hi, float* __restrict power,
               float* __restrict coherent),
              (n, lo, hi, power, coherent))

// The noise's squared coherence over bins lo..hi, power-weighted.
float NoiseCoherence(const TMvdrCov* n, uint32_t lo, uint32_t hi) {
  alignas(64) float held[kMvdrMaxBins], coherent[kMvdrMaxBins];
  Coherent(n, lo, hi, held, coherent);
  float power = 0.0f, sum = 0.0f;
  for (uint32_t k = lo; k < hi; k++) power += held[k], sum += coherent[k];
  return power > 0.0f ? sum / power : 1.0f;
}

// The room weight for the next frame from the two bands' coherences (a
// clear room held) confirmed by the envelopes, from the diffuse-zero band
// and the envelopes together, from an incoherent noise, the envelopes and
// the wide band together, or from both bands far below the free field's.
// The coherences use the noise covariances before this frame's learning.
void Judge(TMvdrBeam* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, const float* d1Re, const float* d1Im,
           const float* presence) {
  const float coherence = Rescaled(
      BandCoherence(it, &it->noise, presence, it->roomLo, it->roomHi, &it->roomPower, &it->roomCoherent),
      it->wideScale);
  const float high = Rescaled(BandCoherence(it, &it->roomNoise, presence, it->roomHighLo, it->roomHighHi,
                                            &it->roomHighPower, &it->roomHighCoherent),
                              it->highScale);
  const float wide = (kRoomFrom - coherence) / kRoomSpan, narrow = (kRoomHighFrom - high) / kRoomHighSpan;
  const float ramp = wide > narrow ? wide : narrow;
  const float now = Unit(ramp);
  const bool hold = it->roomFull >= kRoomHoldFrames;
  const float held = !hold ? 0.0f : ramp > 0.0f ? it->coherentRoom : it->coherentRoom - kRoomFade;
  it->coherentRoom = held > now ? held : now;
  const float envelope = EnvelopeCorrelation(it, x0, x1, d1Re, d1Im);
  const float confirmed = it->coherentRoom * Unit((envelope - kEnvelopeFrom) / kEnvelopeSpan);
  const float joint = Unit((kJointHighFrom - high) / kJointHighSpan) *
                      Unit((envelope - kJointEnvelopeFrom) / kJointEnvelopeSpan);
  const float noise = NoiseCoherence(&it->noise, it->roomHighLo, it->roomHighHi);
  const float incoherent = Unit((kNoiseCoherenceFrom - noise) / kNoiseCoherenceSpan) *
                           Unit((envelope - kIncoherentEnvelopeFrom) / kIncoherentEnvelopeSpan) *
                           Unit((kIncoherentWideFrom - coherence) / kIncoherentWideSpan);
  const float evident = Unit((it->evidentWideFrom - coherence) / kEvidentSpan) *
                        Unit((it->evidentHighFrom - high) / kEvidentSpan) *
                        Unit((envelope - kEvidentEnvelopeFrom) / kEvidentEnvelopeSpan);
  float room = confirmed > joint ? confirmed : joint;
  room = room > incoherent ? room : incoherent;
  it->room = room > evident ? room : evident;
  // Frames at full weight in a row, kept at the count while the hold lasts.
  it->roomFull = now >= 1.0f ? (hold ? it->roomFull : it->roomFull + 1) : (held > now ? it->roomFull : 0);
}

// Counts a frame of a block (the peak's, the floor's); at a block's end the
// running extreme becomes the kept one and starts afresh.
void NextFrameOfBlock(uint32_t* at, uint32_t frames, float* kept, float* running, float fresh) {
  if (++*at < frames) return;
  *at = 0;
  memcpy(kept, running, kMvdrMaxBins * sizeof *kept);
  for (uint32_t k = 0; k < kMvdrMaxBins; k++) running[k] = fresh;
}

// The room detector's noise covariance over its diffuse-zero band: learned
// as the tracking one, without the plain start-up.
MVDR_INLINE void LearnRoomNoise_Body(TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0,
                                     const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
                                     const float* __restrict d1Im, const float* __restrict presence) {
  for (uint32_t k = it->roomHighLo; k < it->roomHighHi; k++) {
    const float now = ReferencePower(&it->x, k, d1Re[k], d1Im[k]);
    const bool stale = (now > it->staleShare * InputPower(&it->x, k, d1Re[k], d1Im[k])) &
                       Outgrown(&it->roomNoise, k, d1Re[k], d1Im[k], now);
    Accumulate(&it->roomNoise, x0, x1, k, stale ? kNoiseForget : Gated(presence[k]));
    Cap(&it->roomNoise, k, it->peakNow[k] > it->peakLast[k] ? it->peakNow[k] : it->peakLast[k]);
  }
}
MVDR_DISPATCH(LearnRoomNoise,
              (TMvdrBeam* __restrict it, const TMvdrSpectrum* __restrict x0, const TMvdrSpectrum* __restrict x1,
               const float* __restrict d1Re, const float* __restrict d1Im, const float* __restrict presence),
              (it, x0, x1, d1Re, d1Im, presence))

// The mean of 1 - sinc^2(w D / c), a diffuse field's squared incoherence,
// over bins lo..hi at spacing D.
double DiffuseIncoherence(uint32_t rate, uint32_t n, double distance, uint32_t lo, uint32_t hi) {
  const double across = distance / kMvdrSoundSpeed * rate;
  double sum = 0.0;
  for (uint32_t k = lo; k < hi; k++) {
    const double x = 2.0 * kPi * k / n * across, g = x > 0.0 ? sin(x) / x : 1.0;
    sum += 1.0 - g * g;
  }
  return hi > lo ? sum / (hi - lo) : 1.0;
}

}  // namespace

void MvdrBeam_Init(TMvdrBeam* it, uint32_t rate, uint32_t n) {
  it->bins = n / 2 + 1;
  it->blockFrames = MvdrHops(kBlockSeconds, rate, n);
  it->floorFrames = MvdrHops(kFloorSeconds, rate, n);
  const uint32_t lo = (uint32_t)(kRoomLoHz * n / rate), hi = (uint32_t)(kRoomHiHz * n / rate);
  it->roomLo = lo < n / 2 ? lo : n / 2;
  it->roomHi = hi < n / 2 ? hi : n / 2;
  MvdrBeam_Reset(it);
}

void MvdrBeam_SetGeometry(TMvdrBeam* it, uint32_t rate, uint32_t n, float delay, float distance) {
  const float part = delay / (float)n, share = kLeakPerDelay * part * part;
  it->staleShare = share > kStaleShare ? share : kStaleShare;
  it->leakLoading = share * share / kLeakLoading;
  const double across = distance / kMvdrSoundSpeed * rate;  // samples
  const double apart = fmin(kApartSeparation * across, kApartMaxSeconds * rate);
  for (uint32_t k = 0; k < it->bins; k++) {
    const double w = 2.0 * kPi * k / n;  // radians per sample
    it->apartShare[k] = w * across < kPi ? (float)(1.0 - cos(w * apart)) : 0.0f;
  }
  const float zeroHz = kMvdrSoundSpeed / (2.0f * distance);
  const float kept = zeroHz < kRoomHighZeroLoHz   ? kRoomHighZeroLoHz
                     : zeroHz > kRoomHighZeroHiHz ? kRoomHighZeroHiHz
                                                  : zeroHz;
  const float zero = kept * (float)n / (float)rate, top = (float)(n / 2);
  it->roomHighLo = (uint32_t)(kRoomHighLo * zero < top ? kRoomHighLo * zero : top);
  it->roomHighHi = (uint32_t)(kRoomHighHi * zero < top ? kRoomHighHi * zero : top);
  const double reference = kMvdrSoundSpeed / (2.0 * kScaleSpacing) * n / rate;  // 5 cm's zero, in bins
  const double wide = DiffuseIncoherence(rate, n, distance, it->roomLo, it->roomHi) /
                      DiffuseIncoherence(rate, n, kScaleSpacing, it->roomLo, it->roomHi);
  const double high = DiffuseIncoherence(rate, n, distance, it->roomHighLo, it->roomHighHi) /
                      DiffuseIncoherence(rate, n, kScaleSpacing, (uint32_t)(kRoomHighLo * reference),
                                         (uint32_t)(kRoomHighHi * reference));
  const bool below = distance < kScaleSpacing;
  it->wideScale = below ? (float)fmax(kMinScale, fmin(1.0, wide)) : 1.0f;
  it->highScale = below ? (float)fmax(kMinScale, fmin(1.0, high)) : 1.0f;
  const float near = Unit((kEvidentFarFrom - distance) / (kEvidentFarFrom - kEvidentNearTo));
  it->evidentWideFrom = kEvidentWideFrom + near * (kEvidentWideNear - kEvidentWideFrom);
  it->evidentHighFrom = kEvidentHighFrom + near * (kEvidentHighNear - kEvidentHighFrom);
}

void MvdrBeam_Reset(TMvdrBeam* it) {
  it->frames = 0;
  memset(&it->x, 0, sizeof it->x);
  memset(&it->noise, 0, sizeof it->noise);
  memset(&it->apart, 0, sizeof it->apart);
  memset(&it->roomNoise, 0, sizeof it->roomNoise);
  it->roomPower = it->roomCoherent = it->roomHighPower = it->roomHighCoherent = it->coherentRoom = 0.0f;
  it->roomFull = 0;
  it->envelopeWeight = it->inputLevel = it->room = 0.0f;
  memset(&it->levels, 0, sizeof it->levels);
  for (uint32_t k = 0; k < kMvdrMaxBins; k++) {
    it->x.p00[k] = it->x.p11[k] = kMvdrPowerFloor;
    it->noise.p00[k] = it->noise.p11[k] = kNoiseStart;
    it->apart.p00[k] = it->apart.p11[k] = it->roomNoise.p00[k] = it->roomNoise.p11[k] = kNoiseStart;
    it->peakNow[k] = it->peakLast[k] = 0.0f;
    // No floor until a whole block has been seen.
    it->floorNow[k] = kNoFloorYet, it->inputFloor[k] = 0.0f;
  }
  it->blockAt = it->floorAt = 0;
}

void MvdrBeam_Observe(TMvdrBeam* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1) {
  Observe(it, x0, x1);
}

void MvdrBeam_Filter(TMvdrBeam* it, const TMvdrCov* noise, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1,
                     const float* d1Re, const float* d1Im, float loading, float fallback, uint32_t good) {
  Weights(it, noise, d1Re, d1Im, loading + it->room * kRoomLoading + it->leakLoading);
  Apply(it, noise, x0, x1, d1Re, d1Im, 1.0f - it->room * (1.0f - kRoomShare), fallback, good);
}

void MvdrBeam_LearnNoise(TMvdrBeam* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, const float* d1Re,
                         const float* d1Im, const float* presence, bool judge) {
  // Start-up: a plain running mean (weight of the past frames/(frames+1)).
  const float start = it->frames < kStartFrames ? (float)it->frames / (float)(it->frames + 1) : -1.0f;
  if (it->frames < kStartFrames) it->frames++;
  if (judge) Judge(it, x0, x1, d1Re, d1Im, presence);
  LearnNoise(it, x0, x1, d1Re, d1Im, presence, start);
  // After the tracking covariance, whose loop keeps the peak.
  if (judge) LearnRoomNoise(it, x0, x1, d1Re, d1Im, presence);
  NextFrameOfBlock(&it->floorAt, it->floorFrames, it->inputFloor, it->floorNow, kNoFloorYet);
  NextFrameOfBlock(&it->blockAt, it->blockFrames, it->peakLast, it->peakNow, 0.0f);
}
