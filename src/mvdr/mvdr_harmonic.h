// Harmonic attribution for rooms: which talker a bin below 2 kHz belongs to,
// from the voices' pitch rather than their direction.
//
// At centimetre spacings both talkers reach the microphones nearly alike
// below 1 kHz, so the talker direction's share tells little there; but a
// voiced talker's power sits on the harmonics of its pitch, and the two
// talkers rarely share one. The harmonicity of the beam output's log
// spectrum (the mean log power on the harmonics less that mid-way between
// them, up to 1.5 kHz) is found for pitch candidates 70-400 Hz. Whose pitch
// a candidate is follows from the blocking reference u, which holds the
// interferer but not the talker's direct sound: a pitch more harmonic in y
// than in u is the talker's. That evidence is smoothed over frames per
// candidate (pitch glides, so over the neighbouring candidates too). Per
// frame, the strongest pitch in y among the talker's candidates and the
// strongest among the interferer's each move the share of the bins from
// 250 Hz to 2 kHz: up on the talker's harmonics and down between them,
// down on the interferer's and up between. How far follows from the
// evidence and from whether the levels on the pitch's harmonics follow the
// talker's envelope more than those between them (mvdr_comod.h).
#ifndef MICARRAY_MVDR_HARMONIC_H
#define MICARRAY_MVDR_HARMONIC_H

#include <stdint.h>

#include "mvdr_bins.h"

enum {
  kMvdrPitches = 88,        // pitch candidates, 2 % apart from 70 Hz
  kMvdrHarmonicBins = 112   // bins the harmonicity reads, at most: up to 1.5 kHz and the local mean's
                            // reach, 105 with the finest bins (15.6 Hz, a rate just above 8 kHz)
};

typedef struct {
  uint32_t bins;                                        // bins the harmonicity reads
  uint32_t reach;                                       // reach of the local mean the fine structure takes off, in bins
  uint32_t cueLo, cueHi;                                // bins whose share the pitch moves
  alignas(64) float comb[kMvdrHarmonicBins][kMvdrPitches];  // per bin and candidate: +1/H on its H harmonics, -1/H mid-way
  alignas(64) float pitch[kMvdrPitches];               // candidate pitch, in bins
  alignas(64) float evidence[kMvdrPitches];            // harmonicity in y less that in u, smoothed
  alignas(64) float level[kMvdrHarmonicBins];           // log power (scratch)
  alignas(64) float fine[2][kMvdrHarmonicBins];         // log power less its local mean: y, u
  alignas(64) float harmonicity[2][kMvdrPitches];      // per candidate: y, u
} TMvdrHarmonic;

void MvdrHarmonic_Init(TMvdrHarmonic* it, uint32_t rate, uint32_t n);
void MvdrHarmonic_Reset(TMvdrHarmonic* it);
// Moves share (per bin, 0..1) by the frame's pitches, weighted by room;
// follows is the co-modulation cue per bin of the last frame (mvdr_comod.h).
void MvdrHarmonic_Attribute(TMvdrHarmonic* it, const TMvdrSpectrum* y, const TMvdrSpectrum* x0,
                            const TMvdrSpectrum* x1, const float* d1Re, const float* d1Im, const float* follows,
                            float room, float* share);

#endif
