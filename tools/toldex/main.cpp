// toldex, the command-line host of the TOLDEX driver: loads the driver as a
// host does and drives every operation through VpiMain.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "common_options.h"
#include "exit_codes.h"

namespace toldex::cli {
namespace {

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s COMMAND [OPTIONS] [ARGUMENTS]\n\n"
               "The command-line host of the TOLDEX Modbus/J-BUS TCP driver: it loads the driver\n"
               "library as a host does and runs its operations.\n\nCommands:\n",
               kProgramName);
  for (const Command& command : Commands()) {
    std::fprintf(out, "  %-13s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\n'%s COMMAND --help' describes a command. Exit status: 0 success, 1 a request\n"
               "refused, 2 a communication failure, 64 a bad command line, 69 the driver or the\n"
               "simulator could not be started.\n",
               kProgramName);
}

}  // namespace
}  // namespace toldex::cli

int main(int argc, char** argv) {
  using namespace toldex::cli;
  if (argc < 2) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (name == "--version") {
    std::printf("%s %s\n", kProgramName, TOLDEX_VERSION);
    return kExitOk;
  }
  for (const Command& command : Commands()) {
    if (name != command.name) continue;
    const Words words(argv + 2, argv + argc);
    try {
      return command.run(words);
    } catch (const UsageError& error) {
      PrintError(std::string(command.name) + ": " + error.what());
      std::fprintf(stderr, "Try '%s %s --help'.\n", kProgramName, command.name);
      return kExitUsage;
    } catch (const std::exception& error) {
      PrintError(std::string(command.name) + ": " + error.what());
      return kExitUnavailable;
    }
  }
  PrintError("unknown command '" + name + "'");
  std::fprintf(stderr, "Try '%s --help'.\n", kProgramName);
  return kExitUsage;
}
