// toldex info: what the driver library answers to GetVpiInfo.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "driver_session.h"
#include "exit_codes.h"
#include "report.h"

namespace toldex::cli {
namespace {

const std::vector<OptionSpec> kOptions = {
    {"json", 0, nullptr, "print one JSON object"}, kLibraryOption, kHelpOption,
};

std::string Trimmed(const char* text) {
  std::string trimmed = text != nullptr ? text : "";
  while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) trimmed.pop_back();
  return trimmed;
}

}  // namespace

int RunInfo(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("info [--json] [--library FILE]",
              "Loads the driver library as a host does (VpiMain found by its name) and shows what\n"
              "GetVpiInfo answers: the driver's name and banner and the size of the instance block\n"
              "a host allocates for each driver instance.",
              kOptions);
    return kExitOk;
  }
  if (!arguments.Positionals().empty()) throw UsageError("info takes no arguments");
  StartLogging(0);
  DriverLibrary library;
  std::string reason;
  if (!LoadDriverLibrary(arguments.Get("library"), library, reason)) {
    PrintError(reason);
    return kExitUnavailable;
  }
  DriverInfo info{};
  const int32_t status = QueryDriverInfo(library, info);
  char bits[16];
  std::snprintf(bits, sizeof bits, "0x%08X", static_cast<unsigned>(info.infoBits));
  if (arguments.Has("json")) {
    JsonObject object;
    object.Text("library", library.path)
        .Integer("status", status)
        .Text("driverName", Trimmed(info.driverName))
        .Text("driverBanner", Trimmed(info.driverBanner))
        .Integer("instanceSize", info.instanceSize)
        .Integer("infoValue", info.infoValue)
        .Integer("infoType", info.infoType)
        .Integer("infoFlag1", info.infoFlag1)
        .Integer("infoFlag2", info.infoFlag2)
        .Text("infoBits", bits)
        .Text("toldexVersion", TOLDEX_VERSION);
    std::printf("%s\n", object.str().c_str());
  } else {
    std::printf("Library        %s\n", library.path.c_str());
    std::printf("Driver name    %s\n", Trimmed(info.driverName).c_str());
    std::printf("Banner         %s\n", Trimmed(info.driverBanner).c_str());
    std::printf("Instance size  %d bytes\n", info.instanceSize);
    std::printf("Info values    %d, type %d, flags %d/%d, bits %s\n", info.infoValue, info.infoType,
                info.infoFlag1, info.infoFlag2, bits);
    std::printf("toldex         %s\n", TOLDEX_VERSION);
  }
  return WorseExit(kExitOk, status);
}

}  // namespace toldex::cli
