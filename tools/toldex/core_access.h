// The driver's initialisation-file reader and address parser called directly
// through the driver's internal library, on a scratch instance: what `parse`
// and `check-config` use, and how the other commands learn the address base,
// without connecting to any station.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/host_records.h"
#include "driver/instance.h"
#include "host_log.h"

namespace toldex::cli {

// A zeroed instance record with its run-time state made usable, protocol
// Modbus as a full ColdStart sets it before reading the file.
class ScratchInstance {
 public:
  ScratchInstance();
  ~ScratchInstance();
  ScratchInstance(const ScratchInstance&) = delete;
  ScratchInstance& operator=(const ScratchInstance&) = delete;
  InstanceRecord& record() { return *record_; }
  const InstanceRecord& record() const { return *record_; }

 private:
  InstanceRecord* record_;
};

// Makes a folder the current directory for the life of the scope.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& folder);
  ~CurrentDirectory();
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::filesystem::path previous_;
  bool changed_ = false;
};

struct InitFileResult {
  std::string fileRead;           // the name the reader opened, empty when none
  std::vector<LogEntry> messages;  // every line the reader logged
};

// Reads the initialisation file for the driver number from the folder (the
// current directory when empty) into the instance, as a full ColdStart does.
InitFileResult ReadInitialisationFile(ScratchInstance& instance, const std::filesystem::path& folder,
                                      int32_t driverNumber);

// The same with extra lines read after the file's own (or alone when there is
// no file), as if they were written at its end: a way to try a setting such as
// "BUS=J,H" without editing the file.
InitFileResult ReadInitialisationFileWith(ScratchInstance& instance, const std::filesystem::path& folder,
                                          int32_t driverNumber, const std::vector<std::string>& extraLines);

// The file the driver would open in the folder for the driver number
// (TOLDEXnn.INT, TOLDEXn.INT, TOLDEX.INT), or an empty path.
std::filesystem::path FindInitFile(const std::filesystem::path& folder, int32_t driverNumber);

// SingleAddressParser or BlockAddressParser of the driver's internal library.
int32_t ParseWithCore(ScratchInstance& instance, int32_t driverNumber, GateAddress& gate, bool block);

// "Decimal", "Hexadecimal", "Long Decimal"; "Modbus", "J-Bus".
const char* BaseName(char base);
const char* ProtocolName(char protocol);

}  // namespace toldex::cli
