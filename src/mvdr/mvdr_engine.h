// The adaptive engine's record: its stages in data-flow order. Internal;
// callers see only the opaque TMvdrArray of mvdr.h.
#ifndef MICARRAY_MVDR_ENGINE_H
#define MICARRAY_MVDR_ENGINE_H

#include "mvdr.h"
#include "mvdr_beam.h"
#include "mvdr_health.h"
#include "mvdr_postfilter.h"
#include "mvdr_presence.h"
#include "mvdr_steer.h"
#include "mvdr_stft.h"

struct TMvdrArray {
  uint32_t rate;
  uint32_t frame;  // analysis frame N, samples
  uint32_t hop;    // N/2
  float distance, angle, floorDb;
  TMvdrHealth health;
  TMvdrStft stft;
  TMvdrSteer steer;
  TMvdrBeam beam;
  TMvdrPresence presence;        // of the tracking beam: gates learning and calibration
  TMvdrPresence outputPresence;  // of the output beam: drives the post-filter
  TMvdrPost post;
  TMvdrSpectrum x0, x1;  // this frame's spectra
  alignas(64) float mic0[kMvdrMaxHalf];
  alignas(64) float mic1[kMvdrMaxHalf];
};

#endif
