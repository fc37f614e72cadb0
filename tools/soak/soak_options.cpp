#include "soak_options.h"

#include <cstdlib>
#include <cstring>

namespace soak {
namespace {

bool TakeNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0';
}

bool TakeInteger(const char* text, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return end != text && *end == '\0';
}

}  // namespace

const char* UsageText() {
  return "usage: soak [--duration SECONDS] [--seed N] [--threads N] [--stations N]\n"
         "            [--timeout MS] [--chaos-rate P] [--log FILE]\n"
         "\n"
         "Loads the driver library as a host does, serves it simulated PLC stations that\n"
         "misbehave reproducibly from the seed (master/backup pairs and single PLCs), reads\n"
         "and writes gates of every kind from several threads and checks every answer:\n"
         "values, call durations, counters, descriptors and threads. Exit status 0 when\n"
         "every check held, 1 when one failed, 2 for bad arguments.\n"
         "\n"
         "  --duration S     how long the threads work (default 60)\n"
         "  --seed N         seed of the faults and of the threads' choices (default 1)\n"
         "  --threads N      host threads, 1 to 16 (default 4)\n"
         "  --stations N     simulated stations, 3 to 42 (default 12); a quarter of them\n"
         "                   (at least one) serve as backups of as many masters\n"
         "  --timeout MS     the driver's socket time-out (default 150)\n"
         "  --chaos-rate P   probability that a request meets a fault (default 0.03)\n"
         "  --log FILE       the driver's log lines of level 32 go to FILE\n";
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& reason) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0) {
      options.help = true;
      continue;
    }
    if (i + 1 >= argc) {
      reason = std::string("missing value or unknown option: ") + name;
      return false;
    }
    const char* value = argv[++i];
    double number = 0;
    long long integer = 0;
    if (std::strcmp(name, "--duration") == 0 && TakeNumber(value, number) && number > 0) {
      options.durationSeconds = number;
    } else if (std::strcmp(name, "--seed") == 0 && TakeInteger(value, integer) && integer >= 0) {
      options.seed = static_cast<uint64_t>(integer);
    } else if (std::strcmp(name, "--threads") == 0 && TakeInteger(value, integer) &&
               integer >= kMinThreads && integer <= kMaxThreads) {
      options.threads = static_cast<int>(integer);
    } else if (std::strcmp(name, "--stations") == 0 && TakeInteger(value, integer) &&
               integer >= kMinStations && integer <= kMaxStations) {
      options.stations = static_cast<int>(integer);
    } else if (std::strcmp(name, "--timeout") == 0 && TakeInteger(value, integer) &&
               integer >= kMinTimeoutMs) {
      options.timeoutMs = static_cast<int>(integer);
    } else if (std::strcmp(name, "--chaos-rate") == 0 && TakeNumber(value, number) && number >= 0 &&
               number <= 1) {
      options.chaosRate = number;
    } else if (std::strcmp(name, "--log") == 0) {
      options.logPath = value;
    } else {
      reason = std::string("bad option or value: ") + name + " " + value;
      return false;
    }
  }
  return true;
}

}  // namespace soak
