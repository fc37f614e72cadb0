// The state of one driver instance. It lives in the block that the host passes
// as DriverRequest::instance; the driver never allocates it. Everything that
// belongs to the instance lives here, also what its background threads use, so
// two instances in one process never share a connection, a flag or a queue.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace toldex {

constexpr int kStationCount = 256;        // station numbers 0 to 255
constexpr int kPlcCount = 64;             // PLC numbers 1 to 64
constexpr int kBackupEntryCount = kPlcCount + 1;  // entry 0 unused
constexpr int kIpTextSize = 50;
constexpr int kAddressTextSize = 256;     // gate address texts: 255 characters and a NUL
constexpr uint16_t kDefaultPort = 502;

// Option bits of InstanceRecord::options.
constexpr uint16_t kOptionSwap = 0x0002;
constexpr uint16_t kOptionFloatSwap = 0x0004;
constexpr uint16_t kOptionLongAddr = 0x0008;

// Markers carried by a parsed address's plcNumber and registerAddress.
constexpr int32_t kDiagnosticMarker = 1000;     // 1000 + station: diagnostic gate
constexpr int32_t kSwitchGateMarker = 100000;   // 100000 + PLC: the PLC's switch gate
constexpr int32_t kScrutGateMarker = 200000;    // 200000 + station: a _SCRUT gate
constexpr int32_t kOddItemMarker = 100000;      // registerAddress of a 32-bit item on an odd register

struct StationRecord {
  char ip[kIpTextSize];  // dotted IPv4 text; empty: not configured
  uint16_t port;
  int16_t force_address;  // unit identifier to send instead of the station number; -1 none
  int32_t socket;         // -1 none; changed only under the station's lock
  platform::EventHandle hConnectSem;
  platform::SocketAddressV4 connectAddress;
  int32_t connectInProgress;
  int32_t connectFailed;
  int32_t online;
  uint32_t numComms;
  uint32_t numSuccess;
  uint32_t numFails;
  uint32_t errors;
  uint32_t commFails;
  int32_t scrutGateId;
};

struct BackupEntry {
  uint16_t backupPlc;    // station serving this PLC as backup, 0 none
  int32_t switchGateId;  // 0 until the notification thread registered the switch gate
  double switchValue;    // exactly 1.0: backup in use; read and written under switchLock
};

// The working state of a station's background connect (warm start). It holds
// only what the connect thread uses; the thread works in it after WarmStart
// has returned, so it lives with the instance, not on a stack.
struct WarmStartShadow {
  int32_t plcNumber;  // plcNumber of the first WarmStart of the station; 0: not initialised
  uint16_t connectStation;
  int32_t socket;  // being connected, or connected and waiting to be collected; -1 none
  platform::SocketAddressV4 connectAddress;
  int32_t connectInProgress;
  int32_t connectFailed;
  platform::EventHandle hConnectSem;  // the event the connect thread signals
  platform::ThreadHandle connectThread;  // joined before the next start and by EndVpi
  // Set by the warm connect before each start, so that the connect thread
  // closes a failed socket under the station's lock.
  platform::Lock* stationLock;
  int32_t connectError;  // socket error of the last failed background connect
};

// A switch gate or _SCRUT gate accepted by a parser and waiting to be
// registered with the host by the notification thread.
struct Registration {
  char text[kAddressTextSize];
  int32_t number;  // switch gate: its PLC; _SCRUT gate: its station
};

constexpr int kSwitchRegistrationCapacity = 64;
constexpr int kScrutRegistrationCapacity = 256;

struct RegistrationQueue {
  platform::Lock lock;
  int32_t switchCount;
  Registration switchGates[kSwitchRegistrationCapacity];
  int32_t scrutCount;
  Registration scrutGates[kScrutRegistrationCapacity];
};

struct NotificationState {
  int32_t threadRunning;  // the thread loops while 1
  int32_t threadDriverNumber;
  uint8_t hostClientId;
  platform::ThreadHandle thread;
};

struct InstanceRecord {
  // Configuration and stations.
  int32_t timeoutMs;
  int32_t started;
  char protocol;  // 'M' Modbus, 'J' J-BUS
  char base;      // 'D', 'H' or 'L'
  uint16_t options;
  StationRecord stations[kStationCount];
  uint16_t driverNumber;
  int32_t parityAddrChecking;
  int32_t receivedFramesChecking;
  BackupEntry backups[kBackupEntryCount];

  // Run-time state of the instance; the initialisation-file reader never
  // touches it.
  int32_t switchPending;  // a switch value changed and awaits its report
  platform::Lock switchLock;           // every backup entry's switchValue
  platform::Lock readModifyWriteLock;  // bit and byte writes; taken before a station lock
  platform::Lock stationLocks[kStationCount];  // a station's exchanges and its socket
  NotificationState notification;
  RegistrationQueue registrations;
  WarmStartShadow warmStartShadows[kStationCount];
};

inline InstanceRecord& InstanceOf(const DriverRequest* request) {
  return *static_cast<InstanceRecord*>(request->instance);
}

template <typename Params>
inline Params& ParamsOf(const DriverRequest* request) {
  return *static_cast<Params*>(request->params);
}

inline bool IsConfigured(const StationRecord& station) { return station.ip[0] != '\0'; }

// The switch value is 64 bits wide and the host's block may be only 4-byte
// aligned, so it is read and written under the instance's switch lock.
inline double LoadSwitchValue(InstanceRecord& instance, int plc) {
  platform::LockGuard guard(instance.switchLock);
  return instance.backups[plc].switchValue;
}

inline void StoreSwitchValue(InstanceRecord& instance, int plc, double value) {
  platform::LockGuard guard(instance.switchLock);
  instance.backups[plc].switchValue = value;
}

// Makes the run-time state of a fresh block usable: locks, no threads, no
// shadows, empty queues. Called by every ColdStart before anything else runs.
void InitRuntimeState(InstanceRecord& instance);

}  // namespace toldex
