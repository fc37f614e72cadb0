// Loads libtoldexdr.so as a host does (dlopen, nothing preloaded) and checks
// where the driver's log lines go.
//
//   load_driver_library DRIVER.so --log FILE
//     The host library is found as the driver finds it (TOLDEX_QIRPRO, or
//     libqirpro.so through the loader's search path). Its log is routed to
//     FILE; ChangeVpiParams must write both of its lines there, through the
//     host library's err(). Were the C library's err() reached instead, it
//     would end this process at once with the line's level as exit status.
//
//   load_driver_library DRIVER.so --no-host STDERR_FILE
//     No host library can be loaded: the driver must say so once on stderr
//     (captured in STDERR_FILE) and go on.
//
// Exit status 0 when every check holds; the failed checks go to stdout.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/host_records.h"

namespace {

using VpiMainFn = int32_t (*)(toldex::DriverRequest*);
using LogToFileFn = int (*)(const char*);
using SetLogLevelFn = void (*)(int);

constexpr char kProgram[] = "load_driver_library";
constexpr int32_t kCommFailure = 2;
constexpr int32_t kNewTimeoutMs = 250;

int g_failures = 0;

void Check(bool holds, const std::string& what) {
  if (holds) return;
  ++g_failures;
  std::printf("%s: FAILED: %s\n", kProgram, what.c_str());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int CountOccurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The driver's instance block, as large as GetVpiInfo says.
std::vector<unsigned char> MakeInstance(VpiMainFn vpiMain) {
  toldex::DriverInfo info{};
  toldex::DriverRequest request{};
  request.op = toldex::kOpGetVpiInfo;
  request.params = &info;
  Check(vpiMain(&request) == 0, "GetVpiInfo returns 0");
  Check(info.instanceSize > 0, "GetVpiInfo gives an instance size");
  return std::vector<unsigned char>(info.instanceSize > 0 ? info.instanceSize : 1, 0);
}

int32_t ChangeParams(VpiMainFn vpiMain, std::vector<unsigned char>& instance) {
  toldex::ChangeParams params{};
  params.newTimeoutMs = kNewTimeoutMs;
  toldex::DriverRequest request{};
  request.instance = instance.data();
  request.op = toldex::kOpChangeVpiParams;
  request.driverNumber = 1;
  request.params = &params;
  return vpiMain(&request);
}

VpiMainFn LoadDriver(const char* path) {
  void* driver = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (driver == nullptr) {
    std::printf("%s: cannot load %s: %s\n", kProgram, path, dlerror());
    std::exit(EXIT_FAILURE);
  }
  auto vpiMain = reinterpret_cast<VpiMainFn>(dlsym(driver, "VpiMain"));
  if (vpiMain == nullptr) {
    std::printf("%s: %s has no VpiMain\n", kProgram, path);
    std::exit(EXIT_FAILURE);
  }
  return vpiMain;
}

int LogThroughHost(const char* driverPath, const std::string& logPath) {
  std::remove(logPath.c_str());
  // The host library as the driver will find it; loaded locally, so that its
  // symbols stay out of the global scope, where the C library's err() is.
  const char* named = std::getenv("TOLDEX_QIRPRO");
  const char* hostPath = named != nullptr && named[0] != '\0' ? named : "libqirpro.so";
  void* host = dlopen(hostPath, RTLD_NOW | RTLD_LOCAL);
  if (host == nullptr) {
    std::printf("%s: cannot load %s: %s\n", kProgram, hostPath, dlerror());
    return EXIT_FAILURE;
  }
  auto logToFile = reinterpret_cast<LogToFileFn>(dlsym(host, "QirCtlLogToFile"));
  auto setLogLevel = reinterpret_cast<SetLogLevelFn>(dlsym(host, "QirCtlSetLogLevel"));
  Check(logToFile != nullptr && setLogLevel != nullptr, "the host library has its control API");
  if (g_failures != 0) return EXIT_FAILURE;
  setLogLevel(0);
  Check(logToFile(logPath.c_str()) == 0, "the host library's log goes to " + logPath);

  const VpiMainFn vpiMain = LoadDriver(driverPath);
  Check(dlsym(RTLD_DEFAULT, "QirMkClient") == nullptr,
        "the host library is not in the global scope");
  Check(dlsym(RTLD_DEFAULT, "err") != nullptr, "the C library's err() is in the global scope");

  std::vector<unsigned char> instance = MakeInstance(vpiMain);
  Check(ChangeParams(vpiMain, instance) == kCommFailure, "ChangeVpiParams returns 2");

  const std::string log = ReadFile(logPath);
  Check(CountOccurrences(log, "[8] TOLDEX: ChangeVpiParams() entered") == 1,
        "the detail line reaches the host library's log:\n" + log);
  Check(CountOccurrences(log, "[32] TOLDEX: ChangeVpiParams() open new COM port failed") == 1,
        "the event line reaches the host library's log:\n" + log);
  return g_failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

int GoOnWithoutHost(const char* driverPath, const std::string& stderrPath) {
  std::fflush(stderr);
  if (std::freopen(stderrPath.c_str(), "w", stderr) == nullptr) {
    std::printf("%s: cannot capture stderr in %s\n", kProgram, stderrPath.c_str());
    return EXIT_FAILURE;
  }
  const VpiMainFn vpiMain = LoadDriver(driverPath);
  std::vector<unsigned char> instance = MakeInstance(vpiMain);
  Check(ChangeParams(vpiMain, instance) == kCommFailure, "ChangeVpiParams returns 2");
  Check(ChangeParams(vpiMain, instance) == kCommFailure, "ChangeVpiParams returns 2 again");
  std::fflush(stderr);

  const std::string said = ReadFile(stderrPath);
  Check(CountOccurrences(said, "TOLDEX") == 1,
        "the driver says once that there is no host library:\n" + said);
  Check(CountOccurrences(said, "ChangeVpiParams") == 0, "no log line reaches stderr:\n" + said);
  return g_failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[2], "--log") == 0) {
    const int result = LogThroughHost(argv[1], argv[3]);
    if (result == EXIT_SUCCESS) std::printf("%s: every check holds\n", kProgram);
    return result;
  }
  if (argc == 4 && std::strcmp(argv[2], "--no-host") == 0) {
    const int result = GoOnWithoutHost(argv[1], argv[3]);
    if (result == EXIT_SUCCESS) std::printf("%s: every check holds\n", kProgram);
    return result;
  }
  std::printf("usage: %s DRIVER.so --log FILE | --no-host STDERR_FILE\n", kProgram);
  return EXIT_FAILURE;
}
