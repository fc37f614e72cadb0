#include "stall_monitor.h"

#include <chrono>

namespace soak {
namespace {

constexpr auto kTick = std::chrono::milliseconds(5);
// Oversleeping by less than this is ordinary timer slack, not a stall.
constexpr int64_t kStallThresholdMs = 20;

}  // namespace

void StallMonitor::Start() {
  stop_ = false;
  thread_ = std::thread(&StallMonitor::Run, this);
}

void StallMonitor::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void StallMonitor::Run() {
  using Clock = std::chrono::steady_clock;
  while (!stop_.load()) {
    const Clock::time_point before = Clock::now();
    std::this_thread::sleep_for(kTick);
    const int64_t lateMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before - kTick).count();
    if (lateMs < kStallThresholdMs) continue;
    const uint64_t late = static_cast<uint64_t>(lateMs);
    totalMs_.fetch_add(late, std::memory_order_relaxed);
    count_.fetch_add(1, std::memory_order_relaxed);
    uint64_t longest = longestMs_.load();
    while (late > longest && !longestMs_.compare_exchange_weak(longest, late)) {
    }
  }
}

}  // namespace soak
