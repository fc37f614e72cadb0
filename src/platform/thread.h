// Threads, sleeping and the system's error numbers.
//
// A thread runs a body with one pointer argument. A joinable thread must be
// joined exactly once; a detached one cleans up after itself.
#pragma once

#include <cstdint>

namespace toldex::platform {

using ThreadHandle = void*;
constexpr ThreadHandle kNoThread = nullptr;
using ThreadBody = void (*)(void* argument);

// A joinable thread, or kNoThread (the reason in RuntimeErrorNumber).
ThreadHandle ThreadStart(ThreadBody body, void* argument);
// 0, or -1 (the reason in RuntimeErrorNumber).
int ThreadStartDetached(ThreadBody body, void* argument);
// Waits for the thread to end and releases it.
void ThreadJoin(ThreadHandle thread);
// Threads started through this layer whose body has not yet returned, for tests.
int ThreadRunningCount();

uint32_t CurrentThreadId();
void SleepMilliseconds(uint32_t milliseconds);
// Monotonic clock in milliseconds.
uint64_t MonotonicMilliseconds();

// The system's last error of the calling thread (GetLastError, errno).
uint32_t LastSystemError();
// The run-time library's error number (errno).
int RuntimeErrorNumber();

}  // namespace toldex::platform
