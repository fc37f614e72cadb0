#include "core_access.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "config/init_file.h"
#include "driver/operations.h"
#include "temp_folder.h"

namespace toldex::cli {
namespace {

constexpr std::align_val_t kRecordAlignment{alignof(InstanceRecord)};

bool FileReadLine(const std::string& text, std::string& name) {
  char opened[256] = "";
  if (std::sscanf(text.c_str(), "TOLDEX: ColdStart() reading initfile '%255[^']'", opened) != 1) return false;
  name = opened;
  return true;
}

}  // namespace

ScratchInstance::ScratchInstance() {
  void* memory = ::operator new(sizeof(InstanceRecord), kRecordAlignment);
  std::memset(memory, 0, sizeof(InstanceRecord));
  record_ = static_cast<InstanceRecord*>(memory);
  InitRuntimeState(*record_);
  record_->protocol = 'M';
  record_->base = 'D';
}

ScratchInstance::~ScratchInstance() { ::operator delete(record_, kRecordAlignment); }

CurrentDirectory::CurrentDirectory(const std::filesystem::path& folder) {
  if (folder.empty()) return;
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(folder);  // throws with the reason when it cannot
  changed_ = true;
}

CurrentDirectory::~CurrentDirectory() {
  if (!changed_) return;
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

InitFileResult ReadInitialisationFile(ScratchInstance& instance, const std::filesystem::path& folder,
                                      int32_t driverNumber) {
  CurrentDirectory inFolder(folder);
  HostLog& log = HostLog::Instance();
  const uint64_t mark = log.Mark();
  ReadInitFile(instance.record(), driverNumber);
  InitFileResult result;
  result.messages = log.Since(mark);
  for (const LogEntry& entry : result.messages) {
    if (FileReadLine(entry.text, result.fileRead)) break;
  }
  return result;
}

std::filesystem::path FindInitFile(const std::filesystem::path& folder, int32_t driverNumber) {
  char names[3][32];
  std::snprintf(names[0], sizeof names[0], "TOLDEX%02d.INT", driverNumber);
  std::snprintf(names[1], sizeof names[1], "TOLDEX%01d.INT", driverNumber);
  std::snprintf(names[2], sizeof names[2], "TOLDEX.INT");
  const std::filesystem::path base = folder.empty() ? std::filesystem::current_path() : folder;
  for (const char* name : names) {
    std::error_code error;
    if (std::filesystem::is_regular_file(base / name, error)) return base / name;
  }
  return {};
}

InitFileResult ReadInitialisationFileWith(ScratchInstance& instance, const std::filesystem::path& folder,
                                          int32_t driverNumber, const std::vector<std::string>& extraLines) {
  if (extraLines.empty()) return ReadInitialisationFile(instance, folder, driverNumber);
  std::string content;
  if (const auto file = FindInitFile(folder, driverNumber); !file.empty()) content = ReadWholeFile(file);
  if (!content.empty() && content.back() != '\n') content += '\n';
  for (const std::string& line : extraLines) content += line + "\n";
  TempFolder scratchFolder("toldex-config-");
  scratchFolder.Write(InitFileName(driverNumber), content);
  return ReadInitialisationFile(instance, scratchFolder.path(), driverNumber);
}

int32_t ParseWithCore(ScratchInstance& instance, int32_t driverNumber, GateAddress& gate, bool block) {
  DriverRequest request{};
  request.instance = &instance.record();
  request.op = block ? kOpBlockAddressParser : kOpSingleAddressParser;
  request.driverNumber = driverNumber;
  request.params = &gate;
  return block ? BlockAddressParser(&request) : SingleAddressParser(&request);
}

const char* BaseName(char base) {
  switch (base) {
    case 'D': return "Decimal";
    case 'H': return "Hexadecimal";
    case 'L': return "Long Decimal";
    default: break;
  }
  return "?";
}

const char* ProtocolName(char protocol) { return protocol == 'M' ? "Modbus" : "J-Bus"; }

}  // namespace toldex::cli
