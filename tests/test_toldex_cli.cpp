// The command-line host as a program: its usage, help, exit statuses and the
// commands that need no PLC (info, parse, check-config, browse).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
#if defined(_WIN32)
  GTEST_SKIP() << "on Windows the dialog is a window; its tests drive it in a virtual display";
#endif
  TempWorkDir folder;
  const ProgramResult result = Toldex({"browse"});
  EXPECT_EQ(result.exitCode, kExitRefused) << result.out << result.err;
  EXPECT_TRUE(Contains(result.err, "toldex: no address: the dialog was cancelled or is not available (status 53)"))
      << result.err;
  EXPECT_TRUE(result.out.empty()) << result.out;
}


// The table row of a gate, split at runs of two or more blanks.
std::vector<std::string> Row(const std::string& output, const std::string& gate) {
  for (const std::string& line : SplitLines(output)) {
    if (line.rfind(gate + " ", 0) != 0) continue;
    std::vector<std::string> cells;
    size_t start = 0;
    while (start < line.size()) {
      size_t gap = line.find("  ", start);
      if (gap == std::string::npos) gap = line.size();
      cells.push_back(line.substr(start, gap - start));
      start = line.find_first_not_of(' ', gap);
      if (start == std::string::npos) break;
    }
    return cells;
  }
  return {};
}

TEST(ToldexParse, ShowsTheParsedAddressOfEveryKind) {
  TempWorkDir folder;  // no initialisation file: Modbus, decimal base
  struct Case {
    std::string gate;
    std::vector<std::string> cells;  // TYPE RESULT KIND PLC MEMORY REGISTER BIT WIDTH REQUEST
  };
  const std::vector<Case> cases = {
      {"0140010", {"u16", "accepted", "gate", "1", "4 holding register", "9", "-", "16", "fc 3, start 9, qty 1"}},
      {"0130001", {"u16", "accepted", "gate", "1", "3 input register", "0", "-", "16", "fc 4, start 0, qty 1"}},
      {"0100001", {"digital", "accepted", "gate", "1", "0 coil", "0", "-", "1", "fc 1, start 0, qty 1"}},
      {"0110003", {"digital", "accepted", "gate", "1", "1 discrete input", "2", "-", "1", "fc 2, start 2, qty 1"}},
      {"0170001", {"float", "accepted", "gate", "1", "7 holding float", "0", "-", "32", "fc 3, start 0, qty 2"}},
      {"0151001", {"float", "accepted", "gate", "1", "5 input float", "500", "-", "32", "fc 4, start 1000, qty 2"}},
      {"0182001", {"u32", "accepted", "gate", "1", "8 holding 32-bit integer", "1000", "-", "32", "fc 3, start 2000, qty 2"}},
      {"01400013", {"digital", "accepted", "gate", "1", "4 holding register", "0", "3", "16", "fc 3, start 0, qty 1"}},
      {"01H00017", {"digital", "accepted", "gate", "1", "516 holding high byte", "0", "7", "1", "fc 3, start 0, qty 1"}},
      {"01L0001", {"u16", "accepted", "gate", "1", "260 holding low byte", "0", "-", "16", "fc 3, start 0, qty 1"}},
      {"07BACKUP", {"digital", "accepted", "switch", "7", "-", "-", "-", "-", "none (from memory)"}},
      {"0340002_SCRUT", {"u16", "accepted", "_SCRUT", "3", "4 holding register", "1", "-", "16", "fc 3, start 1, qty 1"}},
      {"$NUMCOMMS:07", {"u32", "accepted", "diagnostic", "7", "1000 NUMCOMMS counter", "-", "-", "-", "none (from memory)"}},
      {"$ST_ONLINE:12", {"digital", "accepted", "diagnostic", "12", "1003 ST_ONLINE flag", "-", "-", "-", "none (from memory)"}},
  };
  std::vector<std::string> arguments = {"parse"};
  for (const Case& c : cases) arguments.push_back(c.gate);
  const ProgramResult result = Toldex(arguments);
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(SplitLines(result.out).at(0),
            "Configuration: Modbus, Decimal base, LONGADDR NO, parity checking YES (no initialisation file: defaults)");
  for (const Case& c : cases) {
    std::vector<std::string> expected = {c.gate};
    expected.insert(expected.end(), c.cells.begin(), c.cells.end());
    EXPECT_EQ(Row(result.out, c.gate), expected) << c.gate << "\n" << result.out;
  }
}

TEST(ToldexParse, ARefusedAddressShowsTheDriversLinesAndExitsOne) {
  TempWorkDir folder;
  const ProgramResult result = Toldex({"parse", "0140001", "0140000", "0170002", "6530001"});
  EXPECT_EQ(result.exitCode, 1);
  const std::string& out = result.out;
  EXPECT_EQ(Row(out, "0140000"), (std::vector<std::string>{"0140000", "u16", "refused"}));
  EXPECT_NE(out.find("refused\n"
                     "    [8] TOLDEX: Parse() illegal addr. 0 for Modbus, '0140000 '\n"
                     "    [8] TOLDEX: SingleAddressParser() exited #1, 1\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("    [32] TOLDEX: Parse() 32 bit gates must have ODD address for MODBUS\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    [32] TolDEX : SingleAddressParser tag address 6530001 contains illegal Plc address 65, "
                     "valids are 1->64\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(Row(out, "0140001").at(2), "accepted");
}

TEST(ToldexParse, TypeBlockAndExtraLinesChangeWhatIsAsked) {
  TempWorkDir folder;
  // A holding register taken as a float is refused by the driver's type check.
  ProgramResult result = Toldex({"parse", "--type", "float", "0140001"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("[32] TOLDEX: SingleParse() gate type should be 16-bit INTEGER"), std::string::npos) << result.out;
  // Blocks go through BlockAddressParser, with its limits.
  result = Toldex({"parse", "--block", "125", "0140001"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(Row(result.out, "0140001").back(), "fc 3, start 0, qty 125");
  result = Toldex({"parse", "--block", "126", "0140001"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("[32] TOLDEX: BlockParse(): Block length is too long"), std::string::npos) << result.out;
  // An extra initialisation-file line: hexadecimal base and J-BUS numbering.
  result = Toldex({"parse", "--line", "BUS=J,H", "1A3FFFF"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(SplitLines(result.out).at(0),
            "Configuration: J-Bus, Hexadecimal base, LONGADDR NO, parity checking YES (TOLDEX01.INT)");
  EXPECT_EQ(Row(result.out, "1A3FFFF").at(4), "26");
  EXPECT_EQ(Row(result.out, "1A3FFFF").at(6), "65535");
}

TEST(ToldexParse, TheFilesBaseAppliesAndTheFileIsNamed) {
  TempWorkDir folder;
  folder.WriteFile("TOLDEX01.INT", "BUS=M,L\nLONGADDR = YES\n");
  const ProgramResult result = Toldex({"parse", "01312345", "01800011"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(SplitLines(result.out).at(0),
            "Configuration: Modbus, Long Decimal base, LONGADDR YES, parity checking YES (TOLDEX01.INT)");
  EXPECT_EQ(Row(result.out, "01312345").at(6), "12344");
  // Long word addressing: the address of a 32-bit gate is sent as it is
  // (Modbus address 11 is wire address 10), two registers per value.
  EXPECT_EQ(Row(result.out, "01800011").back(), "fc 3, start 10, qty 2");
}

TEST(ToldexParse, JsonAndCsvCarryTheFieldsAndTheLines) {
  TempWorkDir folder;
  ProgramResult result = Toldex({"parse", "--json", "0140010", "0140000"});
  EXPECT_EQ(result.exitCode, 1);
  const auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_EQ(lines[0],
            "{\"gate\":\"0140010\",\"type\":\"u16\",\"gateType\":0,\"status\":0,\"accepted\":true,\"kind\":\"gate\","
            "\"number\":1,\"plcNumber\":1,\"memoryType\":4,\"memory\":\"holding register\",\"registerAddress\":9,"
            "\"bitNumber\":-1,\"bitWidth\":16,\"readRequest\":{\"functionCode\":3,\"start\":9,\"quantity\":1},\"log\":[]}");
  EXPECT_EQ(lines[1],
            "{\"gate\":\"0140000\",\"type\":\"u16\",\"gateType\":0,\"status\":1,\"accepted\":false,\"log\":["
            "{\"level\":8,\"text\":\"TOLDEX: Parse() illegal addr. 0 for Modbus, '0140000 '\"},"
            "{\"level\":8,\"text\":\"TOLDEX: SingleAddressParser() exited #1, 1\"}]}");
  result = Toldex({"parse", "--csv", "0170001", "0140000"});
  const auto csv = SplitLines(result.out);
  ASSERT_EQ(csv.size(), 3u) << result.out;
  EXPECT_EQ(csv[0], "gate,type,status,kind,plcNumber,memoryType,registerAddress,bitNumber,bitWidth,functionCode,start,quantity,log");
  EXPECT_EQ(csv[1], "0170001,float,0,gate,1,7,0,-1,32,3,0,2,");
  EXPECT_EQ(csv[2],
            "0140000,u16,1,,,,,,,,,,\"[8] TOLDEX: Parse() illegal addr. 0 for Modbus, '0140000 ' | [8] TOLDEX: "
            "SingleAddressParser() exited #1, 1\"");
}

TEST(ToldexCheckConfig, ShowsTheConfigurationEveryMessageAndTheSkippedLines) {
  TempWorkDir folder;
  folder.WriteFile("TOLDEX01.INT",
                   "[stations]\n"
                   "BUS=M,H\n"
                   "FLOATSWAP = YE\n"
                   "BUS = J,D\n"
                   "1 127.0.0.10\n"
                   "2 127.0.0.11 503,7\n"
                   "300 127.0.0.1\n"
                   "BACKUP_1 = 2\n"
                   "BACKUP_3 5\n");
  const ProgramResult result = Toldex({"check-config"});
  EXPECT_EQ(result.exitCode, 1) << result.out;
  const std::string& out = result.out;
  for (const char* expected : {
           "Protocol                  Modbus\n",
           "Address base              Hexadecimal\n",
           "FLOATSWAP                 NO   (word swap of float gates)\n",
           "STATION  IP          PORT  UNIT ID\n"
           "1        127.0.0.10  502   (station number)\n"
           "2        127.0.0.11  503   7\n",
           "PLC  BACKUP\n1    2\n",
           "Messages of the driver (4 that need attention):\n",
           "  ! [32] TOLDEX: Illegal format of Int File:\n",
           "  ! [32] TOLDEX: Check for FLOATSWAP = in your int file. Assuming NO swap\n",
           "  ! [32] TOLDEX: InitFile: station number too big, line: 7\n",
           "  ! [32] TOLDEX: Illegal line in init file : BACKUP_3 5\n",
           "    [32] \tStation: 2   IP: 127.0.0.11 ,port = 503, force_address = 7\n",
           "Lines the driver skips without a message:\n  line 1: [stations]\n  line 4: BUS = J,D\n",
       }) {
    EXPECT_NE(out.find(expected), std::string::npos) << "missing:\n" << expected << "\nin:\n" << out;
  }
}

TEST(ToldexCheckConfig, AGoodFileExitsZeroAndAFileArgumentIsReadUnderTheDriversName) {
  TempWorkDir folder;
  folder.WriteFile("plant.ini", "BUS=J,D\n5 127.0.0.5 1502\nBACKUP_5 = 6\n6 127.0.0.6 1502\n");
  const ProgramResult result = Toldex({"check-config", "plant.ini"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_NE(result.out.find("File: "), std::string::npos);
  EXPECT_NE(result.out.find("plant.ini\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Protocol                  J-Bus\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Messages of the driver (0 that need attention):\n"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("skips"), std::string::npos) << result.out;
}

TEST(ToldexCheckConfig, NoFileIsSaidAndExitsOne) {
  TempWorkDir folder;
  const ProgramResult result = Toldex({"check-config"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.out.find("No initialisation file found (the driver tries TOLDEX01.INT, TOLDEX1.INT, TOLDEX.INT)"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("  ! [32] TOLDEX: ColdStart() no initfile found, defaults used\n"), std::string::npos)
      << result.out;
}

TEST(ToldexCheckConfig, TheDriverNumberAndFolderSelectTheFile) {
  TempWorkDir folder;
  std::filesystem::create_directory(folder.path() / "plant");
  std::ofstream(folder.path() / "plant" / "TOLDEX7.INT") << "3 127.0.0.3\n";
  const ProgramResult result = Toldex({"check-config", "--dir", "plant", "--driver", "7", "--json"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_NE(result.out.find("TOLDEX7.INT\",\"protocol\":\"Modbus\""), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"stations\":[{\"station\":3,\"ip\":\"127.0.0.3\",\"port\":502,\"forceAddress\":null}]"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\"problems\":0"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace toldex
