// A host's view of the driver for tests: an instance block as the host would
// allocate it, requests through VpiMain, and a temporary working folder for
// initialisation files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "driver/host_records.h"
#include "driver/instance.h"

extern "C" int32_t
#if defined(_WIN32)
    __stdcall
#endif
    VpiMain(toldex::DriverRequest* request);

namespace toldex::testing {

// The instance block, filled with a pattern as a host's fresh memory may be.
class InstanceBlock {
 public:
  explicit InstanceBlock(int32_t driverNumber = 1);
  ~InstanceBlock();
  InstanceBlock(const InstanceBlock&) = delete;
  InstanceBlock& operator=(const InstanceBlock&) = delete;

  InstanceRecord& record() { return *record_; }
  int32_t driverNumber() const { return driverNumber_; }
  // Calls VpiMain with this instance, the operation and its parameter record.
  int32_t Call(int32_t op, void* params);

 private:
  InstanceRecord* record_;
  int32_t driverNumber_;
};

// A fresh temporary folder made the current directory for the fixture's life.
class TempWorkDir {
 public:
  TempWorkDir();
  ~TempWorkDir();
  std::filesystem::path path() const { return path_; }
  void WriteFile(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

}  // namespace toldex::testing
