// Per-bin records the adaptive engine's stages pass along, one array per
// quantity (structure of arrays), so that loops over the bins vectorise.
#ifndef MICARRAY_MVDR_BINS_H
#define MICARRAY_MVDR_BINS_H

#include <stdint.h>

#include "mvdr_isa.h"

enum {
  kMvdrMaxFrame = 2048,                 // longest frame (44.1 and 48 kHz)
  kMvdrMaxHalf = kMvdrMaxFrame / 2,     // longest hop and complex transform
  kMvdrMaxBins = kMvdrMaxFrame / 2 + 1  // bins DC to Nyquist
};

// Smallest power, per bin, that a recursive statistic keeps (about 40 dB
// below the quantisation noise of 16-bit samples): minutes of digital
// silence leave the statistics there instead of in subnormal numbers.
static const float kMvdrPowerFloor = 1e-12f;

// Diagonal loading of the noise covariance, relative to its mean power:
// keeps the inverse well conditioned when the noise is one directional
// source (the MVDR stage and the calibration use the same).
static const float kMvdrLoading = 1e-3f;

static const float kMvdrSoundSpeed = 343.0f;  // m/s

// Whole hops (of n / 2 samples, frame n) in a span of seconds at a rate.
MVDR_INLINE uint32_t MvdrHops(float seconds, uint32_t rate, uint32_t n) {
  return (uint32_t)(seconds * (float)rate / (float)(n / 2));
}

// One channel's spectrum (or the beam's), bins 0..N/2.
typedef struct {
  alignas(64) float re[kMvdrMaxBins];
  alignas(64) float im[kMvdrMaxBins];
} TMvdrSpectrum;

// A 2x2 Hermitian covariance per bin: E|X0|^2, E|X1|^2, E[X0 conj X1].
typedef struct {
  alignas(64) float p00[kMvdrMaxBins];
  alignas(64) float p11[kMvdrMaxBins];
  alignas(64) float re01[kMvdrMaxBins];
  alignas(64) float im01[kMvdrMaxBins];
} TMvdrCov;

// The blocking reference of bin k, u = d1 X0 - X1: for steering [1, d1] it
// holds no talker.
MVDR_INLINE void MvdrReference(const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, float dr, float di, uint32_t k,
                               float* ur, float* ui) {
  *ur = dr * x0->re[k] - di * x0->im[k] - x1->re[k];
  *ui = dr * x0->im[k] + di * x0->re[k] - x1->im[k];
}

// Longest reach of a local mean over bins: 500 Hz at the finest bins (15.6 Hz).
enum { kMvdrMaxReach = 32 };

// The mean of in over the bins within reach of each bin (fewer at the ends);
// count at most kMvdrMaxBins + kMvdrMaxReach, within at most kMvdrMaxReach.
void MvdrAround(const float* in, float* out, uint32_t count, uint32_t within);

#endif
