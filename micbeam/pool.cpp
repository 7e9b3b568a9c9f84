#include "pool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

void Pool_Run(unsigned workers, size_t count, const std::function<void(size_t)>& task,
              const std::function<void()>& tick, std::chrono::milliseconds interval) {
  std::atomic<size_t> next{0};
  std::mutex lock;
  std::condition_variable finished;
  unsigned running = workers;
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; w++)
    threads.emplace_back([&] {
      for (size_t i; (i = next.fetch_add(1)) < count;) task(i);
      std::lock_guard<std::mutex> guard(lock);
      running--;
      finished.notify_one();
    });
  {
    std::unique_lock<std::mutex> guard(lock);
    while (!finished.wait_for(guard, interval, [&] { return running == 0; })) {
      guard.unlock();
      tick();
      guard.lock();
    }
  }
  for (std::thread& t : threads) t.join();
  tick();
}
