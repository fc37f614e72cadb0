// Threads, sleep, clock and error numbers on Windows.
#include "platform/thread.h"

#include <windows.h>
#include <process.h>

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

// _beginthreadex rather than CreateThread: the thread uses the C run-time.
unsigned __stdcall Trampoline(void* raw) {
  const Start start = *static_cast<Start*>(raw);
  delete static_cast<Start*>(raw);
  start.body(start.argument);
  g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
  return 0;
}

HANDLE Launch(ThreadBody body, void* argument) {
  auto* start = new (std::nothrow) Start{body, argument};
  if (start == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  g_runningThreads.fetch_add(1, std::memory_order_acq_rel);
  const uintptr_t thread = _beginthreadex(nullptr, 0, Trampoline, start, 0, nullptr);
  if (thread == 0) {
    g_runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    delete start;
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(thread);
}

}  // namespace

ThreadHandle ThreadStart(ThreadBody body, void* argument) {
  HANDLE thread = Launch(body, argument);
  return thread != nullptr ? thread : kNoThread;
}

int ThreadStartDetached(ThreadBody body, void* argument) {
  HANDLE thread = Launch(body, argument);
  if (thread == nullptr) return -1;
  // The thread runs on; only our handle to it goes.
  CloseHandle(thread);
  return 0;
}

void ThreadJoin(ThreadHandle thread) {
  if (thread == kNoThread) return;
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}

int ThreadRunningCount() { return g_runningThreads.load(std::memory_order_acquire); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

uint32_t LastSystemError() { return GetLastError(); }

int RuntimeErrorNumber() { return errno; }

}  // namespace toldex::platform
