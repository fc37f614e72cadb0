// The master/backup sequences of reads and writes with two simulated stations,
// PLC 3 served by station 3 as master and station 9 as backup, one of them
// stopped or silent: which station each pass goes to, the switch value and
// the pending flag afterwards, counters, online flags and report lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "access/value_codec.h"
#include "driver/instance.h"
#include "driver/shared_field.h"
#include "support/access_bench.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

using testing::AccessBench;
using testing::Bytes;
using testing::HoldingGate;
using testing::LogCapture;
using testing::MakeGate;

constexpr int kMaster = 3;
constexpr int kBackup = 9;
constexpr int32_t kShortTimeoutMs = 100;

const char kToBackup[] = "TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc";
const char kToMaster[] = "TOLDEX: MasterBackupManagement(), Switch from Backup to Master Plc";
const char kMasterUp[] = "TOLDEX: Master is up again.";

std::string StationLine(int station) {
  return "TOLDEX: MasterBackupManagement(), Station qui va se connecter : " + std::to_string(station);
}

// The report lines of the switching rules, in order.
std::vector<std::string> Reports(const LogCapture& log) {
  std::vector<std::string> reports;
  for (const auto& line : log.Lines()) {
    if (line.text == kToBackup || line.text == kToMaster || line.text == kMasterUp ||
        line.text.rfind("TOLDEX: MasterBackupManagement(), Station", 0) == 0) {
      reports.push_back(line.text);
    }
  }
  return reports;
}

class MasterBackup : public ::testing::Test {
 protected:
  MasterBackup() : bench_(kShortTimeoutMs) {
    bench_.AddStation(kMaster).SetHolding(9, 0x0003);
    bench_.AddStation(kBackup).SetHolding(9, 0x0009);
    bench_.Pair(kMaster, kBackup, 0.0);
  }

  InstanceRecord& record() { return bench_.record(); }
  StationRecord& station(int s) { return record().stations[s]; }
  double Value() { return LoadSwitchValue(record(), kMaster); }
  int32_t Pending() { return LoadShared(record().switchPending); }
  int32_t Read(int32_t plcNumber, uint16_t* value = nullptr) {
    uint8_t slot[4] = {};
    GateIo gate = MakeGate(plcNumber, 4, 9, -1, 16, 1, slot);
    const int32_t status = bench_.Call(kOpSingleRead, gate);
    if (value != nullptr) *value = LoadSlot16(slot);
    return status;
  }
  int32_t Write(int32_t op, uint16_t value) {
    uint8_t slot[4] = {};
    StoreSlot16(slot, value);
    GateIo gate = HoldingGate(kMaster, 9, slot);
    return bench_.Call(op, gate);
  }
  size_t Requests(int s) { return bench_.peer(s).RequestCount(); }

  AccessBench bench_;
};

TEST_F(MasterBackup, ReadFailsOnTheMasterAndSucceedsOnTheBackup) {
  bench_.Stop(kMaster);
  LogCapture log;
  uint16_t value = 0;
  ASSERT_EQ(Read(kMaster, &value), 0) << log.Dump();
  EXPECT_EQ(value, 0x0009);
  EXPECT_EQ(Value(), 1.0);
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kToBackup, StationLine(kBackup)}));
  EXPECT_EQ(station(kMaster).numComms, 4u);
  EXPECT_EQ(station(kMaster).numFails, 4u);
  EXPECT_EQ(station(kMaster).commFails, 0u);
  EXPECT_EQ(station(kMaster).online, 1);
  EXPECT_EQ(station(kBackup).numComms, 1u);
  EXPECT_EQ(station(kBackup).numSuccess, 1u);

  // The backup goes on serving, with no further report.
  log.Clear();
  ASSERT_EQ(Read(kMaster, &value), 0);
  EXPECT_EQ(value, 0x0009);
  EXPECT_TRUE(Reports(log).empty());
}

TEST_F(MasterBackup, ReadFailsOnBothStations) {
  bench_.Silence(kMaster);
  bench_.Silence(kBackup);
  LogCapture log;
  EXPECT_EQ(Read(kMaster), 2);
  EXPECT_EQ(Value(), 1.0);  // toggled three times
  EXPECT_EQ(Pending(), 1);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kToBackup, StationLine(kBackup), kToMaster,
                                                    StationLine(kMaster)}));
  // One pass on each, each of four attempts with one identifier; the second pass has a new one.
  ASSERT_TRUE(bench_.peer(kBackup).WaitForRequests(4));
  const auto master = bench_.peer(kMaster).Requests();
  const auto backup = bench_.peer(kBackup).Requests();
  ASSERT_EQ(master.size(), 4u);
  ASSERT_EQ(backup.size(), 4u);
  for (const Bytes& frame : master) EXPECT_EQ(frame[1], master[0][1]);
  for (const Bytes& frame : backup) EXPECT_EQ(frame[1], backup[0][1]);
  EXPECT_NE(master[0][1], backup[0][1]);
  EXPECT_EQ(master[0][6], kMaster);
  EXPECT_EQ(backup[0][6], kBackup);
  // The failure is booked on the master, selected again when the passes end.
  EXPECT_EQ(station(kMaster).numComms, 4u);
  EXPECT_EQ(station(kMaster).numFails, 4u);
  EXPECT_EQ(station(kMaster).commFails, 1u);
  EXPECT_EQ(station(kMaster).online, 0);
  EXPECT_EQ(station(kBackup).numComms, 4u);
  EXPECT_EQ(station(kBackup).numFails, 4u);
  EXPECT_EQ(station(kBackup).commFails, 0u);
  EXPECT_EQ(station(kBackup).online, 1);
  EXPECT_EQ(log.Count("TOLDEX: DoBlockRead() reading tag 'gate' Blocksize 1 failed rc = 2", 8), 1);
}

TEST_F(MasterBackup, WriteFailsOnBothStations) {
  for (int32_t op : {kOpSingleWrite, kOpBlockWrite}) {
    bench_.Stop(kMaster);
    bench_.Stop(kBackup);
    for (int s : {kMaster, kBackup}) {
      station(s).numComms = station(s).numFails = station(s).commFails = 0;
      station(s).online = 1;
    }
    StoreShared(record().switchPending, int32_t{0});
    LogCapture log;
    EXPECT_EQ(Write(op, 0x1234), 2);
    EXPECT_EQ(Value(), 0.0) << op;  // toggled twice
    EXPECT_EQ(Pending(), 1);
    EXPECT_TRUE(Reports(log).empty()) << log.Dump();
    for (int s : {kMaster, kBackup}) {
      EXPECT_EQ(station(s).numComms, 4u) << s;
      EXPECT_EQ(station(s).numFails, 7u) << s;
      EXPECT_EQ(station(s).commFails, 1u) << s;
      EXPECT_EQ(station(s).online, 0) << s;
    }
    EXPECT_EQ(log.Count("TOLDEX: DoWrite() Comms fail writing to tag 'gate'", 8), 2);
    EXPECT_EQ(log.Count("TOLDEX: SingleWrite() exited, rc= 2", 8), 1);

    // The next read of PLC 3 reports the pending switch.
    bench_.Restart(kMaster);
    bench_.Restart(kBackup);
    log.Clear();
    uint16_t value = 0;
    ASSERT_EQ(Read(kMaster, &value), 0);
    EXPECT_EQ(value, 0x0003);
    EXPECT_EQ(Reports(log), (std::vector<std::string>{kToMaster, StationLine(kMaster)}));
    EXPECT_EQ(Pending(), 0);
  }
}

TEST_F(MasterBackup, WriteFailsOnTheMasterAndSucceedsOnTheBackup) {
  bench_.Stop(kMaster);
  LogCapture log;
  EXPECT_EQ(Write(kOpSingleWrite, 0x5555), 0);
  EXPECT_EQ(bench_.bank(kBackup).Holding(9), 0x5555);
  EXPECT_EQ(Value(), 1.0);
  EXPECT_EQ(Pending(), 1);
  EXPECT_TRUE(Reports(log).empty()) << log.Dump();
  EXPECT_EQ(station(kMaster).commFails, 1u);
  EXPECT_EQ(station(kMaster).online, 0);
  EXPECT_EQ(station(kBackup).numSuccess, 1u);
  EXPECT_EQ(log.Count("TOLDEX: SingleWrite() exited, rc= 2"), 0);

  log.Clear();
  uint16_t value = 0;
  ASSERT_EQ(Read(kMaster, &value), 0);
  EXPECT_EQ(value, 0x5555);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kToBackup, StationLine(kBackup)}));
  EXPECT_EQ(Pending(), 0);
}

TEST_F(MasterBackup, TheHostSetsTheSwitchGate) {
  // What the notification thread stores when the host sets the switch gate to 1.
  StoreSwitchValue(record(), kMaster, 1.0);
  StoreShared(record().switchPending, int32_t{1});
  LogCapture log;
  uint16_t value = 0;
  ASSERT_EQ(Read(kMaster, &value), 0);
  EXPECT_EQ(value, 0x0009);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kToBackup, StationLine(kBackup)}));
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(Requests(kMaster), 0u);

  // Any value but 1.0 selects the master, with two passes; the first toggle makes it 0.0.
  StoreSwitchValue(record(), kMaster, 0.5);
  bench_.Stop(kBackup);
  bench_.Stop(kMaster);
  log.Clear();
  EXPECT_EQ(Read(kMaster), 2);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kToMaster, StationLine(kMaster), kToBackup,
                                                    StationLine(kBackup)}));
  EXPECT_EQ(Value(), 0.0);  // 0.5, 0.0, 1.0, then the failover
}

TEST_F(MasterBackup, AScrutGateFailsWhileTheMasterServes) {
  bench_.Stop(kMaster);
  LogCapture log;
  EXPECT_EQ(Read(200000 + kMaster), 2);
  EXPECT_EQ(Value(), 1.0);
  EXPECT_EQ(Pending(), 1);
  EXPECT_TRUE(Reports(log).empty());
  EXPECT_EQ(station(kMaster).numComms, 4u);  // one pass only
  EXPECT_EQ(station(kMaster).commFails, 1u);
  EXPECT_EQ(station(kMaster).online, 0);
  EXPECT_EQ(Requests(kBackup), 0u);

  log.Clear();
  uint16_t value = 0;
  ASSERT_EQ(Read(kMaster, &value), 0);
  EXPECT_EQ(value, 0x0009);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kToBackup, StationLine(kBackup)}));
}

TEST_F(MasterBackup, AScrutGateFailsWhileTheBackupServes) {
  StoreSwitchValue(record(), kMaster, 1.0);
  bench_.Stop(kMaster);
  LogCapture log;
  EXPECT_EQ(Read(200000 + kMaster), 2);
  EXPECT_EQ(Value(), 1.0);
  EXPECT_EQ(Pending(), 0);
  EXPECT_TRUE(Reports(log).empty());
  EXPECT_EQ(Requests(kBackup), 0u);
}

TEST_F(MasterBackup, AScrutReadSucceedsWhileTheMasterIsOffline) {
  StoreSwitchValue(record(), kMaster, 1.0);
  station(kMaster).online = 0;
  LogCapture log;
  uint16_t value = 0;
  ASSERT_EQ(Read(200000 + kMaster, &value), 0);
  EXPECT_EQ(value, 0x0003);
  EXPECT_EQ(Value(), 1.0);
  EXPECT_EQ(Pending(), 0);
  EXPECT_EQ(station(kMaster).online, 1);
  EXPECT_EQ(Reports(log), (std::vector<std::string>{kMasterUp, kToBackup, StationLine(kBackup)}));

  // Already online: nothing of the switching rules.
  log.Clear();
  ASSERT_EQ(Read(200000 + kMaster, &value), 0);
  EXPECT_TRUE(Reports(log).empty());
}

TEST_F(MasterBackup, ABitWriteFollowsItsRegisterReadToTheBackup) {
  bench_.Stop(kMaster);
  bench_.bank(kBackup).SetHolding(9, 0x00F0);
  uint8_t slot[4] = {};
  StoreSlot16(slot, 1);
  GateIo gate = MakeGate(kMaster, 4, 9, 2, 16, 1, slot);
  LogCapture log;
  ASSERT_EQ(bench_.Call(kOpSingleWrite, gate), 0) << log.Dump();
  EXPECT_EQ(bench_.bank(kBackup).Holding(9), 0x00F4);
  EXPECT_EQ(Value(), 1.0);
  EXPECT_EQ(Pending(), 0);
}

}  // namespace
}  // namespace toldex
