// Co-modulation attribution for rooms: whose sound fills the blocking
// reference in a bin from 250 Hz to 2.5 kHz, from whose envelope its level
// follows.
//
// One talker's level rises and falls across all its frequencies together
// (syllables, onsets), and two talkers' do not. Above 1 kHz the talker
// direction's share sorts the frame's power well enough that the power of
// the bins it gives clearly to the talker, and of those it gives clearly to
// the interferer, are two envelopes (the post-filter forms them). Below
// 2.5 kHz at centimetre spacings the share often errs, and the blocking
// reference u carries whichever talker is louder: the interferer's direct
// sound, or the talker's reverberation. Per bin, the correlation over recent
// frames of the bin's level with each envelope's log says which: a bin that
// follows the talker's envelope holds the talker, or in u its reverberation
// (the share moves up, so the rooms' interferer term does not take it for
// the interferer, and the post-filter spares it part of the frame's
// spatial gain); one that follows the interferer's holds the interferer
// (the share moves down). The level is the mean of log |u|^2 and log |y|^2,
// which tells the two apart better than either alone.
#ifndef MICARRAY_MVDR_COMOD_H
#define MICARRAY_MVDR_COMOD_H

#include <stdint.h>

#include "mvdr_bins.h"

enum {
  kMvdrComodBins = 164  // bins up to 2.5 kHz at the finest bins (15.6 Hz, a rate just above 8 kHz)
};

typedef struct {
  uint32_t lo, hi;                                  // bins whose share the cue moves
  float weight;                                     // the smoothing's weights summed (start-up bias)
  float talker, talker2, interferer, interferer2;   // smoothed log envelopes and their squares
  alignas(64) float level[kMvdrComodBins];           // smoothed log level, the mean of log |u|^2 and log |y|^2
  alignas(64) float level2[kMvdrComodBins];          // and its square
  alignas(64) float withTalker[kMvdrComodBins];      // smoothed log level times the talker's log envelope
  alignas(64) float withInterferer[kMvdrComodBins];  // and times the interferer's
  alignas(64) float follows[kMvdrMaxBins];            // per bin, the cue: -1 (the interferer) .. 1 (the talker); 0 outside lo..hi
} TMvdrComod;

void MvdrComod_Init(TMvdrComod* it, uint32_t rate, uint32_t n);
void MvdrComod_Reset(TMvdrComod* it);
// Moves share (per bin, 0..1) by the cue, weighted by room; talker and
// interferer are this frame's envelopes, the power of the bins each
// clearly leads. Called in rooms only: elsewhere the share is not moved
// and the spatial gain the cue spares is 1.
void MvdrComod_Attribute(TMvdrComod* it, const TMvdrSpectrum* y, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1,
                         const float* d1Re, const float* d1Im, float talker, float interferer, float room,
                         float* share);

#endif
