// Manual-reset events with a timed wait.
//
// An event stays signalled until it is reset; every waiter sees it. Handles are
// opaque; kNoEvent means none. Creating and closing may allocate; setting,
// resetting and waiting never do.
#pragma once

#include <cstdint>

namespace toldex::platform {

using EventHandle = void*;
constexpr EventHandle kNoEvent = nullptr;

enum class WaitResult { kSignalled, kTimedOut, kFailed };

// A manual-reset event, not signalled; kNoEvent on failure.
EventHandle EventCreate();
// 0, or -1 (the system's error in LastSystemError).
int EventSet(EventHandle event);
int EventReset(EventHandle event);
WaitResult EventWait(EventHandle event, uint32_t milliseconds);
void EventClose(EventHandle event);
// Events created and not yet closed, for tests.
int EventOpenCount();

}  // namespace toldex::platform
