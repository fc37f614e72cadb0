// Options shared by several subcommands, and the start-up every command that
// talks to the driver goes through.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "command_line.h"

namespace toldex::cli {

extern const OptionSpec kHelpOption;
extern const OptionSpec kVerboseOption;
extern const OptionSpec kDirOption;
extern const OptionSpec kDriverNumberOption;
extern const OptionSpec kLibraryOption;
extern const OptionSpec kTimeoutOption;

struct CommonOptions {
  int verbosity = 0;              // 0 quiet, 1 events, 2 details
  std::filesystem::path folder;   // of the initialisation file; empty: current directory
  int32_t driverNumber = 1;
  std::string library;            // empty: the driver beside the program
  int32_t timeoutMs = 1000;
};

CommonOptions ReadCommonOptions(const Arguments& arguments);

// Routes the driver's log into the command-line host; -v and -vv echo it.
void StartLogging(int verbosity);

// Prints the usage text: the synopsis, what it does, the options.
void PrintHelp(const std::string& synopsis, const std::string& description,
               const std::vector<OptionSpec>& options);

// The program name used in messages ("toldex").
extern const char kProgramName[];

// "toldex: message" on stderr.
void PrintError(const std::string& message);

}  // namespace toldex::cli
