// Steering toward the talker and online calibration of the capsules.
//
// Free field, the talker at angle theta from broadside reaches microphone 1
// tau = D sin(theta) / c later than microphone 0: d = [1, e^(-i w tau)], w in
// radians per sample. Real capsules differ in gain and phase, which turns
// the distortionless direction slightly off the talker, so the engine
// models the talker's transfer to microphone 1 as
//   d1 = e^(G - i w (tau + delta))
// with one gain G (natural log) and one delay delta (samples) for the whole
// spectrum, learned from bins where the talker clearly dominates: there the
// target covariance Phi_x - lambda2 (Phi_n + loading) is of rank one and its
// column gives the transfer h1 (lambda2 the smaller generalised eigenvalue).
#ifndef MICARRAY_MVDR_STEER_H
#define MICARRAY_MVDR_STEER_H

#include <stdint.h>

#include "mvdr_bins.h"

typedef struct {
  uint32_t bins;                            // N/2 + 1
  uint32_t calLo, calHi;                    // bins that feed the calibration
  float tau;                                // free-field delay of microphone 1, samples
  float maxDelay, nearDelay;                // calibration windows, samples
  float decay;                              // per-frame forgetting of the calibration sums
  float priorOmega2;                        // prior weight times the band's mean w^2
  float gain, delay;                        // calibration G and delta
  float evidence;                           // bin-frames of evidence since the reset
  float youth, youthDecay;                  // 1 at the reset, decaying per frame calibrated
  float uncertainty;                        // 1 before any evidence, toward 0 as it gathers
  double sumW, sumWG, sumWD, sumWW2;        // weighted sums of 1, ln|r|, -w arg r, w^2
  alignas(64) float omega[kMvdrMaxBins];    // bin frequency, radians per sample
  alignas(64) float diffuse[kMvdrMaxBins];  // coherence of a diffuse field, sin(x)/x
  alignas(64) float d1Re[kMvdrMaxBins];     // calibrated steering of microphone 1
  alignas(64) float d1Im[kMvdrMaxBins];
  alignas(64) float cw[kMvdrMaxBins];  // this frame's per-bin contributions
  alignas(64) float cg[kMvdrMaxBins];
  alignas(64) float cd[kMvdrMaxBins];
} TMvdrSteer;

void MvdrSteer_Init(TMvdrSteer* it, uint32_t rate, uint32_t n, float distance, float angle);
// New geometry; the calibration (a property of the capsules) stays.
void MvdrSteer_Retune(TMvdrSteer* it, uint32_t rate, uint32_t n, float distance, float angle);
void MvdrSteer_Reset(TMvdrSteer* it);
// One frame of calibration from the short-term covariance, the noise
// covariance before this frame, the input's floor (least recent power of
// each bin) and the presence probability, then the new steering vector.
void MvdrSteer_Calibrate(TMvdrSteer* it, const TMvdrCov* x, const TMvdrCov* noise, const float* inputFloor,
                         const float* presence);
// Recomputes d1 from tau, G and delta.
void MvdrSteer_Update(TMvdrSteer* it);

#endif
