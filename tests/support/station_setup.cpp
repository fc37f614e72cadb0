#include "support/station_setup.h"

#include <cstdio>

#include "driver/started_instances.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "redundancy/notification.h"
#include "support/scripted_peer.h"
#include "transport/connection.h"

namespace toldex::testing {

void PrepareInstance(InstanceRecord& instance, int32_t timeoutMs) {
  EnsureSocketLibrary();
  InitRuntimeState(instance);
  instance.timeoutMs = timeoutMs;
  instance.started = 1;
  instance.protocol = 'M';
  instance.base = 'D';
  instance.options = 0;
  instance.driverNumber = 1;
  instance.parityAddrChecking = 1;
  instance.receivedFramesChecking = 1;
  for (BackupEntry& entry : instance.backups) entry = BackupEntry{};
  for (StationRecord& station : instance.stations) {
    station = StationRecord{};
    station.socket = platform::kNoSocket;
    station.hConnectSem = platform::kNoEvent;
    station.online = 1;
  }
}

int ConnectStation(InstanceRecord& instance, int s, const std::string& ip, uint16_t port) {
  StationRecord& station = instance.stations[s];
  std::snprintf(station.ip, sizeof station.ip, "%s", ip.c_str());
  station.port = port;
  station.force_address = -1;
  if (station.hConnectSem == platform::kNoEvent) station.hConnectSem = platform::EventCreate();
  return VpiTcpSocketManagement(instance, s);
}

void PrepareWarmStartShadow(InstanceRecord& instance, int s, int32_t plcNumber) {
  WarmStartShadow& shadow = instance.warmStartShadows[s];
  shadow = WarmStartShadow{};
  shadow.plcNumber = plcNumber;
  shadow.connectStation = static_cast<uint16_t>(s);
  shadow.socket = platform::kNoSocket;
}

void CloseInstance(InstanceRecord& instance) {
  // A ColdStart through VpiMain also started the notification thread.
  ForgetStartedInstance(&instance);
  StopNotificationThread(instance);
  StopBackgroundConnects(instance);
  for (StationRecord& station : instance.stations) {
    if (station.socket != platform::kNoSocket) CloseSocketEx(&station.socket);
    if (station.hConnectSem != platform::kNoEvent) {
      platform::EventClose(station.hConnectSem);
      station.hConnectSem = platform::kNoEvent;
    }
  }
}

}  // namespace toldex::testing
