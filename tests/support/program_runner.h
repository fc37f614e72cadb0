// Runs a program of the build (the command-line host, the simulator) to its
// end and hands back its exit status and what it printed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace toldex::testing {

struct ProgramResult {
  int exitCode;  // or platform::kProcessNotStarted / kProcessTimedOut
  std::string out;  // line ends are "\n" on every system
  std::string err;
};

// A program of the build by its name ("toldex"), with the system's suffix.
std::filesystem::path BuiltProgram(const std::string& name);

// Runs it in the current directory; output goes through files of a private
// temporary folder. The time limit is generous: it only stops a hung program.
ProgramResult RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                         uint32_t timeoutMs = 120000);

// The lines of a text, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace toldex::testing
