// The driver as a host sees it: a library loaded at run time, VpiMain found
// by its name, and one driver instance in a block of instanceSize bytes that
// the host allocates and passes with every request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/host_records.h"
#include "platform/export.h"
#include "platform/library_loader.h"

namespace toldex::cli {

using VpiMainFn = int32_t(TOLDEX_ENTRY_CALL*)(DriverRequest* request);

// The driver library's file name on this system.
#if defined(_WIN32)
constexpr char kDriverLibraryName[] = "TOLDEXDR.DLL";
#else
constexpr char kDriverLibraryName[] = "libtoldexdr.so";
#endif

struct DriverLibrary {
  platform::LibraryHandle handle = platform::kNoLibrary;
  VpiMainFn vpiMain = nullptr;
  std::string path;  // the file that was loaded
};

// The library beside this program, where the build and an installation put it.
std::string DefaultDriverLibraryPath();
// Loads `path` (or the default when empty) and finds VpiMain; false with a
// one-line reason otherwise.
bool LoadDriverLibrary(const std::string& path, DriverLibrary& library, std::string& reason);

// GetVpiInfo needs no instance.
int32_t QueryDriverInfo(const DriverLibrary& library, DriverInfo& info);

// One driver instance. The block is released when the session ends; a started
// instance is ended with EndVpi first.
class DriverSession {
 public:
  DriverSession(const DriverLibrary& library, int32_t driverNumber);
  ~DriverSession();
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  int32_t driverNumber() const { return driverNumber_; }
  std::size_t instanceSize() const { return size_; }

  // A full start: reads the initialisation file of the current directory and
  // connects every configured station.
  int32_t ColdStart(int32_t timeoutCs);
  // New socket time-out for connections made from now on. The driver always
  // answers 2 here (it has no serial port to reopen); that is not a failure.
  void ChangeTimeout(int32_t milliseconds);
  int32_t ParseSingle(GateAddress& gate);
  int32_t ParseBlock(GateAddress& gate);
  int32_t ReadSingle(GateIo& io);
  int32_t ReadBlock(GateIo& io);
  int32_t WriteSingle(GateIo& io);
  int32_t WriteBlock(GateIo& io);
  int32_t WarmStart(int32_t plcNumber);
  int32_t Browse(BrowseParams& params);
  int32_t End();

 private:
  int32_t Call(int32_t op, void* params);

  VpiMainFn vpiMain_;
  int32_t driverNumber_;
  std::size_t size_;
  void* block_;
  bool started_ = false;
};

}  // namespace toldex::cli
