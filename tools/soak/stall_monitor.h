// How long this process went without the processor: a thread that sleeps a
// few milliseconds at a time and adds up how much later than asked it woke.
// A call's time limit leaves room for the stalls that happened during the
// call, since a host thread that is not scheduled (or a thread holding a lock
// it waits for) cannot keep any time limit; the summary shows them.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace soak {

class StallMonitor {
 public:
  void Start();
  void Stop();
  // Milliseconds of stall so far; a call's stall is the difference of two readings.
  uint64_t TotalMs() const { return totalMs_.load(std::memory_order_relaxed); }
  uint64_t LongestMs() const { return longestMs_.load(std::memory_order_relaxed); }
  uint64_t Count() const { return count_.load(std::memory_order_relaxed); }

 private:
  void Run();

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> totalMs_{0};
  std::atomic<uint64_t> longestMs_{0};
  std::atomic<uint64_t> count_{0};
};

}  // namespace soak
