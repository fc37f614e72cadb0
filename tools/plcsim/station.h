// One simulated PLC station: a Modbus TCP server on a loopback address and
// port with its own register map, answering every unit id, serving each
// connection on a thread of its own (a station may have several clients at
// once), with controls that tests and tools call from any thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plcsim/chaos.h"
#include "plcsim/start_pattern.h"

typedef struct _modbus_mapping_t modbus_mapping_t;

namespace plcsim {

struct StationConfig {
  int number = 1;                     // names the station in output; register 9000 holds it
  std::string address = "127.0.0.1";  // a loopback address (127.0.0.0/8) only
  uint16_t port = 0;                  // 0 picks a free port at the first start
  ChaosConfig chaos;
};

constexpr int kFunctionCodeCount = 256;
constexpr size_t kFaultHistoryLength = 4096;

struct StationCounters {
  uint64_t connectionsAccepted = 0;
  uint64_t connectionsOpen = 0;
  uint64_t requestsReceived = 0;   // complete request frames read
  uint64_t requestsDropped = 0;    // read while silent: neither executed nor answered
  uint64_t requestsExecuted = 0;   // handed to the register map
  uint64_t repliesSent = 0;        // answers sent (counted as they start), damaged ones included
  uint64_t restarts = 0;           // restarts by chaos
  int lastUnitId = -1;
  int lastFunctionCode = -1;
  std::array<uint64_t, kFunctionCodeCount> requestsByFunction{};
  FaultCounts faults{};
  uint64_t FaultTotal() const;
};

class Station {
 public:
  explicit Station(const StationConfig& config);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Listens (on the port of the first start after that) and accepts. False,
  // with LastError, when the address is not loopback or cannot be bound.
  bool Start();
  // Closes the listener and every connection: connects are refused until the
  // next Start. The register map is kept.
  void Stop();
  bool Running() const;

  int Number() const { return number_; }
  const std::string& Address() const { return address_; }
  uint16_t Port() const { return port_.load(); }

  // Silent: connections are accepted and requests read, but nothing is
  // executed or answered.
  void SetSilent(bool silent);
  // Every reply waits this long before it goes out.
  void SetReplyDelay(uint32_t milliseconds);
  // Not accepting: the listener stays, its accept queue is filled, and new
  // connects hang (no answer to their SYN) until accepting resumes.
  void SetAccepting(bool accepting);
  // New chaos settings; the request sequence of the decisions restarts at 0.
  void SetChaos(const ChaosConfig& chaos);
  ChaosConfig Chaos() const;

  bool GetBit(Area area, uint16_t address) const;
  void SetBit(Area area, uint16_t address, bool value);
  uint16_t GetRegister(Area area, uint16_t address) const;
  void SetRegister(Area area, uint16_t address, uint16_t value);
  // Two registers, high word first.
  uint32_t GetPair(Area area, uint16_t first) const;
  void SetPair(Area area, uint16_t first, uint32_t value);
  // Back to the start pattern.
  void ResetRegisters();

  StationCounters Counters() const;
  void ResetCounters();
  // The faults of the latest requests decided under chaos, oldest first
  // (kNone for a request that met none), at most kFaultHistoryLength.
  std::vector<FaultKind> FaultHistory() const;
  // Polls the counters until the condition holds or the time is up.
  bool WaitFor(const std::function<bool(const StationCounters&)>& condition, uint32_t timeoutMs) const;
  std::string LastError() const;

 private:
  struct Connection;

  void AcceptLoop();
  void AcceptOne();
  void Restart(uint32_t downMs);
  bool OpenListenerLocked();
  void CloseListenerLocked();
  void FillBacklogLocked();
  void ReleaseFillersLocked();
  void CloseAllConnections();
  void ReapFinishedConnections();
  void Wake();
  bool WaitForWake(uint32_t milliseconds);
  void ServeConnection(Connection* connection);
  FaultPlan NextPlan(ChaosConfig& config);
  bool Pause(const Connection* connection, uint32_t milliseconds);
  void WaitUntilClosed(const Connection* connection);
  bool SendOutcome(const Connection* connection, int fd, const FaultOutcome& outcome);
  void SetError(const std::string& text);

  const int number_;
  const std::string address_;
  std::atomic<uint16_t> port_;

  mutable std::mutex dataMutex_;  // the register map
  modbus_mapping_t* mapping_;

  std::mutex controlMutex_;  // Start and Stop
  bool running_ = false;
  std::atomic<bool> runningFlag_{false};
  std::thread acceptThread_;
  int wakeFd_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> restartPending_{false};
  std::atomic<uint32_t> restartDownMs_{0};

  // The listener, the accepting state and the sockets that fill the accept
  // queue while not accepting. The listener is only closed or replaced by the
  // accept thread, or when that thread has ended.
  std::mutex listenerMutex_;
  int listenFd_ = -1;
  bool accepting_ = true;
  std::vector<int> fillers_;
  std::vector<std::pair<uint32_t, uint16_t>> fillerEndpoints_;  // to drop their connections when accepted

  std::mutex connectionsMutex_;
  std::list<std::unique_ptr<Connection>> connections_;

  // Interrupts the pauses of connections (reply delays, split gaps).
  mutable std::mutex pauseMutex_;
  mutable std::condition_variable pauseCv_;

  std::atomic<bool> silent_{false};
  std::atomic<uint32_t> replyDelayMs_{0};

  mutable std::mutex chaosMutex_;
  ChaosConfig chaos_;
  uint64_t sequence_ = 0;
  std::deque<FaultKind> history_;
  FaultCounts faults_{};

  std::atomic<uint64_t> connectionsAccepted_{0};
  std::atomic<uint64_t> connectionsOpen_{0};
  std::atomic<uint64_t> requestsReceived_{0};
  std::atomic<uint64_t> requestsDropped_{0};
  std::atomic<uint64_t> requestsExecuted_{0};
  std::atomic<uint64_t> repliesSent_{0};
  std::atomic<uint64_t> restarts_{0};
  std::atomic<int> lastUnitId_{-1};
  std::atomic<int> lastFunctionCode_{-1};
  std::array<std::atomic<uint64_t>, kFunctionCodeCount> requestsByFunction_{};

  mutable std::mutex errorMutex_;
  std::string lastError_;
};

}  // namespace plcsim
