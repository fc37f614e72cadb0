#include "platform/lock.h"

#include <pthread.h>

#include <new>

namespace toldex::platform {

static_assert(sizeof(pthread_mutex_t) <= sizeof(Lock::storage));
static_assert(alignof(pthread_mutex_t) <= alignof(Lock));

namespace {
pthread_mutex_t* MutexOf(Lock& lock) { return reinterpret_cast<pthread_mutex_t*>(lock.storage); }
}  // namespace

void LockInit(Lock& lock) {
  // glibc's default mutex is all zero bytes, which is what the header promises
  // for static storage; this makes one anew in memory of any content.
  new (lock.storage) pthread_mutex_t;
  pthread_mutex_init(MutexOf(lock), nullptr);
}

void LockAcquire(Lock& lock) { pthread_mutex_lock(MutexOf(lock)); }

void LockRelease(Lock& lock) { pthread_mutex_unlock(MutexOf(lock)); }

}  // namespace toldex::platform
