// The command-line host against simulated PLCs: poll, write, the switch of a
// pair, failures and their exit statuses, every output format, the simulator
// command and the demo. The PLCs start with the simulator's known pattern
// (holding register r holds r, register 9000 the station's number ...).
#include <gtest/gtest.h>

#if TOLDEX_HAVE_PLCSIM

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plcsim/simulator.h"
#include "support/driver_fixture.h"
#include "support/program_runner.h"

namespace toldex {
namespace {

using plcsim::Area;
using testing::BuiltProgram;
using testing::ProgramResult;
using testing::RunProgram;
using testing::SplitLines;
using testing::TempWorkDir;

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitCommFailure = 2;
constexpr int kExitUsage = 64;

ProgramResult Toldex(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), BuiltProgram("toldex").string());
  return RunProgram(arguments);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Cells of a table row, split at runs of two or more blanks.
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

// Simulated stations and the initialisation file that names them, in a
// temporary current directory.
class Plant {
 public:
  plcsim::Station& Add(int number) {
    plcsim::StationConfig config;
    config.number = number;
    config.address = "127.0.0.1";
    return simulator_.AddStation(config);
  }
  void Start(const std::string& extraLines = "") {
    std::string error;
    ASSERT_TRUE(simulator_.StartAll(&error)) << error;
    std::string file = "BUS=M,D\n";
    for (size_t i = 0; i < simulator_.Size(); ++i) {
      const plcsim::Station& station = simulator_.At(i);
      file += std::to_string(station.Number()) + " " + station.Address() + " " + std::to_string(station.Port()) + "\n";
    }
    folder_.WriteFile("TOLDEX01.INT", file + extraLines);
  }
  plcsim::Station& Station(int number) { return *simulator_.Find(number); }
  std::string Endpoint(int number) {
    return Station(number).Address() + ":" + std::to_string(Station(number).Port());
  }
  const TempWorkDir& folder() const { return folder_; }

 private:
  TempWorkDir folder_;
  plcsim::Simulator simulator_;
};

TEST(ToldexPoll, ReadsEveryKindOfGateThroughTheDriver) {
  Plant plant;
  plant.Add(1);
  plant.Start();
  struct Case {
    const char* gate;
    const char* type;
    const char* value;
  };
  const std::vector<Case> cases = {
      {"0140010", "u16", "9"},            // holding register 9
      {"0130001", "u16", "16384"},        // input register 0: 0x4000
      {"0100002", "digital", "1"},        // coil 1 (odd)
      {"0100001", "digital", "0"},        // coil 0
      {"0110004", "digital", "1"},        // input 3 (a multiple of three)
      {"0171001", "float", "1000.5"},     // holding float pair at 1000
      {"0151001", "float", "-1000.5"},    // input float pair at 1000
      {"0162001", "u32", "1002000"},      // input 32-bit pair at 2000
      {"01400103", "digital", "1"},       // bit 3 of register 9 (0b1001)
      {"01400102", "digital", "0"},       // bit 2 of register 9
      {"01L0258", "u16", "1"},            // low byte of register 257 (0x0101)
      {"01H0513", "u16", "2"},            // high byte of register 512 (0x0200)
      {"0149001", "u16", "1"},            // register 9000: the station's number
      {"01BACKUP", "digital", "0"},       // the switch gate, from memory
      {"$ST_ONLINE:01", "digital", "1"},  // diagnostic gates, from memory
  };
  std::vector<std::string> arguments = {"poll"};
  for (const Case& c : cases) arguments.push_back(c.gate);
  arguments.push_back("$NUMSUCCESS:01");
  const ProgramResult result = Toldex(arguments);
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(SplitLines(result.out).at(0).substr(0, 4), "GATE");
  for (const Case& c : cases) {
    const auto row = Row(result.out, c.gate);
    ASSERT_GE(row.size(), 4u) << c.gate << "\n" << result.out;
    EXPECT_EQ(row[1], c.type) << c.gate;
    EXPECT_EQ(row[2], "ok") << c.gate;
    EXPECT_EQ(row[3], c.value) << c.gate;
    const bool fromMemory = c.gate[0] == '$' || std::string(c.gate) == "01BACKUP";
    EXPECT_EQ(row.back(), fromMemory ? "-" : "1 (" + plant.Endpoint(1) + ")") << c.gate;
  }
  // Thirteen gates went to the PLC, one exchange each.
  EXPECT_EQ(Row(result.out, "$NUMSUCCESS:01").at(3), "13") << result.out;
  EXPECT_TRUE(result.err.empty()) << result.err;
}

TEST(ToldexPoll, TypesAndBlocks) {
  Plant plant;
  plant.Add(1);
  plant.Start();
  ProgramResult result = Toldex({"poll", "--type", "i32", "0182001"});
  EXPECT_EQ(Row(result.out, "0182001").at(3), "-2000") << result.out;
  result = Toldex({"poll", "--type", "w16", "0130011"});
  EXPECT_EQ(Row(result.out, "0130011").at(3), "0x400A") << result.out;
  result = Toldex({"poll", "--count", "4", "0140021"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0140021").at(3), "20 21 22 23") << result.out;
  result = Toldex({"poll", "--count", "10", "0100001"});
  EXPECT_EQ(Row(result.out, "0100001").at(3), "0 1 0 1 0 1 0 1 0 1") << result.out;
  result = Toldex({"poll", "--count", "2", "--type", "float", "0171001"});
  EXPECT_EQ(Row(result.out, "0171001").at(3), "1000.5 1002.5") << result.out;
  // A gate type that does not fit the memory type is refused by the driver.
  result = Toldex({"poll", "--type", "float", "0140001"});
  EXPECT_EQ(result.exitCode, kExitRefused);
  EXPECT_EQ(Row(result.out, "0140001").at(2), "refused") << result.out;
  EXPECT_TRUE(Contains(result.out, "[32] TOLDEX: SingleParse() gate type should be 16-bit INTEGER")) << result.out;
}

TEST(ToldexPoll, CsvAndJsonLinesForScripts) {
  Plant plant;
  plant.Add(1);
  plant.Start();
  ProgramResult result = Toldex({"poll", "--interval", "0.05", "--repeat", "3", "--csv", "0140010", "$NUMCOMMS:01"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  auto lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 7u) << result.out;
  EXPECT_EQ(lines[0], "time,elapsed,round,gate,type,status,value,station,address,message");
  for (int round = 1; round <= 3; ++round) {
    const std::string& gate = lines[2 * round - 1];
    const std::string& counter = lines[2 * round];
    EXPECT_TRUE(Contains(gate, "," + std::to_string(round) + ",0140010,u16,0,9,1," + plant.Endpoint(1) + ",")) << gate;
    EXPECT_TRUE(Contains(counter, "," + std::to_string(round) + ",$NUMCOMMS:01,u32,0," + std::to_string(round) + ",,,"))
        << counter;
  }
  result = Toldex({"poll", "--json", "--count", "3", "0140001", "0100001", "0149001"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 3u) << result.out;
  EXPECT_TRUE(Contains(lines[0], "\"round\":1,\"gate\":\"0140001\",\"type\":\"u16\",\"status\":0,\"value\":[0,1,2],"
                                 "\"station\":1,\"address\":\"" + plant.Endpoint(1) + "\",\"log\":[]}"))
      << lines[0];
  EXPECT_TRUE(Contains(lines[1], "\"value\":[0,1,0]")) << lines[1];
  EXPECT_TRUE(Contains(lines[2], "\"value\":[1,")) << lines[2];
  EXPECT_EQ(lines[0].rfind("{\"time\":\"", 0), 0u);
}

TEST(ToldexPoll, AStationThatDoesNotAnswerExitsTwoWithTheDriversLines) {
  Plant plant;
  plant.Add(1);
  plant.Add(3);
  plant.Start();
  plant.Station(3).Stop();
  const ProgramResult result = Toldex({"poll", "0140001", "0340001", "$COMMFAILS:03", "$ST_ONLINE:03"});
  EXPECT_EQ(result.exitCode, kExitCommFailure) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0140001").at(2), "ok");
  const auto failed = Row(result.out, "0340001");
  ASSERT_GE(failed.size(), 3u) << result.out;
  EXPECT_EQ(failed[2], "comm failure");
  EXPECT_TRUE(Contains(result.out, "    [8] TOLDEX: DoBlockRead() reading tag '0340001' Blocksize 1 failed rc = 2"))
      << result.out;
  EXPECT_EQ(Row(result.out, "$COMMFAILS:03").at(3), "1");
  EXPECT_EQ(Row(result.out, "$ST_ONLINE:03").at(3), "0");
}

TEST(ToldexPoll, RepeatingItWarmStartsAStationThatComesBack) {
  Plant plant;
  plant.Add(1);
  plant.Start();
  plant.Station(1).Stop();
  // The station comes back while toldex polls; it reconnects through the
  // warm start that follows each failure.
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    plant.Station(1).Start();
  });
  const ProgramResult result = Toldex({"poll", "--interval", "0.25", "--duration", "8", "--csv", "0149001"});
  later.join();
  EXPECT_EQ(result.exitCode, kExitCommFailure) << result.out << result.err;
  // Failures while the station is down, then reads again once it is back.
  const auto lines = SplitLines(result.out);
  size_t firstFailure = lines.size();
  size_t lastSuccess = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (Contains(lines[i], ",0149001,u16,2,,") && firstFailure == lines.size()) firstFailure = i;
    if (Contains(lines[i], ",0149001,u16,0,1,1,")) lastSuccess = i;
  }
  EXPECT_LT(firstFailure, lastSuccess) << result.out;
  EXPECT_EQ(lastSuccess, lines.size() - 1) << result.out;
}

TEST(ToldexPoll, ABackupServesWhenTheMasterIsDown) {
  Plant plant;
  plant.Add(1);
  plant.Add(2);
  plant.Start("BACKUP_1 = 2\n");
  plant.Station(1).Stop();
  const ProgramResult result = Toldex({"poll", "-v", "0149001", "01BACKUP", "$COMMFAILS:01", "$NUMSUCCESS:02"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0149001"), (std::vector<std::string>{"0149001", "u16", "ok", "2", "2 (" + plant.Endpoint(2) + ")"}))
      << result.out;
  EXPECT_EQ(Row(result.out, "01BACKUP").at(3), "1");
  EXPECT_EQ(Row(result.out, "$NUMSUCCESS:02").at(3), "1");
  EXPECT_TRUE(Contains(result.err, "[32] TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc")) << result.err;
  EXPECT_TRUE(Contains(result.err, "[32] TOLDEX: MasterBackupManagement(), Station qui va se connecter : 2")) << result.err;
}

TEST(ToldexPoll, TheSwitchGateSetsThePairAsAnOperatorWould) {
  Plant plant;
  plant.Add(1);
  plant.Add(2);
  plant.Start("BACKUP_1 = 2\n");
  ProgramResult result = Toldex({"poll", "--switch", "1=1", "0149001", "01BACKUP"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0149001").at(3), "2") << result.out;
  EXPECT_EQ(Row(result.out, "01BACKUP").at(3), "1") << result.out;
  // Over a run: to the backup after the first rounds, back to the master later.
  result = Toldex({"poll", "--interval", "0.2", "--duration", "3", "--switch", "1=1@0.5", "--switch", "1=0@1.5", "--csv",
                   "0149001"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  std::string stations;
  for (const std::string& line : SplitLines(result.out)) {
    if (Contains(line, ",0149001,u16,0,1,")) stations += "1";
    if (Contains(line, ",0149001,u16,0,2,")) stations += "2";
  }
  EXPECT_TRUE(Contains(stations, "12")) << stations;
  EXPECT_TRUE(Contains(stations, "21")) << stations;
  EXPECT_EQ(stations.front(), '1');
  EXPECT_EQ(stations.back(), '1');
}

TEST(ToldexPoll, VerboseShowsTheDriversLinesWithTheirLevels) {
  Plant plant;
  plant.Add(1);
  plant.Start();
  ProgramResult result = Toldex({"poll", "-v", "0140001"});
  EXPECT_TRUE(Contains(result.err, "[32] TOLDEX> version compiled on ")) << result.err;
  EXPECT_TRUE(Contains(result.err, "[32] TOLDEX: Initializing connections to all stations...")) << result.err;
  EXPECT_FALSE(Contains(result.err, "[8] ")) << result.err;
  result = Toldex({"poll", "-vv", "0140001"});
  EXPECT_TRUE(Contains(result.err, "[8] TolDEX : SingleRead() Tags for plc 1 is read from plc 1 sur ip : 127.0.0.1"))
      << result.err;
  result = Toldex({"poll", "0140001"});
  EXPECT_TRUE(result.err.empty()) << result.err;
}

TEST(ToldexWrite, WritesAndReadsBackEveryKind) {
  Plant plant;
  plcsim::Station& station = plant.Add(1);
  plant.Start();
  ProgramResult result = Toldex({"write", "0140010", "1234"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0140010"),
            (std::vector<std::string>{"0140010", "u16", "1234", "ok", "1234", "1 (" + plant.Endpoint(1) + ")"}));
  EXPECT_EQ(station.GetRegister(Area::kHoldingRegisters, 9), 1234);

  result = Toldex({"write", "0171001", "-12.75"});
  EXPECT_EQ(Row(result.out, "0171001").at(4), "-12.75") << result.out;
  EXPECT_EQ(plcsim::FloatFromBits(station.GetPair(Area::kHoldingRegisters, 1000)), -12.75f);

  result = Toldex({"write", "--type", "i32", "0182001", "-123456"});
  EXPECT_EQ(Row(result.out, "0182001").at(4), "-123456") << result.out;
  EXPECT_EQ(static_cast<int32_t>(station.GetPair(Area::kHoldingRegisters, 2000)), -123456);

  result = Toldex({"write", "01400110", "1"});  // bit 0 of register 10 (holds 10)
  EXPECT_EQ(Row(result.out, "01400110").at(4), "1") << result.out;
  EXPECT_EQ(station.GetRegister(Area::kHoldingRegisters, 10), 11);

  result = Toldex({"write", "01L0101", "0x55"});  // low byte of register 100 (holds 100 = 0x64)
  EXPECT_EQ(Row(result.out, "01L0101").at(4), "85") << result.out;
  EXPECT_EQ(station.GetRegister(Area::kHoldingRegisters, 100), 0x0055);

  result = Toldex({"write", "0100001", "on"});
  EXPECT_EQ(Row(result.out, "0100001").at(4), "1") << result.out;
  EXPECT_TRUE(station.GetBit(Area::kCoils, 0));

  result = Toldex({"write", "0140021", "7", "8", "9"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0140021").at(4), "7 8 9") << result.out;
  EXPECT_EQ(station.GetRegister(Area::kHoldingRegisters, 22), 9);

  result = Toldex({"write", "--block", "0100005", "1"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_TRUE(station.GetBit(Area::kCoils, 4));
}

TEST(ToldexWrite, RefusalsFailuresAndBadValues) {
  Plant plant;
  plant.Add(1);
  plant.Add(3);
  plant.Start();
  plant.Station(3).Stop();
  ProgramResult result = Toldex({"write", "0130001", "5"});
  EXPECT_EQ(result.exitCode, kExitRefused);
  EXPECT_EQ(Row(result.out, "0130001").at(3), "refused") << result.out;
  EXPECT_TRUE(Contains(result.out, "    [8] TOLDEX: SingleWrite() not allowed for types 1,3,5 and 6")) << result.out;

  result = Toldex({"write", "$NUMCOMMS:01", "5"});
  EXPECT_EQ(result.exitCode, kExitRefused);
  EXPECT_TRUE(Contains(result.out, "[32] TOLDEX: DoWrite() Writing not allowed to tag '$NUMCOMMS:01'")) << result.out;

  result = Toldex({"write", "0340001", "5"});
  EXPECT_EQ(result.exitCode, kExitCommFailure) << result.out;
  EXPECT_EQ(Row(result.out, "0340001").at(3), "comm failure") << result.out;
  EXPECT_TRUE(Contains(result.out, "[8] TOLDEX: DoWrite() Comms fail writing to tag '0340001'")) << result.out;

  result = Toldex({"write", "0140001", "70000"});
  EXPECT_EQ(result.exitCode, kExitUsage);
  EXPECT_EQ(SplitLines(result.err).at(0), "toldex: write: '70000' is no u16 value (0 to 65535)");

  result = Toldex({"write", "0140000", "1"});
  EXPECT_EQ(result.exitCode, kExitRefused);
  EXPECT_TRUE(Contains(result.out, "0140000: the driver refused the address")) << result.out;

  // A switch gate written through the driver is ignored, as the driver says.
  result = Toldex({"write", "01BACKUP", "1"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.out;
  EXPECT_TRUE(Contains(result.out, "[32] TOLDEX: SingleWrite, writing on Plc Switch Tag that has id")) << result.out;
  EXPECT_EQ(Row(result.out, "01BACKUP").at(4), "0") << result.out;
}

TEST(ToldexWrite, JsonForScripts) {
  Plant plant;
  plant.Add(1);
  plant.Start();
  const ProgramResult result = Toldex({"write", "--json", "0140010", "77"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(SplitLines(result.out).at(0),
            "{\"gate\":\"0140010\",\"type\":\"u16\",\"written\":77,\"status\":0,\"station\":1,\"address\":\"" +
                plant.Endpoint(1) + "\",\"readStatus\":0,\"readBack\":77,\"log\":[]}");
}

TEST(ToldexSim, ServesStationsAndWritesTheirInitialisationFile) {
  TempWorkDir folder;
  ProgramResult result = Toldex({"sim", "--station", "1=127.0.0.1", "--station", "2=127.0.0.1", "--backup", "1=2",
                                 "--ini", ".", "--duration", "0.2"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_TRUE(Contains(result.out, "station 1 listening on 127.0.0.1:")) << result.out;
  EXPECT_TRUE(Contains(result.out, "\nready\n")) << result.out;
  EXPECT_TRUE(Contains(result.out, "wrote ./TOLDEX01.INT")) << result.out;
  std::ifstream file(folder.path() / "TOLDEX01.INT");
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_TRUE(Contains(content.str(), "\n1 127.0.0.1 ")) << content.str();
  EXPECT_TRUE(Contains(content.str(), "\nBACKUP_1 = 2\n")) << content.str();

  result = Toldex({"sim", "--station", "7=127.0.0.1", "--ini", ".", "--driver", "7", "--run", "toldex", "poll", "--driver",
                   "7", "0749001"});
  EXPECT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  EXPECT_EQ(Row(result.out, "0749001").at(3), "7") << result.out;

  result = Toldex({"sim", "--station", "1=10.0.0.1"});
  EXPECT_EQ(result.exitCode, 69) << result.out << result.err;
  result = Toldex({"sim", "--bogus"});
  EXPECT_EQ(result.exitCode, kExitUsage) << result.out << result.err;
  result = Toldex({"sim", "--backup", "1=99"});
  EXPECT_EQ(result.exitCode, kExitUsage);
  EXPECT_EQ(SplitLines(result.err).at(0), "toldex: sim: --backup takes P=B with PLC numbers 1 to 64, not '1=99'");
}

TEST(ToldexDemo, RunsToItsEndWithTheFailoverSeen) {
  TempWorkDir folder;
  const ProgramResult result = Toldex({"demo", "--duration", "4"});
  ASSERT_EQ(result.exitCode, kExitOk) << result.out << result.err;
  // Not a terminal: plain successive frames, then the summary.
  EXPECT_EQ(result.out.find("\x1b["), std::string::npos);
  int frames = 0;
  for (const std::string& line : SplitLines(result.out)) frames += line.rfind("TOLDEX demo", 0) == 0 ? 1 : 0;
  EXPECT_GE(frames, 2) << result.out;
  EXPECT_TRUE(Contains(result.out, "Failover to the backup: seen. Back to the master: seen.")) << result.out;
  EXPECT_TRUE(Contains(result.out, "PLC 1 is served by station 2 (backup).")) << result.out;
  EXPECT_TRUE(Contains(result.out, "TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc")) << result.out;
  EXPECT_TRUE(Contains(result.out, "TOLDEX: MasterBackupManagement(), Switch from Backup to Master Plc")) << result.out;
  EXPECT_TRUE(result.err.empty()) << result.err;
}

}  // namespace
}  // namespace toldex

#endif  // TOLDEX_HAVE_PLCSIM
