// Waiting in tests for something another thread does, without timing
// assertions: poll until it holds, give up only after a generous patience.
#pragma once

#include <cstdint>
#include <functional>

namespace toldex::testing {

constexpr uint32_t kDefaultPatienceMs = 10000;

// true as soon as the condition holds; false when it did not within the patience.
bool WaitFor(const std::function<bool()>& condition, uint32_t patienceMs = kDefaultPatienceMs);

}  // namespace toldex::testing
