#include "common_options.h"

#include <cstdio>

#include "host_log.h"

namespace toldex::cli {
namespace {

constexpr long kMaxDriverNumber = 99;
constexpr long kMinTimeoutMs = 1;
constexpr long kMaxTimeoutMs = 600000;

}  // namespace

const char kProgramName[] = "toldex";

const OptionSpec kHelpOption{"help", 'h', nullptr, "show this help"};
const OptionSpec kVerboseOption{"verbose", 'v', nullptr,
                                "show the driver's log lines on stderr: -v events (level 32), -vv details too (level 8)"};
const OptionSpec kDirOption{"dir", 'C', "FOLDER", "folder of the initialisation file (default: the current directory)"};
const OptionSpec kDriverNumberOption{"driver", 'd', "N", "driver number, selects TOLDEXnn.INT (default 1)"};
const OptionSpec kLibraryOption{"library", 0, "FILE", "driver library to load (default: the one beside toldex)"};
const OptionSpec kTimeoutOption{"timeout", 't', "MS",
                                "socket time-out in milliseconds (default 1000; below 1000 it applies to reconnections)"};

CommonOptions ReadCommonOptions(const Arguments& arguments) {
  CommonOptions options;
  options.verbosity = arguments.Count("verbose");
  if (arguments.Has("dir")) {
    options.folder = arguments.Get("dir");
    std::error_code error;
    if (!std::filesystem::is_directory(options.folder, error)) {
      throw UsageError("--dir " + options.folder.string() + " is not a folder");
    }
  }
  options.driverNumber = static_cast<int32_t>(arguments.GetInteger("driver", 1, 0, kMaxDriverNumber));
  options.library = arguments.Get("library");
  options.timeoutMs = static_cast<int32_t>(arguments.GetInteger("timeout", 1000, kMinTimeoutMs, kMaxTimeoutMs));
  return options;
}

void StartLogging(int verbosity) {
  HostLog& log = HostLog::Instance();
  log.Start();
  log.SetEchoLevel(verbosity >= 2 ? kLevelDetail : verbosity == 1 ? kLevelEvent : kEchoNothing);
}

void PrintHelp(const std::string& synopsis, const std::string& description, const std::vector<OptionSpec>& options) {
  std::printf("Usage: %s %s\n\n%s\n", kProgramName, synopsis.c_str(), description.c_str());
  if (!options.empty()) std::printf("\nOptions:\n%s", OptionsHelp(options).c_str());
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
}

}  // namespace toldex::cli
