// The soak's command line.
#pragma once

#include <cstdint>
#include <string>

namespace soak {

struct Options {
  double durationSeconds = 60;
  uint64_t seed = 1;
  int threads = 4;
  int stations = 12;
  int timeoutMs = 150;      // the socket time-out given to the driver
  double chaosRate = 0.03;  // probability that a request meets a fault
  std::string logPath;      // the driver's log lines (level 32 and up), when given
  bool help = false;
};

constexpr int kMinThreads = 1;
constexpr int kMaxThreads = 16;
constexpr int kMinStations = 3;
// Masters and PLCs without backup are numbered from 1, backups from 33 on:
// with a quarter of 42 as backups, the others reach 32.
constexpr int kMaxStations = 42;
constexpr int kMinTimeoutMs = 20;

// False with a reason on a bad argument.
bool ParseOptions(int argc, char** argv, Options& options, std::string& reason);
const char* UsageText();

}  // namespace soak
