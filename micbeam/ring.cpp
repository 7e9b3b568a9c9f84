#include "ring.h"

#include <algorithm>

void Ring_Init(TRing* it, size_t capacity) {
  it->data.assign(capacity, 0);
  it->written = 0;
  it->taken = 0;
}

size_t Ring_Used(const TRing* it) {
  return it->written.load(std::memory_order_acquire) - it->taken.load(std::memory_order_acquire);
}

// The counts only grow; a position in the storage is a count modulo its size.
// Release on the count publishes the values copied before it.
bool Ring_Write(TRing* it, const int16_t* values, size_t count) {
  const size_t at = it->written.load(std::memory_order_relaxed);
  const size_t size = it->data.size();
  if (size - (at - it->taken.load(std::memory_order_acquire)) < count) return false;
  const size_t start = at % size, first = std::min(count, size - start);
  std::copy(values, values + first, it->data.data() + start);
  std::copy(values + first, values + count, it->data.data());
  it->written.store(at + count, std::memory_order_release);
  return true;
}

size_t Ring_Read(TRing* it, int16_t* values, size_t count) {
  const size_t at = it->taken.load(std::memory_order_relaxed);
  const size_t size = it->data.size();
  count = std::min(count, it->written.load(std::memory_order_acquire) - at);
  const size_t start = at % size, first = std::min(count, size - start);
  const int16_t* data = it->data.data();
  std::copy(data + start, data + start + first, values);
  std::copy(data, data + count - first, values + first);
  it->taken.store(at + count, std::memory_order_release);
  return count;
}
