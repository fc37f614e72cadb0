// Fuzzes the initialisation-file reader with whole files, read from memory.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "config/init_file.h"
#include "driver/instance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto instance = std::make_unique<toldex::InstanceRecord>();
  // The reader reads an open file; a file in memory keeps the disk out of it.
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (file == nullptr && size > 0) return 0;
  toldex::ReadInitStream(*instance, size > 0 ? file : nullptr, "TOLDEX01.INT");
  if (file != nullptr) std::fclose(file);
  // Whatever the file, every station's text stays a terminated string.
  for (const toldex::StationRecord& station : instance->stations) {
    if (std::memchr(station.ip, '\0', sizeof station.ip) == nullptr) __builtin_trap();
  }
  return 0;
}
