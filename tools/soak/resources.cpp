#include "resources.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace soak {
namespace {

constexpr auto kRecountPause = std::chrono::milliseconds(50);

int CountEntries(const char* folder) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace

Resources CountResources() {
  Resources resources;
  // The listing itself holds one descriptor open while it counts.
  resources.descriptors = CountEntries("/proc/self/fd") - 1;
  resources.threads = CountEntries("/proc/self/task");
  return resources;
}

Resources CountResourcesWhen(const std::function<bool(const Resources&)>& settled, uint32_t waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  Resources resources = CountResources();
  while (!settled(resources) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kRecountPause);
    resources = CountResources();
  }
  return resources;
}

}  // namespace soak
