// toldex browse: the driver's address dialog ("Tag Format"), as a host's tag
// editor opens it; on Linux the driver shows it as a form in the terminal.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "core_access.h"
#include "driver_session.h"
#include "exit_codes.h"

namespace toldex::cli {
namespace {

constexpr size_t kAddressBufferSize = 16;  // the dialog writes at most 9 characters and a NUL

const std::vector<OptionSpec> kOptions = {
    kDirOption, kDriverNumberOption, kLibraryOption, kVerboseOption, kHelpOption,
};

const char kDescription[] =
    "Opens the driver's address dialog (BrowseAddress), in which a gate address is built\n"
    "from a PLC number, a memory type, an address and a bit, with the digits of the address\n"
    "base of the initialisation file in the folder. On Windows it is the driver's dialog\n"
    "window; on Linux the driver asks in the terminal. The address is printed on stdout.\n"
    "Exit status: 0 an address was made, 1 the dialog was cancelled or is not available\n"
    "(on Linux, when there is no terminal).";

}  // namespace

int RunBrowse(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("browse [OPTIONS]", kDescription, kOptions);
    return kExitOk;
  }
  const CommonOptions common = ReadCommonOptions(arguments);
  if (!arguments.Positionals().empty()) throw UsageError("browse takes no arguments");
  StartLogging(common.verbosity);
  DriverLibrary library;
  std::string reason;
  if (!LoadDriverLibrary(common.library, library, reason)) {
    PrintError(reason);
    return kExitUnavailable;
  }
  CurrentDirectory inFolder(common.folder);
  DriverSession session(library, common.driverNumber);
  char address[kAddressBufferSize] = "";
  BrowseParams params{};
  params.addressBuffer = address;
  params.ownerWindow = nullptr;
  const int32_t status = session.Browse(params);
  if (status != 0) {
    PrintError("no address: the dialog was cancelled or is not available (status " + std::to_string(status) + ")");
    return kExitRefused;
  }
  std::printf("%s\n", address);
  return kExitOk;
}

}  // namespace toldex::cli
