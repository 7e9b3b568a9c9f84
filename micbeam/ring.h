// A lock-free ring of 16-bit samples between one producer thread and one
// consumer thread (an audio callback and the thread that processes): the
// storage is allocated once by Ring_Init, and writing or reading never
// allocates, locks or waits.
#ifndef MICBEAM_RING_H
#define MICBEAM_RING_H

#include <stdint.h>

#include <atomic>
#include <cstddef>
#include <vector>

typedef struct _TRing {
  std::vector<int16_t> data;
  std::atomic<size_t> written;  // values written since the start (the producer's)
  std::atomic<size_t> taken;    // values read since the start (the consumer's)
} TRing;

void Ring_Init(TRing* it, size_t capacity);
// Values waiting to be read.
size_t Ring_Used(const TRing* it);
// Producer: appends all `count` values, or none when there is not room for all.
bool Ring_Write(TRing* it, const int16_t* values, size_t count);
// Consumer: takes up to `count` values; returns how many it took.
size_t Ring_Read(TRing* it, int16_t* values, size_t count);

#endif
