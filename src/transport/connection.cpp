// The stations' TCP connections.
//
// Locking: a station's `socket` changes only under the station's lock, so an
// exchange (which holds that lock for a whole pass) never sees a socket number
// that was closed and reused meanwhile. The lock is never held while a connect
// runs or while a warm start waits for its event: the cold connect and the
// background connect run unlocked on a socket that nobody else knows yet.
//
// The warm-start shadow of a station is free (socket -1, no connect in
// progress), connecting, or holds a connected socket that waits to be
// collected. Every change of its socket happens under the station's lock too,
// which makes the hand-over to the station exclusive: two warm starts that see
// the same finished connect cannot both take its socket.
#include "transport/connection.h"

#include "driver/log.h"
#include "driver/shared_field.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace toldex {
namespace {

using platform::kNoSocket;
using platform::LockGuard;

// How long a warm start waits for its background connect.
constexpr uint32_t kWarmConnectWaitMs = 1000;

enum class StartOutcome { kStarted, kNothingStarted, kCloseFailed, kCreateFailed, kThreadFailed };

int StationOfWarmStart(const DriverRequest* request) {
  const int32_t plcNumber = ParamsOf<WarmStartParams>(request).plcNumber;
  return plcNumber >= kScrutGateMarker ? plcNumber - kScrutGateMarker : plcNumber;
}

bool IsStationNumber(int station) { return station >= 0 && station < kStationCount; }

// Sets both time-outs of a cold-connect socket; a failure is only logged.
void SetColdTimeouts(platform::SocketHandle socket, int32_t timeoutMs) {
  int rc = platform::SocketSetSendTimeout(socket, timeoutMs);
  if (rc != 0) {
    LOG(kLogEvent,
        "TOLDEX: VpiTcpSocketManagement() Setting Socket %d timeout on sending option failed rc %d",
        socket, rc);
  } else {
    LOG(kLogEvent,
        "TOLDEX: VpiTcpSocketManagement() Setting Socket %d timeout on sending option succeed",
        socket);
  }
  rc = platform::SocketSetReceiveTimeout(socket, timeoutMs);
  if (rc != 0) {
    LOG(kLogEvent,
        "TOLDEX: VpiTcpSocketManagement() Setting Socket %d timeout on receiving option failed rc "
        "%d",
        socket, rc);
  } else {
    LOG(kLogEvent,
        "TOLDEX: VpiTcpSocketManagement() Setting Socket %d timeout on receiving option succeed",
        socket);
  }
}

void SetWarmTimeouts(platform::SocketHandle socket, int32_t timeoutMs) {
  int rc = platform::SocketSetSendTimeout(socket, timeoutMs);
  if (rc != 0) {
    LOG(kLogEvent,
        "TOLDEX: VpiTcpSocketManagementWarmStart() Setting Socket %d timeout on sending option "
        "failed rc %d",
        socket, rc);
  } else {
    LOG(kLogDetail,
        "TOLDEX: VpiTcpSocketManagementWarmStart() Setting Socket %d timeout to %ims, on sending "
        "option succeed rc",
        socket, timeoutMs);
  }
  rc = platform::SocketSetReceiveTimeout(socket, timeoutMs);
  if (rc != 0) {
    LOG(kLogEvent,
        "TOLDEX: VpiTcpSocketManagementWarmStart() Setting Socket %d timeout on receiving option "
        "failed rc %d",
        socket, rc);
  } else {
    LOG(kLogDetail,
        "TOLDEX: VpiTcpSocketManagementWarmStart() Setting Socket %d timeout to %ims, on "
        "receiving option succeed rc",
        socket, timeoutMs);
  }
}

// Starts the background connect of station s when its shadow is free. Runs
// under the station's lock; nothing here waits for the network.
StartOutcome StartBackgroundConnect(InstanceRecord& instance, int s, int32_t* stationSocket,
                                    const char* ip, uint16_t port) {
  WarmStartShadow& shadow = instance.warmStartShadows[s];
  if (LoadShared(shadow.connectInProgress) != 0 || LoadShared(shadow.socket) != kNoSocket) {
    return StartOutcome::kNothingStarted;
  }
  // The previous connect thread has finished its work (it clears
  // connectInProgress under this lock as its last step); release it.
  if (shadow.connectThread != platform::kNoThread) {
    platform::ThreadJoin(shadow.connectThread);
    shadow.connectThread = platform::kNoThread;
  }

  if (LoadShared(*stationSocket) != kNoSocket) {
    const int32_t old = LoadShared(*stationSocket);
    if (CloseSocketEx(stationSocket) != 0) {
      LOG(kLogEvent,
          "TOLDEX: VpiTcpSocketManagementWarmStart() Closing Socket %d failed. Errorcode = %d",
          old, platform::SocketLastError());
      return StartOutcome::kCloseFailed;
    }
    LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagementWarmStart() Closing Socket successful");
  }

  const platform::SocketHandle created = platform::SocketCreateTcp();
  if (created == kNoSocket) {
    LOG(kLogEvent, "TOLDEX: VpiTcpSocketManagementWarmStart(), Failed to create Socket rc = %d",
        platform::SocketLastError());
    return StartOutcome::kCreateFailed;
  }
  StoreShared(shadow.socket, created);
  LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagementWarmStart(), Socket %d created successfully",
      created);
  SetWarmTimeouts(created, LoadShared(instance.timeoutMs));

  StationRecord& station = instance.stations[s];
  shadow.connectAddress = platform::MakeSocketAddress(ip, port);
  shadow.hConnectSem = station.hConnectSem;
  shadow.connectStation = static_cast<uint16_t>(s);
  shadow.stationLock = &instance.stationLocks[s];

  LOG(kLogEvent, "TOLDEX> VpiTcpSocketManagementWarmStart(), calling ConnectTcpThread() thread");
  if (platform::EventReset(station.hConnectSem) != 0) {
    LOG(kLogEvent, "TOLDEX> VpiTcpSocketManagementWarmStart() error, Reseting event");
  }
  // Marked before the thread exists, so that no other warm start can find the
  // shadow free in between.
  StoreShared(shadow.connectInProgress, 1);
  shadow.connectThread = platform::ThreadStart(ConnectTcpThread, &shadow);
  if (shadow.connectThread == platform::kNoThread) {
    LOG(kLogEvent,
        "TOLDEX> VpiTcpSocketManagementWarmStart() error, calling ConnectTcpThread() thread, err "
        "%u",
        static_cast<unsigned>(platform::RuntimeErrorNumber()));
    // Nothing will ever connect this socket: give it back and free the
    // shadow, so that the next warm start tries again.
    CloseSocketEx(&shadow.socket);
    StoreShared(shadow.connectInProgress, 0);
    return StartOutcome::kThreadFailed;
  }
  return StartOutcome::kStarted;
}

// The event said the background connect has finished: report its failure, or
// hand its socket over to the station. Runs under the station's lock.
int CollectBackgroundConnect(WarmStartShadow& shadow, int32_t* stationSocket) {
  if (LoadShared(shadow.connectFailed) != 0) {
    LOG(kLogEvent, "TOLDEX> VpiTcpSocketManagementWarmStart() error, Connect fail, error = %d",
        shadow.connectError);
    return 1;
  }
  if (LoadShared(shadow.connectInProgress) == 0 && LoadShared(shadow.socket) != kNoSocket) {
    // A cold connect may have given the station a socket meanwhile; the
    // collected one replaces it rather than leaking it.
    if (LoadShared(*stationSocket) != kNoSocket) CloseSocketEx(stationSocket);
    StoreShared(*stationSocket, ExchangeShared(shadow.socket, kNoSocket));
    LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagementWarmStart(), Socket %d connected successfully",
        LoadShared(*stationSocket));
    return 0;
  }
  // Another warm start of the station collected this connect first.
  if (LoadShared(*stationSocket) != kNoSocket) {
    LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagementWarmStart(), Socket %d connected successfully",
        LoadShared(*stationSocket));
    return 0;
  }
  LOG(kLogEvent, "TOLDEX> VpiTcpSocketManagementWarmStart() error, Connect fail, error = %d",
      shadow.connectError);
  return 1;
}

}  // namespace

int CloseSocketEx(int32_t* socketField) {
  const int32_t socket = LoadShared(*socketField);
  LOG(kLogEvent, "TOLDEX: CloseSocketEx() Closing  Socket %d", socket);
  platform::SocketClearLastError();
  if (socket == kNoSocket) return 0;
  if (platform::SocketClose(socket) != 0) {
    LOG(kLogEvent, "TOLDEX: CloseSocketEx() Closing Socket %d failed. Errorcode = %d", socket,
        platform::SocketLastError());
    return -1;
  }
  LOG(kLogEvent, "TOLDEX: CloseSocketEx() Closing Socket %d successful", socket);
  StoreShared(*socketField, kNoSocket);
  return 0;
}

int ConnectTcpEx(platform::SocketHandle socket, const platform::SocketAddressV4& peer) {
  LOG(kLogDetail, "TOLDEX: ConnectTcpEx() connecting to socket %d", socket);
  platform::SocketClearLastError();
  if (platform::SocketConnect(socket, peer) != 0) {
    LOG(kLogEvent, "TOLDEX: ConnectTcpEx(), WSAGetLastError() returned %d",
        platform::SocketLastError());
    return -1;
  }
  LOG(kLogDetail, "TOLDEX: ConnectTcpEx() socket %d connected successfully", socket);
  return 0;
}

int VpiTcpSocketManagement(InstanceRecord& instance, int s) {
  StationRecord& station = instance.stations[s];
  platform::Lock& lock = instance.stationLocks[s];
  LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagement() called. Station %d IP: '%s'", s, station.ip);
  platform::SocketClearLastError();
  {
    LockGuard guard(lock);
    const int32_t old = LoadShared(station.socket);
    if (old != kNoSocket) {
      if (CloseSocketEx(&station.socket) != 0) {
        LOG(kLogEvent,
            "TOLDEX: VpiTcpSocketManagement() Closing Socket %d failed. Errorcode = %d", old,
            platform::SocketLastError());
        return kStatusCommFailure;
      }
      LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagement() Closing Socket successful");
    }
  }

  // The new socket is ours alone until it is stored in the station, so the
  // connect runs without the lock.
  platform::SocketClearLastError();
  int32_t created = platform::SocketCreateTcp();
  if (created != kNoSocket) {
    LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagement(), Socket %d created successfully", created);
    SetColdTimeouts(created, LoadShared(instance.timeoutMs));
  }
  const platform::SocketAddressV4 peer = platform::MakeSocketAddress(station.ip, station.port);
  platform::SocketClearLastError();
  if (ConnectTcpEx(created, peer) != 0) {
    LOG(kLogEvent, "TOLDEX: Connect fail, error = %d", platform::SocketLastError());
    const int32_t failed = created;
    if (CloseSocketEx(&created) != 0) {
      LOG(kLogEvent, "TOLDEX: VpiTcpSocketManagement() Closing Socket %d failed. Errorcode = %d",
          failed, platform::SocketLastError());
    } else {
      LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagement() Closing Socket successful");
    }
    return kStatusCommFailure;
  }

  {
    LockGuard guard(lock);
    // A warm start may have handed the station a socket while we connected.
    if (LoadShared(station.socket) != kNoSocket) CloseSocketEx(&station.socket);
    StoreShared(station.socket, created);
  }
  LOG(kLogDetail, "TOLDEX: VpiTcpSocketManagement(), Socket %d connected successfully", created);
  return kStatusOk;
}

int VpiTcpSocketManagementWarmStart(int32_t* stationSocket, const char* ip, uint16_t port,
                                    DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  const int s = StationOfWarmStart(request);
  LOG(kLogEvent,
      "TOLDEX: VpiTcpSocketManagementWarmStart() called. Socket: %d IP: '%s' Port: %d",
      LoadShared(*stationSocket), ip, port);
  platform::SocketClearLastError();
  if (!IsStationNumber(s)) return kStatusRequestFailed;

  platform::Lock& lock = instance.stationLocks[s];
  {
    LockGuard guard(lock);
    switch (StartBackgroundConnect(instance, s, stationSocket, ip, port)) {
      case StartOutcome::kStarted:
      case StartOutcome::kNothingStarted:
        break;
      case StartOutcome::kCloseFailed:
      case StartOutcome::kCreateFailed:
        return kStatusCommFailure;
      case StartOutcome::kThreadFailed:
        return kStatusRequestFailed;  // no thread will signal: do not wait for it
    }
  }

  switch (platform::EventWait(instance.stations[s].hConnectSem, kWarmConnectWaitMs)) {
    case platform::WaitResult::kSignalled: {
      LockGuard guard(lock);
      return CollectBackgroundConnect(instance.warmStartShadows[s], stationSocket);
    }
    case platform::WaitResult::kTimedOut:
      LOG(kLogDetail,
          "TOLDEX> VpiTcpSocketManagementWarmStart() error, time-out waiting for mutex "
          "semaphore, plcAddr : %i",
          s);
      return kStatusRequestFailed;
    case platform::WaitResult::kFailed:
      LOG(kLogEvent,
          "TOLDEX> VpiTcpSocketManagementWarmStart() error, waiting for mutex semaphore, err %u, "
          "plcAddr : %i",
          platform::LastSystemError(), s);
      return kStatusRequestFailed;
  }
  LOG(kLogEvent, "TOLDEX> VpiTcpSocketManagement() error, unknown error, plcAddr : %i", s);
  return kStatusRequestFailed;
}

void ConnectTcpThread(void* argument) {
  WarmStartShadow& shadow = *static_cast<WarmStartShadow*>(argument);
  // Nobody else changes the shadow's socket while the connect is in progress.
  const int32_t socket = LoadShared(shadow.socket);
  LOG(kLogDetail, "TOLDEX: ConnectTcpThread() connecting to socket %d, for plc %d", socket,
      static_cast<int>(shadow.connectStation));
  platform::SocketClearLastError();
  StoreShared(shadow.connectInProgress, 1);
  const int rc = platform::SocketConnect(socket, shadow.connectAddress);
  const int error = rc == 0 ? 0 : platform::SocketLastError();

  LockGuard guard(*shadow.stationLock);
  if (rc != 0) {
    LOG(kLogEvent, "TOLDEX: ConnectTcpThread(), WSAGetLastError() returned %d", error);
    platform::SocketClearLastError();
    if (CloseSocketEx(&shadow.socket) != 0) {
      LOG(kLogEvent, "TOLDEX: ConnectTcpThread() Closing Socket %d failed. Errorcode = %d", socket,
          platform::SocketLastError());
    } else {
      LOG(kLogDetail, "TOLDEX: ConnectTcpThread() Closing Socket successful");
    }
  } else {
    LOG(kLogDetail, "TOLDEX: ConnectTcpThread() socket %d connected successfully", socket);
  }
  shadow.connectError = error;
  StoreShared(shadow.connectFailed, rc != 0 ? 1 : 0);
  if (platform::EventSet(shadow.hConnectSem) != 0) {
    LOG(kLogEvent, "TOLDEX> ConnectTcpThread() error, SetEvent() failed, err %u",
        platform::LastSystemError());
  }
  StoreShared(shadow.connectInProgress, 0);
}

void StopBackgroundConnects(InstanceRecord& instance) {
  for (int s = 0; s < kStationCount; ++s) {
    WarmStartShadow& shadow = instance.warmStartShadows[s];
    platform::Lock& lock = instance.stationLocks[s];
    platform::ThreadHandle thread;
    {
      LockGuard guard(lock);
      // A connect still under way fails at once on a shut-down socket; the
      // thread then closes the socket itself.
      if (LoadShared(shadow.connectInProgress) != 0 && LoadShared(shadow.socket) != kNoSocket) {
        platform::SocketShutdown(shadow.socket);
      }
      thread = shadow.connectThread;
      shadow.connectThread = platform::kNoThread;
    }
    // Unlocked: the thread takes the station's lock before it ends.
    platform::ThreadJoin(thread);
    LockGuard guard(lock);
    if (LoadShared(shadow.socket) != kNoSocket) CloseSocketEx(&shadow.socket);
  }
}

}  // namespace toldex
