// Manual-reset events on Windows: the system's own event objects.
#include "platform/event.h"

#include <windows.h>

#include <atomic>

namespace toldex::platform {
namespace {

std::atomic<int> g_openEvents{0};

HANDLE Native(EventHandle event) { return static_cast<HANDLE>(event); }

}  // namespace

EventHandle EventCreate() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return kNoEvent;
  g_openEvents.fetch_add(1, std::memory_order_relaxed);
  return event;
}

int EventSet(EventHandle event) {
  if (event == kNoEvent) return -1;
  return SetEvent(Native(event)) ? 0 : -1;
}

int EventReset(EventHandle event) {
  if (event == kNoEvent) return -1;
  return ResetEvent(Native(event)) ? 0 : -1;
}

WaitResult EventWait(EventHandle event, uint32_t milliseconds) {
  if (event == kNoEvent) return WaitResult::kFailed;
  switch (WaitForSingleObject(Native(event), milliseconds)) {
    case WAIT_OBJECT_0:
    // An event is never abandoned; should the system say so, the wait is over
    // all the same.
    case WAIT_ABANDONED: return WaitResult::kSignalled;
    case WAIT_TIMEOUT: return WaitResult::kTimedOut;
    default: return WaitResult::kFailed;
  }
}

void EventClose(EventHandle event) {
  if (event == kNoEvent) return;
  CloseHandle(Native(event));
  g_openEvents.fetch_sub(1, std::memory_order_relaxed);
}

int EventOpenCount() { return g_openEvents.load(std::memory_order_relaxed); }

}  // namespace toldex::platform
