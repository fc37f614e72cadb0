// The master/backup rules on an instance set up directly: which station
// serves a PLC, how many passes a gate gets, the toggles, the reports.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "driver/instance.h"
#include "driver/shared_field.h"
#include "redundancy/switching.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

using testing::InstanceBlock;
using testing::LogCapture;
using testing::LogLine;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char kEntering[] = "TOLDEX: MasterBackupManagement(), entering function";
const char kCallerReadWriteLine[] =
    "TOLDEX: MasterBackupManagement(), caller is SingleRead or BlockRead, or SingleWrite or BlockWrite";
const char kCallerWarmLine[] = "TOLDEX: MasterBackupManagement(), caller is WarmStart";
const char kToBackup[] = "TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc";
const char kToMaster[] = "TOLDEX: MasterBackupManagement(), Switch from Backup to Master Plc";

std::string StationLine(int station) {
  return "TOLDEX: MasterBackupManagement(), Station qui va se connecter : " + std::to_string(station);
}

// An instance as a full start leaves it: no backups, every station online.
class Switching : public ::testing::Test {
 protected:
  Switching() {
    InitRuntimeState(record());
    for (BackupEntry& entry : record().backups) entry = BackupEntry{};
    for (StationRecord& station : record().stations) station.online = 1;
    gate_.address = "0140001";
    gate_.memoryType = 4;
    gate_.bitNumber = -1;
    gate_.bitWidth = 16;
    gate_.elementCount = 1;
    request_.instance = &record();
    request_.op = 5;
    request_.params = &gate_;
  }

  InstanceRecord& record() { return block_.record(); }
  DriverRequest* GateRequest(int32_t plcNumber) {
    gate_.plcNumber = plcNumber;
    request_.params = &gate_;
    return &request_;
  }
  void Pair(int plc, int backup, double value) {
    record().backups[plc].backupPlc = static_cast<uint16_t>(backup);
    StoreSwitchValue(record(), plc, value);
  }
  double Value(int plc) { return LoadSwitchValue(record(), plc); }
  int32_t Pending() { return LoadShared(record().switchPending); }

  InstanceBlock block_;
  GateIo gate_{};
  DriverRequest request_{};
};

void ExpectLines(const LogCapture& log, const std::vector<LogLine>& expected) {
  const auto lines = log.Lines();
  ASSERT_EQ(lines.size(), expected.size()) << log.Dump();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(lines[i].level, expected[i].level) << "line " << i << "\n" << log.Dump();
    EXPECT_EQ(lines[i].text, expected[i].text) << "line " << i;
  }
}

TEST_F(Switching, SelectStationFollowsTheSwitchValueOnlyWhenABackupExists) {
  struct Case {
    int backup;
    double value;
    int expected;
  };
  const Case cases[] = {
      {9, 1.0, 9},  {9, 0.0, 3},  {9, -0.0, 3}, {9, 0.5, 3}, {9, 2.0, 3},
      {9, -1.0, 3}, {9, kNaN, 3}, {0, 1.0, 3},  {0, 0.0, 3}, {0, 2.0, 3},
  };
  for (const Case& c : cases) {
    Pair(3, c.backup, c.value);
    EXPECT_EQ(SelectStation(record(), 3), c.expected) << "backup " << c.backup << " value " << c.value;
  }
}

TEST_F(Switching, PlcSixtyFourHasItsOwnEntry) {
  Pair(64, 2, 1.0);
  Pair(63, 5, 0.0);
  EXPECT_EQ(SelectStation(record(), 64), 2);
  EXPECT_EQ(SelectStation(record(), 63), 63);
  EXPECT_EQ(SelectStation(record(), 1), 1);
}

TEST_F(Switching, PassCountIsOneOnlyWithoutBackupAndWithZeroOrForScrutGates) {
  struct Case {
    int32_t plcNumber;
    int backup;
    double value;
    int expected;
  };
  const Case cases[] = {
      {3, 0, 0.0, 1},       {3, 0, -0.0, 1},      {3, 0, 1.0, 2},      {3, 0, 0.5, 2},
      {3, 0, kNaN, 2},      {3, 9, 0.0, 2},       {3, 9, 1.0, 2},      {200003, 9, 0.0, 1},
      {200003, 9, 1.0, 1},  {200003, 0, 2.0, 1},
  };
  for (const Case& c : cases) {
    Pair(3, c.backup, c.value);
    EXPECT_EQ(PassCount(record(), c.plcNumber), c.expected)
        << "plcNumber " << c.plcNumber << " backup " << c.backup << " value " << c.value;
  }
}

TEST_F(Switching, ToggleSwitchTurnsZeroIntoOneAndEverythingElseIntoZero) {
  struct Case {
    double before;
    double after;
  };
  const Case cases[] = {{0.0, 1.0}, {-0.0, 1.0}, {1.0, 0.0}, {0.5, 0.0}, {2.0, 0.0}, {-1.0, 0.0}, {kNaN, 0.0}};
  for (const Case& c : cases) {
    Pair(7, 8, c.before);
    ToggleSwitch(record(), 7);
    EXPECT_EQ(Value(7), c.after) << "before " << c.before;
  }
}

TEST_F(Switching, TogglesFromManyThreadsAreNeverLost) {
  Pair(5, 6, 0.0);
  constexpr int kThreads = 4;
  constexpr int kTogglesEach = 5001;  // odd per thread, even in all
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this] {
      for (int i = 0; i < kTogglesEach; ++i) ToggleSwitch(record(), 5);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(Value(5), 0.0);
}

TEST_F(Switching, ReportPendingSwitchReportsOnlyAPendingSwitchOfAPlcWithABackup) {
  LogCapture log;
  Pair(3, 9, 1.0);
  Pair(4, 0, 1.0);

  ReportPendingSwitch(GateRequest(3), 3);  // nothing pending
  EXPECT_TRUE(log.Lines().empty()) << log.Dump();

  StoreShared(record().switchPending, int32_t{1});
  ReportPendingSwitch(GateRequest(4), 4);  // no backup: nothing, still pending
  EXPECT_TRUE(log.Lines().empty()) << log.Dump();
  EXPECT_EQ(Pending(), 1);

  ReportPendingSwitch(GateRequest(3), 3);
  ExpectLines(log, {{8, kEntering}, {32, kCallerReadWriteLine}, {32, kToBackup}, {32, StationLine(9)}});
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(Value(3), 1.0);  // reported, not changed
}

TEST_F(Switching, MasterBackupManagementReportsTheStateTheSwitchHolds) {
  struct Case {
    double value;
    const char* line;
    int station;
  };
  const Case cases[] = {{1.0, kToBackup, 9}, {0.0, kToMaster, 3}, {0.5, kToMaster, 3}, {2.0, kToMaster, 3}};
  for (const Case& c : cases) {
    for (int32_t pending : {0, 1}) {
      LogCapture log;
      Pair(3, 9, c.value);
      StoreShared(record().switchPending, pending);
      EXPECT_EQ(MasterBackupManagement(GateRequest(3), kCallerReadWrite), 1);
      ExpectLines(log, {{8, kEntering}, {32, kCallerReadWriteLine}, {32, c.line}, {32, StationLine(c.station)}});
      EXPECT_EQ(Pending(), 0);
      EXPECT_EQ(Value(3), c.value);
    }
  }
}

TEST_F(Switching, MasterBackupManagementOfAScrutGateReportsItsStationsPlc) {
  LogCapture log;
  Pair(12, 40, 1.0);
  EXPECT_EQ(MasterBackupManagement(GateRequest(200012), kCallerReadWrite), 1);
  ExpectLines(log, {{8, kEntering}, {32, kCallerReadWriteLine}, {32, kToBackup}, {32, StationLine(40)}});
}

TEST_F(Switching, MasterBackupManagementForAWarmStartTakesThePlcOfItsParameters) {
  LogCapture log;
  Pair(6, 2, 0.0);
  WarmStartParams params{6};
  DriverRequest request{};
  request.instance = &record();
  request.op = 2;
  request.params = &params;
  StoreShared(record().switchPending, int32_t{1});
  EXPECT_EQ(MasterBackupManagement(&request, kCallerWarmStart), 1);
  ExpectLines(log, {{8, kEntering}, {32, kCallerWarmLine}, {32, kToMaster}, {32, StationLine(6)}});
  EXPECT_EQ(Pending(), 0);
}

TEST_F(Switching, AReportForAPlcWithoutBackupNamesItsOwnStation) {
  // A switch value of 1.0 without a backup leaves the PLC on its own station,
  // and the report says so rather than naming station 0.
  LogCapture log;
  Pair(4, 0, 1.0);
  MasterBackupManagement(GateRequest(4), kCallerReadWrite);
  ExpectLines(log, {{8, kEntering}, {32, kCallerReadWriteLine}, {32, kToMaster}, {32, StationLine(4)}});
}

TEST_F(Switching, FailOverOfAnOrdinaryGateTogglesAPlcWithABackup) {
  struct Case {
    int backup;
    double before;
    double after;
    int32_t pending;
  };
  const Case cases[] = {{9, 0.0, 1.0, 1}, {9, 1.0, 0.0, 1}, {9, 0.5, 0.0, 1}, {0, 0.0, 0.0, 0}, {0, 1.0, 1.0, 0}};
  for (const Case& c : cases) {
    LogCapture log;
    Pair(3, c.backup, c.before);
    StoreShared(record().switchPending, int32_t{0});
    FailOver(record(), 3);
    EXPECT_EQ(Value(3), c.after) << "backup " << c.backup << " before " << c.before;
    EXPECT_EQ(Pending(), c.pending);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
  }
}

TEST_F(Switching, FailOverOfAScrutGateHandsOnlyAMasterInUseToTheBackup) {
  struct Case {
    int backup;
    double before;
    double after;
    int32_t pending;
  };
  const Case cases[] = {{9, 0.0, 1.0, 1}, {9, -0.0, 1.0, 1}, {9, 1.0, 1.0, 0},
                        {9, 0.5, 0.5, 0}, {0, 0.0, 0.0, 0}};
  for (const Case& c : cases) {
    Pair(3, c.backup, c.before);
    StoreShared(record().switchPending, int32_t{0});
    FailOver(record(), 200003);
    EXPECT_EQ(Value(3), c.after) << "backup " << c.backup << " before " << c.before;
    EXPECT_EQ(Pending(), c.pending);
  }
}

TEST_F(Switching, FailOverIgnoresNumbersThatNameNoPlc) {
  for (int plc = 1; plc <= kPlcCount; ++plc) Pair(plc, 1, 0.0);
  for (int32_t number : {0, -1, 65, 1003, 100003, 200000, 200065, INT32_MAX, INT32_MIN}) {
    FailOver(record(), number);
  }
  for (int plc = 1; plc <= kPlcCount; ++plc) EXPECT_EQ(Value(plc), 0.0) << plc;
  EXPECT_EQ(Pending(), 0);
}

TEST_F(Switching, MasterUpCheckSetsAnOfflineStationOnlineAndReportsWhileTheBackupServes) {
  LogCapture log;
  Pair(3, 9, 1.0);
  record().stations[3].online = 1;
  MasterUpCheck(GateRequest(200003), 3);  // already online: nothing at all
  EXPECT_TRUE(log.Lines().empty()) << log.Dump();

  record().stations[3].online = 0;
  StoreShared(record().switchPending, int32_t{1});
  MasterUpCheck(GateRequest(200003), 3);
  EXPECT_EQ(record().stations[3].online, 1);
  ExpectLines(log, {{32, "TOLDEX: Master is up again."},
                    {8, kEntering},
                    {32, kCallerReadWriteLine},
                    {32, kToBackup},
                    {32, StationLine(9)}});
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(Value(3), 1.0);  // the backup goes on serving
}

TEST_F(Switching, MasterUpCheckWithTheMasterInUseOnlySetsTheStationOnline) {
  LogCapture log;
  for (double value : {0.0, 0.5}) {
    Pair(3, 9, value);
    record().stations[3].online = 0;
    MasterUpCheck(GateRequest(200003), 3);
    EXPECT_EQ(record().stations[3].online, 1);
  }
  Pair(3, 0, 1.0);  // no backup: the master was serving all along
  record().stations[3].online = 0;
  MasterUpCheck(GateRequest(200003), 3);
  EXPECT_EQ(record().stations[3].online, 1);
  EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST_F(Switching, OneInstancesReportLeavesAnotherInstancesPendingSwitch) {
  InstanceBlock other;
  InitRuntimeState(other.record());
  for (BackupEntry& entry : other.record().backups) entry = BackupEntry{};
  StoreShared(other.record().switchPending, int32_t{1});
  StoreShared(record().switchPending, int32_t{1});
  Pair(3, 9, 1.0);
  LogCapture log;
  ReportPendingSwitch(GateRequest(3), 3);
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(LoadShared(other.record().switchPending), 1);
}

}  // namespace
}  // namespace toldex
