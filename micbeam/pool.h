// A pool of worker threads over a list of independent tasks.
#ifndef MICBEAM_POOL_H
#define MICBEAM_POOL_H

#include <chrono>
#include <cstddef>
#include <functional>

// Runs task(i) for every i below count on `workers` threads, each taking the
// next index when it is free; while they work, calls tick() on the calling
// thread every `interval`, and once more at the end.
void Pool_Run(unsigned workers, size_t count, const std::function<void(size_t)>& task,
              const std::function<void()>& tick, std::chrono::milliseconds interval);

#endif
