// Manual-reset events on POSIX: a flag under a mutex with a condition
// variable on the monotonic clock.
#include "platform/event.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace toldex::platform {
namespace {

struct PosixEvent {
  pthread_mutex_t mutex;
  pthread_cond_t condition;
  bool signalled;
};

std::atomic<int> g_openEvents{0};

timespec DeadlineAfter(uint32_t milliseconds) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long nanoseconds = now.tv_nsec + static_cast<long long>(milliseconds % 1000) * 1000000;
  timespec deadline{};
  deadline.tv_sec = now.tv_sec + milliseconds / 1000 + nanoseconds / 1000000000;
  deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  return deadline;
}

}  // namespace

EventHandle EventCreate() {
  auto* event = new (std::nothrow) PosixEvent;
  if (event == nullptr) return kNoEvent;
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_mutex_init(&event->mutex, nullptr);
  pthread_cond_init(&event->condition, &attributes);
  pthread_condattr_destroy(&attributes);
  event->signalled = false;
  g_openEvents.fetch_add(1, std::memory_order_relaxed);
  return event;
}

int EventSet(EventHandle handle) {
  if (handle == kNoEvent) return -1;
  auto* event = static_cast<PosixEvent*>(handle);
  pthread_mutex_lock(&event->mutex);
  event->signalled = true;
  pthread_cond_broadcast(&event->condition);
  pthread_mutex_unlock(&event->mutex);
  return 0;
}

int EventReset(EventHandle handle) {
  if (handle == kNoEvent) return -1;
  auto* event = static_cast<PosixEvent*>(handle);
  pthread_mutex_lock(&event->mutex);
  event->signalled = false;
  pthread_mutex_unlock(&event->mutex);
  return 0;
}

WaitResult EventWait(EventHandle handle, uint32_t milliseconds) {
  if (handle == kNoEvent) return WaitResult::kFailed;
  auto* event = static_cast<PosixEvent*>(handle);
  const timespec deadline = DeadlineAfter(milliseconds);
  pthread_mutex_lock(&event->mutex);
  int rc = 0;
  while (!event->signalled && rc != ETIMEDOUT) {
    rc = pthread_cond_timedwait(&event->condition, &event->mutex, &deadline);
    if (rc != 0 && rc != ETIMEDOUT && rc != EINTR) break;
  }
  const bool signalled = event->signalled;
  pthread_mutex_unlock(&event->mutex);
  if (signalled) return WaitResult::kSignalled;
  return rc == ETIMEDOUT ? WaitResult::kTimedOut : WaitResult::kFailed;
}

void EventClose(EventHandle handle) {
  if (handle == kNoEvent) return;
  auto* event = static_cast<PosixEvent*>(handle);
  pthread_cond_destroy(&event->condition);
  pthread_mutex_destroy(&event->mutex);
  delete event;
  g_openEvents.fetch_sub(1, std::memory_order_relaxed);
}

int EventOpenCount() { return g_openEvents.load(std::memory_order_relaxed); }

}  // namespace toldex::platform
