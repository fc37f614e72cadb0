// A plain, non-recursive lock that lives inside the records it guards (the
// host's instance block among them).
//
// Storage that is all zero bytes is a valid, unlocked lock on every side, so a
// lock in static storage needs no initialisation; LockInit makes one anew in
// memory of any content. Acquiring and releasing never allocate.
#pragma once

namespace toldex::platform {

struct Lock {
  alignas(8) unsigned char storage[48];
};

void LockInit(Lock& lock);
void LockAcquire(Lock& lock);
void LockRelease(Lock& lock);

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { LockAcquire(lock_); }
  ~LockGuard() { LockRelease(lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace toldex::platform
