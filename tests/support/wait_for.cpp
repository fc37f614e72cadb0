#include "support/wait_for.h"

#include "platform/thread.h"

namespace toldex::testing {
namespace {

constexpr uint32_t kPollMs = 5;

}  // namespace

bool WaitFor(const std::function<bool()>& condition, uint32_t patienceMs) {
  const uint64_t deadline = platform::MonotonicMilliseconds() + patienceMs;
  while (!condition()) {
    if (platform::MonotonicMilliseconds() > deadline) return false;
    platform::SleepMilliseconds(kPollMs);
  }
  return true;
}

}  // namespace toldex::testing
