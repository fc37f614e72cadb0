// WarmStart, EndVpi, and what ColdStart needs to start an instance and to take
// over one that is still running.
#include "driver/lifecycle.h"

#include "driver/log.h"
#include "driver/operations.h"
#include "driver/shared_field.h"
#include "driver/started_instances.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "redundancy/notification.h"
#include "redundancy/switching.h"
#include "transport/connection.h"

namespace toldex {
namespace {

constexpr int kNoStation = -1;
constexpr double kMasterInUse = 0.0;

// The station a WarmStart's plcNumber names: a PLC's own station (1 to 64) or
// station n of 200000 + n; kNoStation for every other number.
int StationOfWarmStart(int32_t plcNumber) {
  if (plcNumber >= kScrutGateMarker) {
    const int64_t station = static_cast<int64_t>(plcNumber) - kScrutGateMarker;
    return station < kStationCount ? static_cast<int>(station) : kNoStation;
  }
  return plcNumber >= 1 && plcNumber <= kPlcCount ? plcNumber : kNoStation;
}

// The shadow is set up at the station's first warm start after ColdStart and
// kept for the later ones. Under the station's lock, so that two warm starts
// at once never clear a shadow whose connect one of them has begun.
void PrepareShadow(InstanceRecord& instance, int station, int32_t plcNumber) {
  platform::LockGuard guard(instance.stationLocks[station]);
  WarmStartShadow& shadow = instance.warmStartShadows[station];
  if (shadow.plcNumber != 0) return;
  LOG(kLogEvent, "TOLDEX: WarmStart() Initialising structures for Station %d IP %s", station,
      instance.stations[station].ip);
  shadow = WarmStartShadow{};
  shadow.plcNumber = plcNumber;
  shadow.socket = platform::kNoSocket;
  shadow.connectStation = static_cast<uint16_t>(station);
}

void CloseStation(InstanceRecord& instance, int s) {
  StationRecord& station = instance.stations[s];
  platform::LockGuard guard(instance.stationLocks[s]);
  LOG(kLogEvent, "TOLDEX: EndVpi() Closing Socket %d", LoadShared(station.socket));
  CloseSocketEx(&station.socket);
  if (station.hConnectSem != platform::kNoEvent) {
    platform::EventClose(station.hConnectSem);
    station.hConnectSem = platform::kNoEvent;
  }
}

}  // namespace

int32_t CloseRunningInstance(InstanceRecord& instance) {
  // Threads first: once they are joined nothing else touches the sockets,
  // the events or the block.
  StopNotificationThread(instance);
  StopBackgroundConnects(instance);
  for (int s = 0; s < kStationCount; ++s) {
    if (IsConfigured(instance.stations[s])) CloseStation(instance, s);
  }
  const int cleanupError = platform::SocketCleanup();
  if (cleanupError != 0) LOG(kLogEvent, "TOLDEX: fail to cleanup rc = %d", cleanupError);
  return cleanupError;
}

bool BeginColdStart(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  if (ForgetStartedInstance(&instance)) {
    LOG(kLogEvent, "TOLDEX: ColdStart() instance still running, closing it first");
    CloseRunningInstance(instance);
  }
  if (ParamsOf<ColdStartParams>(request).startMode == 0) return true;
  if (RememberStartedInstance(&instance)) return true;
  LOG(kLogEvent, "TOLDEX: ColdStart() refused, %d driver instances are running already",
      kMaxRunningInstances);
  return false;
}

void StartCommunicationThread(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  StoreShared(instance.notification.threadRunning, 1);
  StoreShared(instance.switchPending, 0);
  StoreShared(instance.notification.threadDriverNumber, request->driverNumber);
  if (StartNotificationThread(instance) != 0) {
    LOG(kLogEvent, "TOLDEX: Cannot create communication thread.");
  } else {
    LOG(kLogEvent, "TOLDEX: Communication Thread started OK.");
  }
}

int32_t WarmStart(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  const int32_t plcNumber = ParamsOf<WarmStartParams>(request).plcNumber;
  const int s = StationOfWarmStart(plcNumber);
  if (s == kNoStation) return kStatusRequestFailed;
  // Only a running instance reconnects: once EndVpi has returned, no connect
  // thread may start working in the block again.
  if (!IsStartedInstance(&instance)) {
    LOG(kLogEvent, "TOLDEX: WarmStart() refused, the driver is not running");
    return kStatusRequestFailed;
  }
  const bool scrut = plcNumber >= kScrutGateMarker;

  // A switch waits to be reported: the report replaces the reconnect.
  if (!scrut && LoadShared(instance.switchPending) != 0 && instance.backups[plcNumber].backupPlc != 0) {
    MasterBackupManagement(request, kCallerWarmStart);
    return kStatusOk;
  }

  StationRecord& station = instance.stations[s];
  LOG(kLogEvent, "TOLDEX: WarmStart() called. Station %d IP %s", s, station.ip);
  PrepareShadow(instance, s, plcNumber);
  if (!IsConfigured(station)) {
    LOG(kLogEvent, "TOLDEX: WarmStart() No IP Address defined for Station %d", s);
    return kStatusOk;
  }

  const int rc = VpiTcpSocketManagementWarmStart(&station.socket, station.ip, station.port, request);
  if (rc != 0) {
    LOG(kLogEvent, "TOLDEX: WarmStart() Connect Station failed, station: %d  IP: %s, rc = %d", s,
        station.ip, rc);
    // The master does not come back: the PLC goes over to the other station.
    if (!scrut && instance.backups[plcNumber].backupPlc != 0) {
      ToggleSwitch(instance, plcNumber);
      StoreShared(instance.switchPending, 1);
    }
    return rc;
  }
  LOG(kLogEvent, "TOLDEX: WarmStart() ConnectStation pass, station: %d  IP: %s, socket = %d", s,
      station.ip, LoadShared(station.socket));
  StoreShared(station.online, 1);
  // The station watched through its _SCRUT gate answers again: its PLC goes
  // back to the master.
  if (scrut && s >= 1 && s <= kPlcCount) {
    StoreSwitchValue(instance, s, kMasterInUse);
    StoreShared(instance.switchPending, 1);
  }
  return kStatusOk;
}

int32_t EndVpi(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  if (instance.started == 0) {
    LOG(kLogEvent, "TOLDEX: EndVpi() called. Driver installed...");
    return kStatusOk;
  }
  // Ended already (or never started by this driver): nothing is open, and the
  // socket library is shut down once per start.
  int32_t result = kStatusOk;
  if (ForgetStartedInstance(&instance)) result = CloseRunningInstance(instance);
  LOG(kLogDetail, "TOLDEX: EndVpi()");
  return result;
}

}  // namespace toldex
