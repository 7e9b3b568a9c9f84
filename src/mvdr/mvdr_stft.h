// Short-time analysis and synthesis of the adaptive engine: frames of N
// samples (a power of two, 256 to 2048), hop N/2, periodic sqrt-Hann
// windows for analysis and synthesis (their product sums to one over the
// overlap, so analysis then synthesis returns the input N/2 samples late).
//
// The real transform of N points runs as a complex one of M = N/2 points on
// the even and odd samples (decimation in time: an 8-point first pass, then
// radix-4 passes; split real and imaginary arrays so that every pass but
// the reordering vectorises), followed by the split into bins 0..M. The
// forward transform is unscaled, the inverse carries 1/N.
#ifndef MICARRAY_MVDR_STFT_H
#define MICARRAY_MVDR_STFT_H

#include <stdint.h>

#include "mvdr_bins.h"

typedef struct {
  uint32_t n, half;  // frame N and M = N/2 (also the hop)
  alignas(64) float window[kMvdrMaxFrame];
  // Twiddles e^(-i pi j / h), j < h, of the stage of half span h at h - 1.
  alignas(64) float twRe[kMvdrMaxHalf];
  alignas(64) float twIm[kMvdrMaxHalf];
  // e^(-2 pi i k / N), k = 0..M, for the split into real-input bins.
  alignas(64) float rotRe[kMvdrMaxBins];
  alignas(64) float rotIm[kMvdrMaxBins];
  uint16_t bitrev[kMvdrMaxHalf / 8];  // bit reversal of the M/8 first-pass blocks
  alignas(64) float history[2][kMvdrMaxFrame];  // the last N input samples per channel
  alignas(64) float overlap[kMvdrMaxFrame];     // synthesis sum still to be output
  alignas(64) float zRe[kMvdrMaxHalf];  // the complex transform's points
  alignas(64) float zIm[kMvdrMaxHalf];
  alignas(64) float tRe[kMvdrMaxHalf];  // its first pass's outputs, eight rows of M/8
  alignas(64) float tIm[kMvdrMaxHalf];
} TMvdrStft;

void MvdrStft_Init(TMvdrStft* it, uint32_t n);
void MvdrStft_Reset(TMvdrStft* it);
// Appends a hop of channel ch (M samples) and gives the spectrum of the
// windowed last N samples.
void MvdrStft_Analyse(TMvdrStft* it, uint32_t ch, const float* hop, TMvdrSpectrum* spectrum);
// Adds the windowed inverse of a spectrum to the overlap and gives the M
// samples that are complete.
void MvdrStft_Synthesise(TMvdrStft* it, const TMvdrSpectrum* spectrum, float* hop);

#endif
