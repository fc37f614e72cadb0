#include "addressing/registration_queue.h"

#include <cstdio>
#include <cstring>

#include "driver/log.h"

namespace toldex {
namespace {

bool Queue(platform::Lock& lock, int32_t& count, Registration* entries, int capacity,
           const char* kind, const char* text, int32_t number) {
  platform::LockGuard guard(lock);
  for (int i = 0; i < count; ++i) {
    if (std::strncmp(entries[i].text, text, kAddressTextSize - 1) == 0) return true;
  }
  if (count >= capacity) {
    LOG(kLogEvent, "TOLDEX: %s gate %s not registered: %d gates already wait", kind, text, capacity);
    return false;
  }
  Registration& entry = entries[count];
  std::snprintf(entry.text, sizeof entry.text, "%s", text);
  entry.number = number;
  ++count;
  return true;
}

int Take(platform::Lock& lock, int32_t& count, const Registration* entries, Registration* out) {
  platform::LockGuard guard(lock);
  const int taken = count;
  std::memcpy(out, entries, sizeof(Registration) * static_cast<size_t>(taken));
  count = 0;
  return taken;
}

}  // namespace

bool QueueSwitchRegistration(InstanceRecord& instance, const char* text, int32_t plc) {
  RegistrationQueue& queue = instance.registrations;
  return Queue(queue.lock, queue.switchCount, queue.switchGates, kSwitchRegistrationCapacity,
               "Switch", text, plc);
}

bool QueueScrutRegistration(InstanceRecord& instance, const char* text, int32_t station) {
  RegistrationQueue& queue = instance.registrations;
  return Queue(queue.lock, queue.scrutCount, queue.scrutGates, kScrutRegistrationCapacity,
               "_SCRUT", text, station);
}

int TakeSwitchRegistrations(InstanceRecord& instance, Registration* out) {
  RegistrationQueue& queue = instance.registrations;
  return Take(queue.lock, queue.switchCount, queue.switchGates, out);
}

int TakeScrutRegistrations(InstanceRecord& instance, Registration* out) {
  RegistrationQueue& queue = instance.registrations;
  return Take(queue.lock, queue.scrutCount, queue.scrutGates, out);
}

void ClearRegistrations(InstanceRecord& instance) {
  RegistrationQueue& queue = instance.registrations;
  platform::LockGuard guard(queue.lock);
  queue.switchCount = 0;
  queue.scrutCount = 0;
}

}  // namespace toldex
