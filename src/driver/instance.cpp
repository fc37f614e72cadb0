#include "driver/instance.h"

#include <cstring>

namespace toldex {

void InitRuntimeState(InstanceRecord& instance) {
  instance.switchPending = 0;
  platform::LockInit(instance.switchLock);
  platform::LockInit(instance.readModifyWriteLock);
  for (platform::Lock& lock : instance.stationLocks) platform::LockInit(lock);
  instance.notification = NotificationState{};
  platform::LockInit(instance.registrations.lock);
  instance.registrations.switchCount = 0;
  instance.registrations.scrutCount = 0;
  for (WarmStartShadow& shadow : instance.warmStartShadows) {
    shadow = WarmStartShadow{};
    shadow.socket = platform::kNoSocket;
  }
}

}  // namespace toldex
