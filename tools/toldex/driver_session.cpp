#include "driver_session.h"

#include <cstring>
#include <filesystem>
#include <new>

namespace toldex::cli {
namespace {

constexpr char kEntryName[] = "VpiMain";
constexpr std::size_t kReasonSize = 512;
constexpr std::size_t kPathSize = 4096;
// Hosts hand out blocks with the alignment of their allocator.
constexpr std::align_val_t kBlockAlignment{16};
constexpr int32_t kFullStart = 1;

}  // namespace

std::string DefaultDriverLibraryPath() {
  char program[kPathSize];
  if (!platform::ProgramPath(program, sizeof program)) return kDriverLibraryName;
  return (std::filesystem::path(program).parent_path() / kDriverLibraryName).string();
}

bool LoadDriverLibrary(const std::string& path, DriverLibrary& library, std::string& reason) {
  const std::string wanted = path.empty() ? DefaultDriverLibraryPath() : path;
  char why[kReasonSize] = "";
  platform::LibraryHandle handle = platform::LibraryOpen(wanted.c_str(), why, sizeof why);
  if (handle == platform::kNoLibrary) {
    reason = "cannot load the driver library " + wanted + ": " + why;
    return false;
  }
  void* entry = platform::LibraryFind(handle, kEntryName);
  if (entry == nullptr) {
    platform::LibraryClose(handle);
    reason = wanted + " has no export named " + kEntryName;
    return false;
  }
  library.handle = handle;
  library.vpiMain = reinterpret_cast<VpiMainFn>(entry);
  char loaded[kPathSize];
  library.path = platform::LibraryPathOf(entry, loaded, sizeof loaded) ? loaded : wanted;
  return true;
}

int32_t QueryDriverInfo(const DriverLibrary& library, DriverInfo& info) {
  DriverRequest request{};
  request.op = kOpGetVpiInfo;
  request.params = &info;
  return library.vpiMain(&request);
}

DriverSession::DriverSession(const DriverLibrary& library, int32_t driverNumber)
    : vpiMain_(library.vpiMain), driverNumber_(driverNumber) {
  DriverInfo info{};
  QueryDriverInfo(library, info);
  size_ = info.instanceSize > 0 ? static_cast<std::size_t>(info.instanceSize) : 0;
  block_ = ::operator new(size_ > 0 ? size_ : 1, kBlockAlignment);
  std::memset(block_, 0, size_ > 0 ? size_ : 1);
}

DriverSession::~DriverSession() {
  End();
  ::operator delete(block_, kBlockAlignment);
}

int32_t DriverSession::Call(int32_t op, void* params) {
  DriverRequest request{};
  request.instance = block_;
  request.op = op;
  request.driverNumber = driverNumber_;
  request.params = params;
  return vpiMain_(&request);
}

int32_t DriverSession::ColdStart(int32_t timeoutCs) {
  ColdStartParams params{};
  params.startMode = kFullStart;
  params.timeoutCs = timeoutCs;
  started_ = true;
  return Call(kOpColdStart, &params);
}

void DriverSession::ChangeTimeout(int32_t milliseconds) {
  ChangeParams params{};
  params.portName = "";
  params.newTimeoutMs = milliseconds;
  Call(kOpChangeVpiParams, &params);
}

int32_t DriverSession::ParseSingle(GateAddress& gate) { return Call(kOpSingleAddressParser, &gate); }
int32_t DriverSession::ParseBlock(GateAddress& gate) { return Call(kOpBlockAddressParser, &gate); }
int32_t DriverSession::ReadSingle(GateIo& io) { return Call(kOpSingleRead, &io); }
int32_t DriverSession::ReadBlock(GateIo& io) { return Call(kOpBlockRead, &io); }
int32_t DriverSession::WriteSingle(GateIo& io) { return Call(kOpSingleWrite, &io); }
int32_t DriverSession::WriteBlock(GateIo& io) { return Call(kOpBlockWrite, &io); }

int32_t DriverSession::WarmStart(int32_t plcNumber) {
  WarmStartParams params{};
  params.plcNumber = plcNumber;
  return Call(kOpWarmStart, &params);
}

int32_t DriverSession::Browse(BrowseParams& params) { return Call(kOpBrowseAddress, &params); }

int32_t DriverSession::End() {
  if (!started_) return 0;
  started_ = false;
  return Call(kOpEndVpi, nullptr);
}

}  // namespace toldex::cli
