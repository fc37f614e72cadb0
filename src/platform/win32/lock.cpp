// Locks on Windows: slim reader/writer locks, taken exclusively. An SRWLOCK of
// zero bytes is an unlocked one, as the layer promises for static storage.
#include "platform/lock.h"

#include <windows.h>

#include <new>

namespace toldex::platform {

static_assert(sizeof(SRWLOCK) <= sizeof(Lock::storage));
static_assert(alignof(SRWLOCK) <= alignof(Lock));

namespace {
SRWLOCK* SrwOf(Lock& lock) { return reinterpret_cast<SRWLOCK*>(lock.storage); }
}  // namespace

void LockInit(Lock& lock) {
  new (lock.storage) SRWLOCK;
  InitializeSRWLock(SrwOf(lock));
}

void LockAcquire(Lock& lock) { AcquireSRWLockExclusive(SrwOf(lock)); }

void LockRelease(Lock& lock) { ReleaseSRWLockExclusive(SrwOf(lock)); }

}  // namespace toldex::platform
