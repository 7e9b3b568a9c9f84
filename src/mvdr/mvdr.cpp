// The adaptive engine: conditioning, analysis, MVDR beam, presence,
// calibration, noise learning, post-filter, synthesis, once per hop.
#include "mvdr.h"

#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "mvdr_engine.h"
#include "mvdr_fastmath.h"

namespace {

// Analysis frames of about 32 ms: the smallest power of two of at least
// this many seconds of samples (256, 512, 1024 at 8, 16, 32 kHz; 2048 at
// 44.1 and 48 kHz).
const float kFrameSeconds = 0.032f;
const size_t kAlign = 64;
// 16-bit samples scale to +-1.
const float kInt16Scale = 32768.0f;
// While the capsule calibration is uncertain (U from 1 toward 0) the
// steering may miss the talker by a few dB and half a sample, and the
// superdirective beam then cancels part of the talker. The output beam then
// takes 2 U^2 more loading (toward delay-and-sum); the tracking beam, whose
// presence test teaches the statistics, keeps the usual (loading there too
// cost 2 to 3 dB on a 1 cm endfire array, whose statistics kept the early
// state).
const float kUncertainLoading = 2.0f;

uint32_t FrameSize(uint32_t rate) {
  uint32_t n = 1;
  while ((float)n < kFrameSeconds * (float)rate) n *= 2;
  return n;
}

bool Accepted(uint32_t rate, float distance, float angle, float floor_db) {
  return rate >= MVDR_MIN_RATE && rate <= MVDR_MAX_RATE && distance > 0.0f && distance <= 10.0f &&
         angle >= -90.0f && angle <= 90.0f && floor_db >= -80.0f && floor_db <= 0.0f;
}

// Forgets what was learned from the two channels' spatial relation.
void ResetSpatial(TMvdrArray* it) {
  MvdrSteer_Reset(&it->steer);
  MvdrBeam_Reset(&it->beam);
  MvdrPresence_Init(&it->presence, it->frame);
  MvdrPresence_Init(&it->outputPresence, it->frame);
  MvdrPost_Reset(&it->post);
}

// Forgets the learned statistics (the hop buffers hold finite samples).
void ResetStatistics(TMvdrArray* it) {
  MvdrHealth_Reset(&it->health);
  ResetSpatial(it);
}

// The stages' settings that follow the geometry (it->distance, the steering's
// delay), after the steering is set.
void SetGeometry(TMvdrArray* it) {
  MvdrBeam_SetGeometry(&it->beam, it->rate, it->frame, it->steer.tau, it->distance);
  MvdrPost_SetGeometry(&it->post, it->steer.omega, it->rate, it->distance, it->steer.tau);
}

}  // namespace

size_t MvdrArray_Size(uint32_t rate) {
  if (rate < MVDR_MIN_RATE || rate > MVDR_MAX_RATE) return 0;
  return sizeof(TMvdrArray) + kAlign;
}

TMvdrArray* MvdrArray_Init(void* mem, uint32_t rate, float distance, float angle, float floor_db) {
  if (!mem || !Accepted(rate, distance, angle, floor_db)) return nullptr;
  TMvdrArray* it = (TMvdrArray*)(((uintptr_t)mem + kAlign - 1) & ~(uintptr_t)(kAlign - 1));
  it->rate = rate;
  it->frame = FrameSize(rate);
  it->hop = it->frame / 2;
  it->distance = distance;
  it->angle = angle;
  it->floorDb = floor_db;
  MvdrHealth_Init(&it->health, rate, it->frame, distance);
  MvdrStft_Init(&it->stft, it->frame);
  MvdrSteer_Init(&it->steer, rate, it->frame, distance, angle);
  MvdrBeam_Init(&it->beam, rate, it->frame);
  MvdrPresence_Init(&it->presence, it->frame);
  MvdrPresence_Init(&it->outputPresence, it->frame);
  MvdrPost_Init(&it->post, rate, it->frame, floor_db);
  SetGeometry(it);
  return it;
}

uint32_t MvdrArray_Hop(const TMvdrArray* it) { return it->hop; }
uint32_t MvdrArray_Latency(const TMvdrArray* it) { return it->frame - it->hop; }

void MvdrArray_Reset(TMvdrArray* it) {
  MvdrStft_Reset(&it->stft);
  ResetStatistics(it);
}

int MvdrArray_Retune(TMvdrArray* it, float distance, float angle, float floor_db) {
  if (!Accepted(it->rate, distance, angle, floor_db)) return -1;
  it->distance = distance;
  it->angle = angle;
  it->floorDb = floor_db;
  MvdrHealth_SetSpacing(&it->health, it->rate, it->frame, distance);
  MvdrSteer_Retune(&it->steer, it->rate, it->frame, distance, angle);
  MvdrPost_SetFloor(&it->post, floor_db);
  SetGeometry(it);
  return 0;
}

void MvdrArray_ProcessFloat(TMvdrArray* it, const float* stereo, float* mono) {
  MvdrHealth_Condition(&it->health, stereo, it->mic0, it->mic1);
  MvdrStft_Analyse(&it->stft, 0, it->mic0, &it->x0);
  MvdrStft_Analyse(&it->stft, 1, it->mic1, &it->x1);
  MvdrHealth_Judge(&it->health, &it->x0, &it->x1);
  if (it->health.rewired) ResetSpatial(it);
  const float fallback = it->health.fallback;
  MvdrBeam_Observe(&it->beam, &it->x0, &it->x1);
  // A dead channel, or clipping (a nonlinear transfer), would teach the
  // calibration and the room detector nonsense.
  const bool calibrate = fallback == 0.0f && !MvdrHealth_Clipping(&it->health);
  // The tracking beam: its presence gates what both covariances learn.
  MvdrBeam_Filter(&it->beam, &it->beam.noise, &it->x0, &it->x1, it->steer.d1Re, it->steer.d1Im, kMvdrLoading,
                  fallback, it->health.good);
  MvdrPresence_Update(&it->presence, &it->beam);
  // The output beam.
  const float u = calibrate ? it->steer.uncertainty : 0.0f, extra = kUncertainLoading * u * u;
  MvdrBeam_Filter(&it->beam, &it->beam.apart, &it->x0, &it->x1, it->steer.d1Re, it->steer.d1Im,
                  kMvdrLoading + extra, fallback, it->health.good);
  MvdrPresence_Update(&it->outputPresence, &it->beam);
  // Not before the noise covariance has heard a frame: at its start value
  // every bin passes the calibration's tests and the loudest source sets the
  // steering (white noise 30 degrees off at -5 dB pulled it 0.3 sample
  // toward itself in the first frame, and the evidence after took seconds
  // to undo it).
  if (calibrate && it->beam.frames > 0)
    MvdrSteer_Calibrate(&it->steer, &it->beam.x, &it->beam.noise, it->beam.inputFloor, it->presence.p);
  MvdrBeam_LearnNoise(&it->beam, &it->x0, &it->x1, it->steer.d1Re, it->steer.d1Im, it->presence.p, calibrate);
  // The room's spatial measures and the post-filter's short-term interferer
  // term need two healthy, linear channels; the latter also a settled
  // calibration.
  const float trusted = MvdrHealth_Clipping(&it->health) ? 0.0f : 1.0f - fallback;
  MvdrPost_Apply(&it->post, &it->beam.y, &it->x0, &it->x1, it->steer.d1Re, it->steer.d1Im,
                 it->outputPresence.p, it->steer.diffuse, 1.0f - fallback, trusted * it->beam.room,
                 trusted * (1.0f - u));
  MvdrStft_Synthesise(&it->stft, &it->beam.y, mono);
  // Inputs are finite and bounded, so a non-finite sample can only come
  // from a statistic gone wrong: output silence for this hop and start the
  // statistics afresh rather than keep them stuck.
  bool bad = false;
  for (uint32_t i = 0; i < it->hop; i++) bad |= !(fabsf(mono[i]) <= FLT_MAX);  // NaN or infinite
  if (bad) {
    memset(mono, 0, it->hop * sizeof *mono);
    ResetStatistics(it);
  }
}

void MvdrArray_Process(TMvdrArray* it, const int16_t* stereo, int16_t* mono) {
  float in[2 * kMvdrMaxHalf], out[kMvdrMaxHalf];
  for (uint32_t i = 0; i < 2 * it->hop; i++) in[i] = (float)stereo[i] / kInt16Scale;
  MvdrArray_ProcessFloat(it, in, out);
  for (uint32_t i = 0; i < it->hop; i++) {
    const float v = out[i] * kInt16Scale;  // saturated, rounded to nearest (ties to even)
    mono[i] = (int16_t)MvdrRound(v > 32767.0f ? 32767.0f : v < -32768.0f ? -32768.0f : v);
  }
}
