// The driver as the soak's host holds it: the library loaded at run time,
// VpiMain found by name, one instance block, and the host library's log lines
// counted (and written to a file when asked).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "driver/host_records.h"
#include "platform/export.h"

namespace soak {

using VpiMainFn = int32_t(TOLDEX_ENTRY_CALL*)(toldex::DriverRequest* request);

struct LogCounts {
  std::atomic<uint64_t> lines{0};
  std::atomic<uint64_t> invalidSocket{0};  // reads abandoned because the socket went away
  std::atomic<uint64_t> masterUpAgain{0};
  std::atomic<uint64_t> switchReports{0};  // "Station qui va se connecter"
  std::atomic<uint64_t> discardedStale{0};
};

class HostDriver {
 public:
  HostDriver() = default;
  ~HostDriver();
  HostDriver(const HostDriver&) = delete;
  HostDriver& operator=(const HostDriver&) = delete;

  // Routes the host library's log lines of level 32 and up to the counts (and
  // the file), then loads the driver library beside this program.
  bool Open(const std::string& logPath, std::string& reason);
  int32_t ColdStart(int32_t timeoutCs);
  int32_t ChangeTimeout(int32_t milliseconds);
  int32_t WarmStart(int32_t plcNumber);
  int32_t ParseSingle(toldex::GateAddress& gate);
  int32_t ParseBlock(toldex::GateAddress& gate);
  int32_t ReadSingle(toldex::GateIo& io);
  int32_t ReadBlock(toldex::GateIo& io);
  int32_t WriteSingle(toldex::GateIo& io);
  int32_t WriteBlock(toldex::GateIo& io);
  int32_t End();
  const LogCounts& logCounts() const { return logCounts_; }

 private:
  static void OnLogLine(void* context, int level, const char* line);
  int32_t Call(int32_t op, void* params);

  void* library_ = nullptr;
  VpiMainFn vpiMain_ = nullptr;
  void* block_ = nullptr;
  size_t blockSize_ = 0;
  bool started_ = false;
  LogCounts logCounts_;
  std::mutex fileMutex_;
  std::FILE* logFile_ = nullptr;
  std::chrono::steady_clock::time_point opened_ = std::chrono::steady_clock::now();
};

}  // namespace soak
