// The speech post-filter on the beam output y. Its noise estimate per bin is
//   lambda = max(sigma2, w_ref * min(Ny / Nu, 100) * Su, lambda_1)
// sigma2: a stationary tracker of |y|^2 driven by a speech presence
//   probability (Gerkmann and Hendriks, IEEE TASLP 2012);
// the blocking reference u = d1 X0 - X1, which holds no direct target: its
//   power Su, less the talker's reverberation and leak modelled from its
//   recent power, scaled by the ratio Ny / Nu of beam-output to reference
//   power learned where the talker is absent follows non-stationary
//   directional noise;
// w_ref: how far the noise's inter-microphone coherence lies from a diffuse
//   field's (the reference over-estimates diffuse noise, which the
//   stationary tracker handles).
// lambda_1: the part of y that the reference predicts in the short term,
//   |E[y u*]|^2 / E|u|^2 (in rooms E|u|^2 less the talker's leak). Where
//   one interferer leads a bin (two talkers rarely share one) it is that
//   interferer's power left in y, frame by frame, which the long-term ratio
//   Ny / Nu misses when the beam can null only one of several directions.
//   It counts where the implied source is a far one clearly away from the
//   talker's direction.
// The share of a bin the talker's direction explains (smoothed over frames
// and 250 Hz) reshapes the estimate: where it is large (the talker leads)
// the terms count a tenth (lambda_1 in rooms only); in reverberant rooms,
// where it is small (a talking interferer leads), the estimate is at least
// the reference term unscaled (weighted the more, the more of the room the
// interferer leads), and Ny / Nu learns there as in the talker's pauses.
// In rooms the share below 2 kHz, where the direction tells less, is first
// moved by both talkers' pitches (mvdr_harmonic.h), and up
// to 2.5 kHz by whose envelope the bin's level follows (mvdr_comod.h);
// then it is blended with how near the bin's arrival direction, read from
// the phase between the microphones and held through the bin's decay from
// its last onset, lies to the talker's. A frame gain for each half of 2-6
// kHz, from the share held so, turns down the frames the interferer leads.
// Below the voices' band (70 Hz) the stationary estimate is at least a
// multiple of the least power of the last second or two.
// The gain is the MMSE log-spectral-amplitude estimator (Ephraim and Malah,
// IEEE TASSP 1985) with a decision-directed a-priori SNR (in the free field
// refined by a second step), held in [floor, 1]; a floor of 1 (0 dB) leaves
// the beam output untouched. In rooms its fine structure across frequency
// is smoothed over frames.
#ifndef MICARRAY_MVDR_POSTFILTER_H
#define MICARRAY_MVDR_POSTFILTER_H

#include <stdint.h>

#include "mvdr_bins.h"
#include "mvdr_comod.h"
#include "mvdr_harmonic.h"

enum {
  kMvdrSubVoiceBins = 4  // bins below 70 Hz at the finest bins (21.5 Hz, 2048 points at 44.1 kHz)
};

typedef struct {
  uint32_t bins;
  uint32_t frames;                              // frames tracked, up to the two-step count
  uint32_t startFrames;                         // frames of the start-up
  uint32_t twoStepFrames;                       // frames before the a-priori SNR's second step
  float floorGain;                              // deepest gain, linear amplitude
  alignas(64) float sigma2[kMvdrMaxBins];       // stationary noise power of y
  alignas(64) float startSmooth[kMvdrMaxBins];  // smoothed |y|^2 during the start-up
  alignas(64) float startMin[kMvdrMaxBins];     // its smallest value times the bias
  alignas(64) float smoothP[kMvdrMaxBins];      // smoothed tracker presence
  alignas(64) float ny[kMvdrMaxBins];           // beam-output power where noise
  alignas(64) float nu[kMvdrMaxBins];           // reference power where noise
  alignas(64) float su[kMvdrMaxBins];           // reference power, short term
  alignas(64) float talker[kMvdrMaxBins];       // the talker's recent power in y, |G y|^2 smoothed
  alignas(64) float reference[kMvdrMaxBins];    // min(Ny / Nu, 100) Su, Su less the talker's leak
  TMvdrCov coherence;                           // noise covariance for the coherence
  alignas(64) float prevSpeech[kMvdrMaxBins];   // |G y|^2 of the last frame
  alignas(64) float noise[kMvdrMaxBins];        // lambda, the noise power in y
  alignas(64) float lead[kMvdrMaxBins];         // lambda_1 of this frame
  alignas(64) float gain[kMvdrMaxBins];
  alignas(64) float logGain[kMvdrMaxBins];      // its natural logarithm
  alignas(64) float envelope[kMvdrMaxBins];     // and that averaged over the bins around
  alignas(64) float fineHeld[kMvdrMaxBins];     // the log gain less its envelope, smoothed over frames
  uint32_t envelopeReach;                       // reach of the envelope's average, in bins
  uint32_t maskLo, maskSplit, maskHi;           // bins of the spatial gain's two halves
  float mask[2];                                // their smoothed shares of the talker
  float maskPower;                              // the power that makes them a gain
  uint32_t splitLo, splitHi;                    // bins whose power the talkers' envelopes split
  alignas(64) float share[kMvdrMaxBins];        // per bin, the talker direction's share
  alignas(64) float sharePower[kMvdrMaxBins];   // and the frame's power
  alignas(64) float heldShare[kMvdrMaxBins];    // the share smoothed over frames
  alignas(64) float localShare[kMvdrMaxBins];   // and over the bins around (the last frame's until Shape)
  alignas(64) float onset[kMvdrMaxBins];        // in rooms, the share of the bin's power new this frame (at least a fifth)
  alignas(64) float lastPower[kMvdrMaxBins];    // the bin's power when it was last read so
  alignas(64) float onsetShare[kMvdrMaxBins];   // the share held by it through the bin's decay
  alignas(64) float perSine[kMvdrMaxBins];      // 1 / (w s): a phase between the microphones as a sine's difference
  alignas(64) float heldGap[kMvdrMaxBins];      // in rooms, the arrival direction's gap from the talker's, held
  alignas(64) float localGap[kMvdrMaxBins];     // and averaged over the bins around
  float gapWeight;                              // how far the arrival direction's cue counts
  float apartLoad;                              // in rooms, how much a talking interferer leads, held
  float loadKeep;                               // and the memory of its hold, per frame
  uint32_t shapeLo, shareReach;                 // first bin the share reshapes, its smoothing's reach
  uint32_t gateLo;                              // first bin whose reference ratio the share gates
  float leadsLo;                                // smoothed share where the talker-led cut starts
  float apartHi;                                // and where the interferer term's weight reaches 0
  alignas(64) float yuRe[kMvdrMaxBins];         // short-term E[y u*]
  alignas(64) float yuIm[kMvdrMaxBins];
  alignas(64) float uu[kMvdrMaxBins];           // short-term E|u|^2
  alignas(64) float yy[kMvdrMaxBins];           // short-term E|y|^2
  alignas(64) float xuRe[kMvdrMaxBins];         // short-term E[X0 u*]
  alignas(64) float xuIm[kMvdrMaxBins];
  alignas(64) float leadCap[kMvdrMaxBins];      // largest |E[y u*]|^2 / E|u|^2^2 believed
  uint32_t subBins;                             // bins below the voices' band
  uint32_t subBlockFrames, subAt;               // frames of a block of the minimum search, into the current one
  float subSmooth[kMvdrSubVoiceBins];           // their smoothed |y|^2
  float subNow[kMvdrSubVoiceBins];              // its least value in the current block
  float subLast[kMvdrSubVoiceBins];             // and in the last whole block
  TMvdrHarmonic harmonic;                       // in rooms, the share below 2 kHz moved by the pitches
  TMvdrComod comod;                             // and up to 2.5 kHz by whose envelope it follows
} TMvdrPost;

void MvdrPost_Init(TMvdrPost* it, uint32_t rate, uint32_t n, float floorDb);
void MvdrPost_SetFloor(TMvdrPost* it, float floorDb);
// The microphone spacing in metres, with omega the bins' frequencies in
// radians per sample: it bounds how close to the talker an interferer
// that lambda_1 follows may lie, and where the talker's share counts as
// leading; with tau, the talker's delay at microphone 1 in samples, how
// far the arrival direction's cue counts in rooms (a talker near
// broadside, spacings up to 10 cm) and how far the share's ramps and the
// spatial gain's power move down (a talker off broadside).
void MvdrPost_SetGeometry(TMvdrPost* it, const float* omega, uint32_t rate, float distance, float tau);
void MvdrPost_Reset(TMvdrPost* it);
// Gains for this frame, applied to y in place. refWeight scales the
// reference term (0 while a channel is dead: the reference is meaningless);
// room, 0 free field .. 1 reverberant room (0 too where the channels
// cannot be trusted), turns on the room's noise estimate, its narrower
// test for lambda_1's source and the spatial gain;
// leadWeight scales lambda_1 and the cut where the talker leads (down
// while the steering is unsure, as the talker then leaks into u and its
// share is misjudged; 0 with a dead channel).
void MvdrPost_Apply(TMvdrPost* it, TMvdrSpectrum* y, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1,
                    const float* d1Re, const float* d1Im, const float* presence, const float* diffuse,
                    float refWeight, float room, float leadWeight);

#endif
