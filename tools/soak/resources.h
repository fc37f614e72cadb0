// What the process holds: open file descriptors and threads (Linux, /proc).
#pragma once

#include <cstdint>
#include <functional>

namespace soak {

struct Resources {
  int descriptors = 0;
  int threads = 0;
  bool operator==(const Resources&) const = default;
};

Resources CountResources();
// Counts again until `settled` holds for the count or the time is up; returns
// the last count. Threads and connections that are ending take a moment.
Resources CountResourcesWhen(const std::function<bool(const Resources&)>& settled, uint32_t waitMs);

}  // namespace soak
