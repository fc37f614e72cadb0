// The command-line host as a program: its usage, help, exit statuses and the
// commands that need no PLC (info, parse, check-config, browse).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/driver_fixture.h"
#include "support/program_runner.h"

namespace toldex {
namespace {

using testing::BuiltProgram;
using testing::ProgramResult;
using testing::RunProgram;
using testing::SplitLines;
using testing::TempWorkDir;

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 64;
constexpr int kExitUnavailable = 69;

ProgramResult Toldex(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), BuiltProgram("toldex").string());
  return RunProgram(arguments);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ToldexUsage, WithoutACommandPrintsTheCommandsAndExits64) {
  const ProgramResult result = Toldex({});
  EXPECT_EQ(result.exitCode, kExitUsage);
  EXPECT_TRUE(Contains(result.err, "Usage: toldex COMMAND")) << result.err;
  for (const char* command : {"poll", "write", "parse", "check-config", "info", "browse"}) {
    EXPECT_TRUE(Contains(result.err, std::string("\n  ") + command + " ")) << command << "\n" << result.err;
  }
  EXPECT_TRUE(result.out.empty());
}

TEST(ToldexUsage, HelpGoesToStdoutAndExitsZero) {
  for (const char* word : {"--help", "-h", "help"}) {
    const ProgramResult result = Toldex({word});
    EXPECT_EQ(result.exitCode, kExitOk) << word;
    EXPECT_TRUE(Contains(result.out, "Commands:")) << word << "\n" << result.out;
    EXPECT_TRUE(Contains(result.out, "64 a bad command line")) << result.out;
  }
}

TEST(ToldexUsage, UnknownCommandIsAUsageError) {
  const ProgramResult result = Toldex({"pol"});
  EXPECT_EQ(result.exitCode, kExitUsage);
  EXPECT_EQ(SplitLines(result.err).at(0), "toldex: unknown command 'pol'");
  EXPECT_EQ(SplitLines(result.err).at(1), "Try 'toldex --help'.");
}

TEST(ToldexUsage, VersionNamesTheProgram) {
  const ProgramResult result = Toldex({"--version"});
  EXPECT_EQ(result.exitCode, kExitOk);
  EXPECT_EQ(result.out.rfind("toldex ", 0), 0u) << result.out;
}

TEST(ToldexUsage, EverySubcommandHasItsHelp) {
  // Every command the overview lists (demo and sim where the simulator is built).
  std::vector<std::string> commands;
  bool listing = false;
  for (const std::string& line : SplitLines(Toldex({"--help"}).out)) {
    if (line == "Commands:") {
      listing = true;
    } else if (listing && line.rfind("  ", 0) == 0) {
      commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    } else if (listing) {
      break;
    }
  }
  ASSERT_GE(commands.size(), 6u);
  for (const std::string& command : commands) {
    const ProgramResult result = Toldex({command, "--help"});
    EXPECT_EQ(result.exitCode, kExitOk) << command << "\n" << result.err;
    EXPECT_TRUE(Contains(result.out, "Usage: toldex " + command)) << command << "\n" << result.out;
    EXPECT_TRUE(result.err.empty()) << command << "\n" << result.err;
  }
}

TEST(ToldexUsage, BadArgumentsAreNamedAndExit64) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"poll", "--bogus", "0140001"}, "toldex: poll: unknown option --bogus"},
      {{"poll"}, "toldex: poll: name at least one gate address"},
      {{"poll", "--interval", "fast", "0140001"}, "toldex: poll: --interval takes seconds from 0.01 to 604800, not 'fast'"},
      {{"poll", "--interval"}, "toldex: poll: --interval needs a value (SECONDS)"},
      {{"poll", "--repeat", "3", "0140001"}, "toldex: poll: --repeat and --duration need --interval"},
      {{"poll", "--count", "0", "0140001"}, "toldex: poll: --count takes a whole number from 1 to 2000, not '0'"},
      {{"poll", "--type", "double", "0140001"}, "toldex: poll: unknown gate type 'double'"},
      {{"poll", "--switch", "65=1", "0140001"}, "toldex: poll: --switch takes PLC=0|1[@SECONDS] with PLC 1 to 64, not '65=1'"},
      {{"poll", "--switch", "1=1@2", "0140001"}, "toldex: poll: a switch at a later time needs --interval"},
      {{"poll", "--dir", "/no/such/folder", "0140001"}, "toldex: poll: --dir /no/such/folder is not a folder"},
      {{"poll", "--driver", "100", "0140001"}, "toldex: poll: --driver takes a whole number from 0 to 99, not '100'"},
      {{"write", "0140001"}, "toldex: write: name a gate and the value to write"},
      {{"parse"}, "toldex: parse: name at least one gate address"},
      {{"parse", "--block", "x", "0140001"}, "toldex: parse: --block takes a whole number from 1 to 100000, not 'x'"},
      {{"check-config", "a", "b"}, "toldex: check-config: name at most one file"},
      {{"check-config", "/no/such/file.int"}, "toldex: check-config: no such file: /no/such/file.int"},
      {{"info", "extra"}, "toldex: info: info takes no arguments"},
      {{"browse", "extra"}, "toldex: browse: browse takes no arguments"},
  };
  for (const Case& c : cases) {
    const ProgramResult result = Toldex(c.arguments);
    EXPECT_EQ(result.exitCode, kExitUsage) << c.message;
    const auto lines = SplitLines(result.err);
    ASSERT_GE(lines.size(), 2u) << c.message << "\n" << result.err;
    EXPECT_EQ(lines[0], c.message);
    EXPECT_EQ(lines[1], "Try 'toldex " + c.arguments[0] + " --help'.");
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
}

TEST(ToldexInfo, ShowsWhatTheLibraryAnswers) {
  const ProgramResult result = Toldex({"info"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.err;
  const auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 6u) << result.out;
  EXPECT_TRUE(Contains(lines[0], "Library") && (Contains(lines[0], "libtoldexdr.so") || Contains(lines[0], "TOLDEXDR.DLL")))
      << lines[0];
  EXPECT_EQ(lines[1], "Driver name    Modicon Modbus TCP/IP");
  EXPECT_EQ(lines[2], "Banner         ModBus/J-BUS 32 Bit TCP/IP driver Installed.");
  EXPECT_EQ(lines[3].rfind("Instance size  ", 0), 0u);
  EXPECT_EQ(lines[4], "Info values    80, type 3, flags 1/0, bits 0x00880022");
}

TEST(ToldexInfo, JsonCarriesTheSameFields) {
  const ProgramResult result = Toldex({"info", "--json"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.err;
  EXPECT_TRUE(Contains(result.out, "\"driverName\":\"Modicon Modbus TCP/IP\"")) << result.out;
  EXPECT_TRUE(Contains(result.out, "\"driverBanner\":\"ModBus/J-BUS 32 Bit TCP/IP driver Installed.\"")) << result.out;
  EXPECT_TRUE(Contains(result.out, "\"infoBits\":\"0x00880022\"")) << result.out;
  EXPECT_TRUE(Contains(result.out, "\"status\":0")) << result.out;
  EXPECT_EQ(SplitLines(result.out).size(), 1u);
}

TEST(ToldexInfo, AMissingLibraryExits69WithTheReason) {
  TempWorkDir folder;
  const ProgramResult result = Toldex({"info", "--library", (folder.path() / "missing.so").string()});
  EXPECT_EQ(result.exitCode, kExitUnavailable);
  EXPECT_TRUE(Contains(result.err, "toldex: cannot load the driver library")) << result.err;
  EXPECT_TRUE(Contains(result.err, "missing.so")) << result.err;
}

TEST(ToldexInfo, ALibraryWithoutVpiMainIsRefused) {
  // The host library stand-in is a loadable library without the entry point.
#if defined(_WIN32)
  const auto other = BuiltProgram("QIRPRO").replace_extension(".dll");
#else
  const auto other = std::filesystem::path(TOLDEX_BIN_DIR) / "libqirpro.so";
#endif
  const ProgramResult result = Toldex({"info", "--library", other.string()});
  EXPECT_EQ(result.exitCode, kExitUnavailable);
  EXPECT_TRUE(Contains(result.err, "has no export named VpiMain")) << result.err;
}

TEST(ToldexBrowse, WithoutATerminalThereIsNoAddress) {
  TempWorkDir folder;
  const ProgramResult result = Toldex({"browse"});
  EXPECT_EQ(result.exitCode, kExitRefused) << result.out << result.err;
  EXPECT_TRUE(Contains(result.err, "toldex: no address: the dialog was cancelled or is not available (status 53)"))
      << result.err;
  EXPECT_TRUE(result.out.empty()) << result.out;
}

}  // namespace
}  // namespace toldex
