// Input conditioning and the health of the two channels. Samples that are
// not finite count as silence, absurd magnitudes are held, and a one-pole
// high-pass removes DC. A channel that is dead (silent or DC, far below the
// other) or clipped hard (far more often than the other) hands the output
// to the good microphone: the fallback weight ramps from 0 (both healthy,
// full beamforming) to 1 (the good microphone alone). A channel wired with
// the opposite polarity, or 8 to 25 dB off its partner's level (a preamp
// set apart), is corrected on input instead: no array fits such signals,
// and the beam would take the talker for noise.
#ifndef MICARRAY_MVDR_HEALTH_H
#define MICARRAY_MVDR_HEALTH_H

#include <stdint.h>

#include "mvdr_stft.h"

typedef struct {
  uint32_t half;            // samples per hop
  uint32_t bandLo, bandHi;  // bins of the power comparison
  float dcPole;             // high-pass pole
  float fallStep;           // fallback change per hop
  float dcIn[2], dcOut[2];  // high-pass state per channel
  bool dcStarted;           // the state has seen a hop since the reset
  float power[2];           // smoothed band power per channel
  float clipped[2];         // smoothed fraction of clipped samples
  float clippedNow[2];      // fraction of this hop's samples clipped
  uint32_t clipHoldHops;    // how long a channel found clipped hard stays suspect
  uint32_t clipHold[2];     // hops it still does
  float level[2], levelSq[2], levelCross, levelWeight;  // smoothed log band powers, their products, the weight
  float fallback;           // 0 beamforming .. 1 the good microphone alone
  uint32_t good;            // the microphone the fallback uses
  uint32_t wireHi;          // bins 1 to this: every direction arrives within 45 degrees (0: none)
  float wire00, wire11, wire01;  // slow band powers and real cross power there
  float slow[2];            // slow band power per channel
  uint32_t wireHops;        // hops of sound measured since a correction
  uint32_t wireQuick, wireJudged;  // hops needed to judge clear signs, any
  float mic1Gain;           // sign and gain applied to microphone 1
  bool rewired;             // mic1Gain or the channel taken changed this hop: what was learned no longer holds
} TMvdrHealth;

void MvdrHealth_Init(TMvdrHealth* it, uint32_t rate, uint32_t n, float distance);
// New spacing (the polarity test's band).
void MvdrHealth_SetSpacing(TMvdrHealth* it, uint32_t rate, uint32_t n, float distance);
void MvdrHealth_Reset(TMvdrHealth* it);
// Interleaved hop in, one conditioned hop per channel out.
void MvdrHealth_Condition(TMvdrHealth* it, const float* stereo, float* mic0, float* mic1);
// Whether either channel clipped recently (on more than 1 % of its samples).
bool MvdrHealth_Clipping(const TMvdrHealth* it);
// Judges the channels from this frame's spectra and moves the fallback.
void MvdrHealth_Judge(TMvdrHealth* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1);

#endif
