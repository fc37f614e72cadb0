// Threads, sleep, clock and error numbers on POSIX.
#include "platform/thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <new>

namespace toldex::platform {
namespace {

std::atomic<int> g_runningThreads{0};

struct Start {
  ThreadBody body;
  void* argument;
};

void* Trampoline(void* raw) {
  const Start start = *static_cast<Start*>(raw);
  delete static_cast<Start*>(raw);
  start.body(start.argument);
  g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

bool Launch(ThreadBody body, void* argument, bool detached, pthread_t* thread) {
  auto* start = new (std::nothrow) Start{body, argument};
  if (start == nullptr) {
    errno = ENOMEM;
    return false;
  }
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (detached) pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  g_runningThreads.fetch_add(1, std::memory_order_acq_rel);
  const int rc = pthread_create(thread, &attributes, Trampoline, start);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    delete start;
    errno = rc;
    return false;
  }
  return true;
}

}  // namespace

ThreadHandle ThreadStart(ThreadBody body, void* argument) {
  pthread_t thread;
  if (!Launch(body, argument, false, &thread)) return kNoThread;
  static_assert(sizeof(pthread_t) <= sizeof(ThreadHandle));
  return reinterpret_cast<ThreadHandle>(thread);
}

int ThreadStartDetached(ThreadBody body, void* argument) {
  pthread_t thread;
  return Launch(body, argument, true, &thread) ? 0 : -1;
}

void ThreadJoin(ThreadHandle thread) {
  if (thread == kNoThread) return;
  pthread_join(reinterpret_cast<pthread_t>(thread), nullptr);
}

int ThreadRunningCount() { return g_runningThreads.load(std::memory_order_acquire); }

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void SleepMilliseconds(uint32_t milliseconds) {
  timespec delay{};
  delay.tv_sec = milliseconds / 1000;
  delay.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

uint32_t LastSystemError() { return static_cast<uint32_t>(errno); }

int RuntimeErrorNumber() { return errno; }

}  // namespace toldex::platform
