#include "driver/started_instances.h"

#include "platform/lock.h"

namespace toldex {
namespace {

// Zero storage is an unlocked lock and an empty table.
platform::Lock g_tableLock;
const InstanceRecord* g_running[kMaxRunningInstances];

// The slot holding the instance, or -1. Called under the table lock.
int SlotOf(const InstanceRecord* instance) {
  for (int i = 0; i < kMaxRunningInstances; ++i) {
    if (g_running[i] == instance) return i;
  }
  return -1;
}

}  // namespace

bool RememberStartedInstance(const InstanceRecord* instance) {
  platform::LockGuard guard(g_tableLock);
  if (SlotOf(instance) >= 0) return true;
  const int free = SlotOf(nullptr);
  if (free < 0) return false;
  g_running[free] = instance;
  return true;
}

bool ForgetStartedInstance(const InstanceRecord* instance) {
  platform::LockGuard guard(g_tableLock);
  const int slot = SlotOf(instance);
  if (slot < 0) return false;
  g_running[slot] = nullptr;
  return true;
}

bool IsStartedInstance(const InstanceRecord* instance) {
  platform::LockGuard guard(g_tableLock);
  return SlotOf(instance) >= 0;
}

}  // namespace toldex
