#include "host_driver.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/library_loader.h"
#include "qirpro.h"

namespace soak {
namespace {

constexpr char kDriverLibrary[] = "libtoldexdr.so";
constexpr char kEntryName[] = "VpiMain";
constexpr int kLogEventLevel = 32;
constexpr size_t kPathSize = 4096;
constexpr size_t kReasonSize = 512;
constexpr int32_t kDriverNumber = 1;
constexpr int32_t kFullStart = 1;
// Hosts hand out blocks with the alignment of their allocator.
constexpr std::align_val_t kBlockAlignment{16};

bool Contains(const char* line, const char* part) { return std::strstr(line, part) != nullptr; }

}  // namespace

HostDriver::~HostDriver() {
  End();
  if (block_ != nullptr) ::operator delete(block_, kBlockAlignment);
  QirCtlLogToNowhere();
  if (logFile_ != nullptr) std::fclose(logFile_);
}

void HostDriver::OnLogLine(void* context, int level, const char* line) {
  HostDriver& host = *static_cast<HostDriver*>(context);
  LogCounts& counts = host.logCounts_;
  counts.lines.fetch_add(1, std::memory_order_relaxed);
  if (Contains(line, "DoBlockRead() Invalid Socket")) counts.invalidSocket.fetch_add(1);
  if (Contains(line, "Master is up again")) counts.masterUpAgain.fetch_add(1);
  if (Contains(line, "Station qui va se connecter")) counts.switchReports.fetch_add(1);
  if (Contains(line, "stale bytes")) counts.discardedStale.fetch_add(1);
  if (host.logFile_ != nullptr) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - host.opened_)
                             .count();
    std::lock_guard<std::mutex> guard(host.fileMutex_);
    std::fprintf(host.logFile_, "%lld.%03lld [%d] %s\n", ms / 1000, ms % 1000, level, line);
  }
}

bool HostDriver::Open(const std::string& logPath, std::string& reason) {
  if (!logPath.empty()) {
    logFile_ = std::fopen(logPath.c_str(), "w");
    if (logFile_ == nullptr) {
      reason = "cannot write " + logPath;
      return false;
    }
  }
  QirCtlSetLogLevel(kLogEventLevel);
  QirCtlLogToCallback(&HostDriver::OnLogLine, this);

  // The driver binds the host library by name; point it at the one this
  // program already has loaded, so both share one state.
  char path[kPathSize];
  if (toldex::platform::LibraryPathOf(reinterpret_cast<const void*>(&QirCtlReset), path, sizeof path)) {
    setenv("TOLDEX_QIRPRO", path, 1);
  }
  std::string driverPath = kDriverLibrary;
  if (toldex::platform::ProgramPath(path, sizeof path)) {
    driverPath = (std::filesystem::path(path).parent_path() / kDriverLibrary).string();
  }
  char why[kReasonSize] = "";
  library_ = toldex::platform::LibraryOpen(driverPath.c_str(), why, sizeof why);
  if (library_ == nullptr) {
    reason = "cannot load " + driverPath + ": " + why;
    return false;
  }
  vpiMain_ = reinterpret_cast<VpiMainFn>(toldex::platform::LibraryFind(library_, kEntryName));
  if (vpiMain_ == nullptr) {
    reason = driverPath + " has no " + kEntryName;
    return false;
  }
  toldex::DriverInfo info{};
  toldex::DriverRequest request{};
  request.op = toldex::kOpGetVpiInfo;
  request.params = &info;
  vpiMain_(&request);
  if (info.instanceSize <= 0) {
    reason = "the driver gave no instance size";
    return false;
  }
  blockSize_ = static_cast<size_t>(info.instanceSize);
  block_ = ::operator new(blockSize_, kBlockAlignment);
  std::memset(block_, 0, blockSize_);
  return true;
}

int32_t HostDriver::Call(int32_t op, void* params) {
  toldex::DriverRequest request{};
  request.instance = block_;
  request.op = op;
  request.driverNumber = kDriverNumber;
  request.params = params;
  return vpiMain_(&request);
}

int32_t HostDriver::ColdStart(int32_t timeoutCs) {
  toldex::ColdStartParams params{};
  params.startMode = kFullStart;
  params.timeoutCs = timeoutCs;
  started_ = true;
  return Call(toldex::kOpColdStart, &params);
}

int32_t HostDriver::ChangeTimeout(int32_t milliseconds) {
  toldex::ChangeParams params{};
  params.portName = "";
  params.newTimeoutMs = milliseconds;
  return Call(toldex::kOpChangeVpiParams, &params);
}

int32_t HostDriver::WarmStart(int32_t plcNumber) {
  toldex::WarmStartParams params{};
  params.plcNumber = plcNumber;
  return Call(toldex::kOpWarmStart, &params);
}

int32_t HostDriver::ParseSingle(toldex::GateAddress& gate) { return Call(toldex::kOpSingleAddressParser, &gate); }
int32_t HostDriver::ParseBlock(toldex::GateAddress& gate) { return Call(toldex::kOpBlockAddressParser, &gate); }
int32_t HostDriver::ReadSingle(toldex::GateIo& io) { return Call(toldex::kOpSingleRead, &io); }
int32_t HostDriver::ReadBlock(toldex::GateIo& io) { return Call(toldex::kOpBlockRead, &io); }
int32_t HostDriver::WriteSingle(toldex::GateIo& io) { return Call(toldex::kOpSingleWrite, &io); }
int32_t HostDriver::WriteBlock(toldex::GateIo& io) { return Call(toldex::kOpBlockWrite, &io); }

int32_t HostDriver::End() {
  if (!started_) return 0;
  started_ = false;
  return Call(toldex::kOpEndVpi, nullptr);
}

}  // namespace soak
