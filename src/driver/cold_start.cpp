// ColdStart: configure the instance from the initialisation file and connect
// every configured station.
#include "driver/cold_start.h"

#include <cstdint>

#include "config/init_file.h"
#include "driver/instance.h"
#include "driver/lifecycle.h"
#include "driver/log.h"
#include "driver/operations.h"
#include "driver/shared_field.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "transport/connection.h"

namespace toldex {
namespace {

constexpr int32_t kMinimumTimeoutCs = 100;
constexpr int64_t kMillisecondsPerCentisecond = 10;
constexpr uint32_t kDriverNumberMask = 0xFFFF;

}  // namespace

int32_t TimeoutMsFromCentiseconds(int32_t timeoutCs) {
  const int64_t centiseconds = timeoutCs < kMinimumTimeoutCs ? kMinimumTimeoutCs : timeoutCs;
  const int64_t milliseconds = centiseconds * kMillisecondsPerCentisecond;
  // A time-out beyond what the field holds is as good as none.
  return milliseconds > INT32_MAX ? INT32_MAX : static_cast<int32_t>(milliseconds);
}

int32_t InitConnections(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  const int startupError = platform::SocketStartup();
  if (startupError != 0) {
    LOG(kLogEvent, "InitConnections WSAStartup failed last_err=%d", startupError);
    return kStatusCommFailure;
  }
  LOG(kLogEvent, "TOLDEX: Initializing connections to all stations...");
  for (int s = 0; s < kStationCount; ++s) {
    StationRecord& station = instance.stations[s];
    if (!IsConfigured(station)) continue;
    {
      platform::LockGuard guard(instance.stationLocks[s]);
      StoreShared(station.socket, platform::kNoSocket);
    }
    LOG(kLogEvent, "TOLDEX: ColdStart() connecting station %d", s);
    const int rc = VpiTcpSocketManagement(instance, s);
    if (rc != 0) {
      LOG(kLogEvent, "TOLDEX: Connect Station failed, station: %d  IP: %s, rc = %d", s, station.ip,
          rc);
    } else {
      LOG(kLogEvent, "TOLDEX: ConnectStation pass, station: %d  IP: %s, socket = %d", s,
          station.ip, LoadShared(station.socket));
    }
    station.hConnectSem = platform::EventCreate();
    if (station.hConnectSem == platform::kNoEvent) {
      LOG(kLogEvent, "TOLDEX%02d: InitConections() Failed to create hConnectSem for station %d",
          static_cast<int>(instance.driverNumber), s);
    }
    StoreShared(station.connectInProgress, 0);
  }
  ColdStartParams& params = ParamsOf<ColdStartParams>(request);
  params.statusWord1 = 0;
  params.statusWord2 = 0;
  return kStatusOk;
}

int32_t ColdStart(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  const ColdStartParams& params = ParamsOf<ColdStartParams>(request);
  LOG(kLogEvent, "TOLDEX> version compiled on %s at time %s", __DATE__, __TIME__);

  // An instance still running from an earlier start is closed first, before
  // its run-time state is made anew.
  if (!BeginColdStart(request)) return kStatusRequestFailed;

  InitRuntimeState(instance);
  instance.started = params.startMode;
  instance.driverNumber = static_cast<uint16_t>(request->driverNumber & kDriverNumberMask);
  if (params.startMode == 0) {
    LOG(kLogEvent, "TOLDEX: Installing Driver...");
    return kStatusOk;
  }

  instance.base = 'D';
  instance.protocol = 'M';
  StoreShared(instance.timeoutMs, TimeoutMsFromCentiseconds(params.timeoutCs));
  InitFileReader(request);
  for (StationRecord& station : instance.stations) StoreShared(station.online, 1);
  const int32_t rc = InitConnections(request);

  StartCommunicationThread(request);
  LOG(kLogDetail, "TOLDEX: ColdStart() ended rc = %d", rc);
  return rc;
}

}  // namespace toldex
