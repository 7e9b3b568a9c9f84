// The adaptive two-microphone engine: an MVDR beamformer steered at the
// talker, with noise statistics learned where the talker is absent, and a
// speech post-filter. Public interface.
//
// The caller owns the record's memory: MvdrArray_Size(rate) bytes (any
// alignment) laid out by MvdrArray_Init, which returns the record inside it.
// Each call of MvdrArray_Process takes MvdrArray_Hop() interleaved stereo
// pairs (microphone 0 first) and gives as many mono samples, late by
// MvdrArray_Latency() samples. Neither init nor process allocates; the
// engine keeps no global state.
#ifndef MICARRAY_MVDR_H
#define MICARRAY_MVDR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Rates the engine runs natively; convert others first.
#define MVDR_MIN_RATE 8000
#define MVDR_MAX_RATE 48000

typedef struct TMvdrArray TMvdrArray;

// Bytes of memory a record needs at this rate; 0 for a rate outside
// MVDR_MIN_RATE..MVDR_MAX_RATE.
size_t MvdrArray_Size(uint32_t rate);

// Lays a fresh record into mem (MvdrArray_Size(rate) bytes) and returns it;
// NULL, with mem untouched, when mem is NULL or a value is refused.
//   distance  microphone spacing in metres, (0, 10]
//   angle     the talker's direction in degrees from broadside, [-90, 90];
//             positive toward microphone 0 (it reaches microphone 0 first)
//   floor_db  the deepest suppression of the post-filter in dB, [-80, 0]
TMvdrArray* MvdrArray_Init(void* mem, uint32_t rate, float distance, float angle, float floor_db);

// Stereo pairs consumed and mono samples produced by one call.
uint32_t MvdrArray_Hop(const TMvdrArray* it);
// Samples by which the output lags the input.
uint32_t MvdrArray_Latency(const TMvdrArray* it);

// Forgets every statistic and history, as if freshly initialised.
void MvdrArray_Reset(TMvdrArray* it);
// New settings from the next hop on, keeping the learned statistics (the
// noise field does not change when the look direction does). Returns 0, or
// -1 with nothing changed when a value is refused (ranges as for init).
int MvdrArray_Retune(TMvdrArray* it, float distance, float angle, float floor_db);

// One hop of 16-bit samples.
void MvdrArray_Process(TMvdrArray* it, const int16_t* stereo, int16_t* mono);
// One hop of float samples, 1.0 full scale. Samples that are not finite
// count as silence; the output is neither clipped nor rounded.
void MvdrArray_ProcessFloat(TMvdrArray* it, const float* stereo, float* mono);

#ifdef __cplusplus
}
#endif

#endif
