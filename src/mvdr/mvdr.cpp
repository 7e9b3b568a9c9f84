// The adaptive engine's public functions. Placeholder until the stages land:
// microphone 0 delayed by the engine's latency.
#include "mvdr.h"

#include <math.h>
#include <string.h>

namespace {

// Analysis frames of about 32 ms: the smallest power of two of at least
// this many seconds of samples (256, 512, 1024 at 8, 16, 32 kHz; 2048 at
// 44.1 and 48 kHz); the hop is half a frame.
const float kFrameSeconds = 0.032f;
const uint32_t kMaxFrame = 2048;
const size_t kAlign = 64;

uint32_t FrameSize(uint32_t rate) {
  uint32_t n = 1;
  while ((float)n < kFrameSeconds * (float)rate) n *= 2;
  return n;
}

bool Accepted(uint32_t rate, float distance, float angle, float floor_db) {
  return rate >= MVDR_MIN_RATE && rate <= MVDR_MAX_RATE && distance > 0.0f && distance <= 10.0f &&
         angle >= -90.0f && angle <= 90.0f && floor_db >= -80.0f && floor_db <= 0.0f;
}

}  // namespace

struct TMvdrArray {
  uint32_t rate;
  uint32_t frame;  // analysis frame, samples
  uint32_t hop;
  float distance, angle, floor_db;
  uint32_t head;
  float delay[kMaxFrame];  // microphone 0, one latency's worth
};

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
  it->floor_db = floor_db;
  MvdrArray_Reset(it);
  return it;
}

uint32_t MvdrArray_Hop(const TMvdrArray* it) { return it->hop; }
uint32_t MvdrArray_Latency(const TMvdrArray* it) { return it->frame - it->hop; }

void MvdrArray_Reset(TMvdrArray* it) {
  it->head = 0;
  memset(it->delay, 0, sizeof it->delay);
}

int MvdrArray_Retune(TMvdrArray* it, float distance, float angle, float floor_db) {
  if (!Accepted(it->rate, distance, angle, floor_db)) return -1;
  it->distance = distance;
  it->angle = angle;
  it->floor_db = floor_db;
  return 0;
}

void MvdrArray_ProcessFloat(TMvdrArray* it, const float* stereo, float* mono) {
  const uint32_t L = MvdrArray_Latency(it);
  for (uint32_t i = 0; i < it->hop; i++) {
    const float x = stereo[2 * i];
    mono[i] = it->delay[it->head];
    it->delay[it->head] = isfinite(x) ? x : 0.0f;
    it->head = (it->head + 1) % L;
  }
}

void MvdrArray_Process(TMvdrArray* it, const int16_t* stereo, int16_t* mono) {
  float in[2 * kMaxFrame / 2], out[kMaxFrame / 2];
  for (uint32_t i = 0; i < 2 * it->hop; i++) in[i] = (float)stereo[i] / 32768.0f;
  MvdrArray_ProcessFloat(it, in, out);
  for (uint32_t i = 0; i < it->hop; i++) {
    const float v = roundf(out[i] * 32768.0f);
    mono[i] = (int16_t)(v > 32767.0f ? 32767.0f : v < -32768.0f ? -32768.0f : v);
  }
}
