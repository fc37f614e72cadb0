// Fuzzes the initialisation-file reader with whole files.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "config/init_file.h"
#include "driver/instance.h"

namespace {

// The reader looks in the current directory; give it a folder of its own in
// memory-backed storage when there is one.
void EnterWorkDir() {
  static bool entered = false;
  if (entered) return;
  std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  const auto dir = base / ("toldex-fuzz-ini-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  entered = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterWorkDir();
  static auto instance = std::make_unique<toldex::InstanceRecord>();
  FILE* file = std::fopen("TOLDEX01.INT", "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  toldex::ReadInitFile(*instance, 1);
  // Whatever the file, every station's text stays a terminated string.
  for (const toldex::StationRecord& station : instance->stations) {
    if (std::memchr(station.ip, '\0', sizeof station.ip) == nullptr) __builtin_trap();
  }
  return 0;
}
