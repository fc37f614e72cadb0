// The instance's notification thread. It registers the driver as a client of
// the host library, registers the switch and _SCRUT gates that the address
// parsers queued, and stores every new switch value the host sends into the
// PLC's backup entry, where the station selection picks it up.
#include "redundancy/notification.h"

#include "addressing/registration_queue.h"
#include "driver/log.h"
#include "driver/shared_field.h"

namespace toldex {
namespace {

// The client name is also the name shown in the shut-down line.
constexpr char kClientName[] = "TOLDEX: ";
constexpr uint32_t kCycleSleepMs = 100;
constexpr int32_t kMessageWaitMs = 50;
constexpr int32_t kHostFlagOne = 1;
constexpr int32_t kHostFlagZero = 0;
constexpr int32_t kOneGate = 1;
constexpr double kBackupInUse = 1.0;

// The host wants this line in Windows-1252: é is 0xE9, à is 0xE0. The string
// is split after each escape so that no following letter extends the escape.
constexpr char kUnregisterFailedLine[] =
    "TOLDEX: Erreur de d\xE9"
    "connexion \xE0"
    " Qirpro.";

// What the thread keeps for itself while it runs.
struct ThreadState {
  InstanceRecord* instance;
  uint8_t clientId;
  uint8_t driverNumber;  // low byte of threadDriverNumber, for the gate look-ups
  // Backup entries whose switch gate the host has given an id for. Only these
  // take values from change messages: an entry whose gate was never
  // registered has id 0, which must not match a message for gate 0.
  bool switchGateRegistered[kBackupEntryCount];
  Registration taken[kScrutRegistrationCapacity];
};
static_assert(kScrutRegistrationCapacity >= kSwitchRegistrationCapacity);

// Looks up the gate's id and asks the host for its changes. Returns true when
// the id was found (and stored through `storeId`), whatever the subscription
// gave.
template <typename StoreId>
bool RegisterGate(const ThreadState& state, const Registration& gate, StoreId storeId) {
  const platform::HostFunctions& host = platform::Host();
  int32_t gateId = 0;
  uint16_t result = host.QirGetGateIdByAddressStr(state.clientId, state.driverNumber, gate.text, &gateId);
  if (result != 0) {
    LOG(kLogEvent, "TOLDEX: Unable to get gate ID for %s gate, Error = %d", gate.text, result);
    return false;
  }
  storeId(gateId);
  LOG(kLogEvent, "TOLDEX:  - Get gate ID for %s gate OK, Plc concerned is %d, tag id is %d.",
      gate.text, gate.number, gateId);
  result = host.QirRqGateMsg(state.clientId, kHostFlagOne, &gateId, kOneGate);
  if (result != 0) {
    LOG(kLogEvent, "TOLDEX: Unable to setup message notification for %s gate, Error = %d", gate.text,
        result);
  } else {
    LOG(kLogEvent, "TOLDEX: Setup message notification for %s gate OK.", gate.text);
  }
  return true;
}

void RegisterSwitchGates(ThreadState& state) {
  InstanceRecord& instance = *state.instance;
  const int count = TakeSwitchRegistrations(instance, state.taken);
  for (int i = 0; i < count; ++i) {
    const Registration& gate = state.taken[i];
    const int plc = gate.number;
    // The parsers hand over PLC numbers 1 to 64 only; anything else has no entry.
    if (plc < 1 || plc > kPlcCount) continue;
    const bool found = RegisterGate(state, gate, [&](int32_t gateId) {
      StoreShared(instance.backups[plc].switchGateId, gateId);
    });
    if (found) state.switchGateRegistered[plc] = true;
  }
}

void RegisterScrutGates(ThreadState& state) {
  InstanceRecord& instance = *state.instance;
  const int count = TakeScrutRegistrations(instance, state.taken);
  for (int i = 0; i < count; ++i) {
    const Registration& gate = state.taken[i];
    const int station = gate.number;
    if (station < 0 || station >= kStationCount) continue;
    RegisterGate(state, gate, [&](int32_t gateId) {
      StoreShared(instance.stations[station].scrutGateId, gateId);
    });
  }
}

// A gate changed: every registered switch gate with that id takes the value.
void StoreSwitchChange(ThreadState& state, const HostMessage& message) {
  InstanceRecord& instance = *state.instance;
  for (int plc = 1; plc <= kPlcCount; ++plc) {
    if (!state.switchGateRegistered[plc]) continue;
    if (LoadShared(instance.backups[plc].switchGateId) != message.gateId) continue;
    LOG(kLogEvent, "TOLDEX: Backup Switch tag id %d has been set to %f, concerned plc is %d",
        message.gateId, message.value, plc);
    StoreSwitchValue(instance, plc, message.value);
    if (message.value == kBackupInUse) {
      LOG(kLogEvent, "TOLDEX: Driver will switch to Plc Backup for Plc %d", plc);
    } else {
      LOG(kLogEvent, "TOLDEX: Driver will switch to Plc Master for Plc %d", plc);
    }
    StoreShared(instance.switchPending, 1);
  }
}

bool KeepRunning(const InstanceRecord& instance) {
  return LoadShared(instance.notification.threadRunning) == 1;
}

}  // namespace

void NotificationThread(void* argument) {
  InstanceRecord& instance = *static_cast<InstanceRecord*>(argument);
  const platform::HostFunctions& host = platform::Host();

  ThreadState state{};
  state.instance = &instance;
  state.driverNumber = static_cast<uint8_t>(LoadShared(instance.notification.threadDriverNumber));

  const uint16_t registered = host.QirMkClient(kClientName, kHostFlagOne, kHostFlagZero, &state.clientId);
  if (registered != 0) {
    LOG(kLogEvent, "TOLDEX: Connection to QIRPRO impossible, Error = %u", registered);
    return;
  }
  instance.notification.hostClientId = state.clientId;
  LOG(kLogEvent, "TOLDEX: Connected to QIRPRO");

  HostMessage message{};
  while (KeepRunning(instance)) {
    platform::SleepMilliseconds(kCycleSleepMs);
    if (!KeepRunning(instance)) break;  // stopped while asleep: leave at once
    RegisterSwitchGates(state);
    RegisterScrutGates(state);

    const uint16_t result = host.QirWaitMsg(state.clientId, &message, kMessageWaitMs);
    if (result == platform::kHostWaitMessage) {
      LOG(kLogDetail, "TOLDEX: A message has been received, msg is : %d", message.kind);
      if (message.kind == kHostMessageGateChanged) StoreSwitchChange(state, message);
    } else if (result == platform::kHostWaitShutdown) {
      LOG(kLogEvent, "TOLDEX: Addon %s receive QIR_SHUT_DOWN message", kClientName);
      StoreShared(instance.notification.threadRunning, 0);
      break;
    }
  }

  if (host.QirRmClient(state.clientId) != 0) LOG(kLogEvent, "%s", kUnregisterFailedLine);
}

int StartNotificationThread(InstanceRecord& instance) {
  // One thread serves an instance: an earlier one is ended first.
  StopNotificationThread(instance);
  StoreShared(instance.notification.threadRunning, 1);
  instance.notification.thread = platform::ThreadStart(NotificationThread, &instance);
  return instance.notification.thread == platform::kNoThread ? -1 : 0;
}

void StopNotificationThread(InstanceRecord& instance) {
  StoreShared(instance.notification.threadRunning, 0);
  if (instance.notification.thread == platform::kNoThread) return;
  platform::ThreadJoin(instance.notification.thread);
  instance.notification.thread = platform::kNoThread;
}

}  // namespace toldex
