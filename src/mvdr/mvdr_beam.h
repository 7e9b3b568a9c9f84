// The MVDR stage. Per bin, with x = [X0, X1]:
//   short-term covariance   Phi_x <- 0.7 Phi_x + 0.3 x x^H
//   weights                 v = (Phi_n + load I)^-1 d, D = Re(d^H v), w = v / D
//   output                  y = w^H x (distortionless toward d; 1/D is the
//                           noise power left in y)
//   noise covariance        Phi_n <- a Phi_n + (1 - a) x x^H, a = 0.98 + 0.02 p,
// learned where the talker is absent (p its presence probability); the
// weights of a frame use Phi_n as it stood before that frame. Two noise
// covariances learn so: the tracking one, which also relearns at once
// wherever the blocking reference outgrew it or the input's floor rose above
// it, drives the presence test and the calibration; the output beam's
// relearns so only sources apart from the talker, never the talker's own
// reverberation. A fallback weight f blends w toward the good microphone
// alone (a dead channel). In
// reverberant rooms, told from the talker's coherence between the
// microphones (a clear room is held; one band judged against a third noise
// covariance without the plain start-up) and confirmed by the reference's
// level following the output's, or from a noise that lost its coherence
// (an interferer heard mostly as reverberation) while those levels follow,
// the correction w - e0 is scaled down and its weights loaded more. Below
// 5 cm the coherences are read against how much less a diffuse field loses
// its coherence at that spacing.
#ifndef MICARRAY_MVDR_BEAM_H
#define MICARRAY_MVDR_BEAM_H

#include <stdint.h>

#include "mvdr_bins.h"

typedef struct {
  uint32_t bins;
  uint32_t frames;                // frames of noise learned, up to the start-up count
  uint32_t blockFrames, blockAt;  // length of a block of the peak search, frames into the current one
  TMvdrCov x;                     // short-term covariance
  TMvdrCov noise;                 // tracking noise covariance
  TMvdrCov apart;                 // the output beam's noise covariance
  TMvdrCov roomNoise;             // the room detector's: no plain start-up, its band only
  uint32_t roomLo, roomHi;                // bins of the room detector's wide band
  uint32_t roomHighLo, roomHighHi;        // and of its band around the diffuse field's first zero
  float roomPower, roomCoherent;          // its smoothed sums over the wide band
  float roomHighPower, roomHighCoherent;  // and over the other
  float coherentRoom;             // the coherence's verdict: 0 free field .. 1 reverberant room
  uint32_t roomFull;              // frames in a row at full room weight (a hold from a second on)
  float envelopeWeight;           // sum of the envelope statistics' weights (1 - a^frames)
  float inputLevel;               // smoothed log input power over the wide band, same weights
  float room;                     // the room weight used: the strongest of the detector's routes
  float wideScale, highScale;     // a diffuse field's incoherence over each band against 5 cm's, at most 1
  float evidentWideFrom, evidentHighFrom;  // each band's coherence below which a room may be evident
  float staleShare;               // reference share of the input above which a stale covariance relearns
  float leakLoading;              // more loading where the talker's delay leaks it into the reference
  alignas(64) float apartShare[kMvdrMaxBins];  // reference share a source apart from the talker exceeds
  alignas(64) float w0Re[kMvdrMaxBins];
  alignas(64) float w0Im[kMvdrMaxBins];
  alignas(64) float w1Re[kMvdrMaxBins];
  alignas(64) float w1Im[kMvdrMaxBins];
  alignas(64) float residual[kMvdrMaxBins];  // noise power left in y (1/D for the plain MVDR)
  // Smoothed log levels of the output y and of the reference u, their
  // squares and product, per bin of the room detector's wide band.
  struct {
    alignas(64) float y[kMvdrMaxBins];
    alignas(64) float u[kMvdrMaxBins];
    alignas(64) float yy[kMvdrMaxBins];
    alignas(64) float uu[kMvdrMaxBins];
    alignas(64) float yu[kMvdrMaxBins];
  } levels;
  alignas(64) float envelope[kMvdrMaxBins];  // their correlation this frame
  TMvdrSpectrum y;
  // Largest short-term power (trace of Phi_x) in the current and the last
  // block: the noise covariance never holds more (after a loud stretch it
  // would otherwise take seconds to forget).
  alignas(64) float peakNow[kMvdrMaxBins];
  alignas(64) float peakLast[kMvdrMaxBins];
  // Least short-term power (trace of Phi_x) in the current half-second
  // block, and over it and the last whole block (the input's floor): a noise
  // that never pauses keeps the floor up, speech does not.
  uint32_t floorFrames, floorAt;
  alignas(64) float floorNow[kMvdrMaxBins];
  alignas(64) float inputFloor[kMvdrMaxBins];
} TMvdrBeam;

void MvdrBeam_Init(TMvdrBeam* it, uint32_t rate, uint32_t n);
void MvdrBeam_Reset(TMvdrBeam* it);
// The talker's delay between the microphones (samples) and their distance
// (metres) for frames of n.
void MvdrBeam_SetGeometry(TMvdrBeam* it, uint32_t rate, uint32_t n, float delay, float distance);
// Short-term covariance with this frame.
void MvdrBeam_Observe(TMvdrBeam* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1);
// Weights from the noise covariance (it->noise or it->apart) toward
// steering [1, d1] with diagonal loading (relative to the noise's mean
// power, at least kMvdrLoading, more in rooms) and the beam output y;
// fallback in [0, 1] toward microphone good.
void MvdrBeam_Filter(TMvdrBeam* it, const TMvdrCov* noise, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1,
                     const float* d1Re, const float* d1Im, float loading, float fallback, uint32_t good);
// The noise covariances with this frame, gated by the presence probability
// except where they are stale (below); the room detector learns only when
// judge is set (two healthy, linear channels).
void MvdrBeam_LearnNoise(TMvdrBeam* it, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1, const float* d1Re,
                         const float* d1Im, const float* presence, bool judge);

#endif
