// Running another program to its end, for tools and tests: its arguments, its
// standard output and error written to files, a few extra environment
// variables, and a time limit after which it is killed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace toldex::platform {

struct ProcessRun {
  std::vector<std::string> arguments;   // arguments[0]: the program, searched in PATH when it names no folder
  std::string outputPath;               // standard output goes here (created anew)
  std::string errorPath;                // standard error goes here (created anew)
  std::vector<std::string> environment; // "NAME=value" added to the caller's environment
  uint32_t timeoutMs = 0;               // 0: no limit
};

constexpr int kProcessNotStarted = -1;
constexpr int kProcessTimedOut = -2;

// The program's exit status, kProcessNotStarted, or kProcessTimedOut when it
// was killed at the time limit.
int RunProcess(const ProcessRun& run);

}  // namespace toldex::platform
