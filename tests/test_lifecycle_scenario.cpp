// The driver from the host's start to its end against simulated PLCs: a cold
// start with three stations and a backup pair, gates parsed, the host's
// switch gate moving PLC 1 to its backup, a station stopped and brought back
// through WarmStart, and EndVpi leaving no thread of the driver behind.
#include <gtest/gtest.h>

#if TOLDEX_HAVE_PLCSIM

#include <cstdint>
#include <string>

#include "driver/host_records.h"
#include "driver/instance.h"
#include "driver/shared_field.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "plcsim/simulator.h"
#include "qirpro.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "support/wait_for.h"

namespace toldex {
namespace {

using testing::InstanceBlock;
using testing::LogCapture;
using testing::TempWorkDir;
using testing::WaitFor;

constexpr int32_t kDriverNumber = 1;
constexpr int32_t kGateTypeUnsigned16 = 0;
constexpr int32_t kGateTypeDigital = 6;
// Holding register 9001 of a PLC: the simulator keeps the station's own
// number there, so a value read tells which station served it.
constexpr char kPlc1Gate[] = "0149001";
constexpr char kPlc3Gate[] = "0349001";
constexpr char kPlc1SwitchGate[] = "01BACKUP";

uint16_t Slot16(const uint8_t* slot) { return static_cast<uint16_t>(slot[2] | (slot[3] << 8)); }

// A gate as the host keeps it: the parsed address, its id and its value slot.
struct HostGate {
  GateAddress parsed{};
  int32_t gateId = 0;
  uint8_t slot[4] = {};
};

class Host {
 public:
  explicit Host(InstanceBlock& block) : block_(block) {}

  int32_t Parse(HostGate& gate, const char* text, int32_t gateType) {
    gate.parsed = GateAddress{};
    gate.parsed.address = text;
    gate.parsed.gateType = gateType;
    gate.gateId = QirCtlDefineGate(kDriverNumber, text);
    return block_.Call(kOpSingleAddressParser, &gate.parsed);
  }

  // Reads the gate into its slot; the value read, or -1 with the status in `status`.
  int32_t Read(HostGate& gate, int32_t* status = nullptr) {
    GateIo io{};
    io.address = gate.parsed.address;
    io.plcNumber = gate.parsed.plcNumber;
    io.memoryType = gate.parsed.memoryType;
    io.registerAddress = gate.parsed.registerAddress;
    io.bitNumber = gate.parsed.bitNumber;
    io.bitWidth = gate.parsed.bitWidth;
    io.elementCount = 1;
    io.gateId = gate.gateId;
    io.value = gate.slot;
    const int32_t result = block_.Call(kOpSingleRead, &io);
    if (status != nullptr) *status = result;
    return result == kStatusOk ? Slot16(gate.slot) : -1;
  }

  int32_t WarmStart(int32_t plcNumber) {
    WarmStartParams params{plcNumber};
    return block_.Call(kOpWarmStart, &params);
  }

 private:
  InstanceBlock& block_;
};

std::string StationLine(int number, const plcsim::Station& station) {
  return std::to_string(number) + " " + station.Address() + " " + std::to_string(station.Port()) + "\n";
}

plcsim::StationConfig LoopbackStation(int number) {
  plcsim::StationConfig config;
  config.number = number;
  config.address = "127.0.0.1";
  return config;
}

uint64_t RequestsOf(const plcsim::Station& station) { return station.Counters().requestsReceived; }

TEST(LifecycleScenario, FromColdStartThroughASwitchAndAReconnectToEndVpi) {
  QirCtlReset();
  TempWorkDir dir;
  LogCapture log;
  plcsim::Simulator simulator;
  plcsim::Station& master = simulator.AddStation(LoopbackStation(1));
  plcsim::Station& backup = simulator.AddStation(LoopbackStation(2));
  plcsim::Station& third = simulator.AddStation(LoopbackStation(3));
  std::string error;
  ASSERT_TRUE(simulator.StartAll(&error)) << error;
  dir.WriteFile("TOLDEX01.INT", "BUS=M,D\n" + StationLine(1, master) + StationLine(2, backup) +
                                    StationLine(3, third) + "BACKUP_1 = 2\n");

  const int threadsBefore = platform::ThreadRunningCount();
  const int socketsBefore = platform::SocketOpenCount();
  const int eventsBefore = platform::EventOpenCount();
  InstanceBlock block(kDriverNumber);
  Host host(block);

  // Cold start: three stations connected, the thread started and registered.
  ColdStartParams start{};
  start.startMode = 1;
  start.timeoutCs = 100;
  ASSERT_EQ(block.Call(kOpColdStart, &start), 0) << log.Dump();
  for (int s : {1, 2, 3}) EXPECT_NE(LoadShared(block.record().stations[s].socket), platform::kNoSocket) << s;
  EXPECT_EQ(block.record().backups[1].backupPlc, 2);
  EXPECT_EQ(platform::ThreadRunningCount(), threadsBefore + 1);
  ASSERT_TRUE(WaitFor([] { return QirCtlClientCount() == 1; }));

  // The host parses its gates; the switch gate goes to the thread, which
  // registers it with the host.
  HostGate plc1;
  HostGate plc3;
  HostGate switch1;
  ASSERT_EQ(host.Parse(plc1, kPlc1Gate, kGateTypeUnsigned16), 0) << log.Dump();
  EXPECT_EQ(plc1.parsed.plcNumber, 1);
  EXPECT_EQ(plc1.parsed.memoryType, 4);
  EXPECT_EQ(plc1.parsed.registerAddress, 9000);
  ASSERT_EQ(host.Parse(plc3, kPlc3Gate, kGateTypeUnsigned16), 0) << log.Dump();
  ASSERT_EQ(host.Parse(switch1, kPlc1SwitchGate, kGateTypeDigital), 0) << log.Dump();
  EXPECT_EQ(switch1.parsed.plcNumber, 100001);
  ASSERT_TRUE(WaitFor([&] { return LoadShared(block.record().backups[1].switchGateId) == switch1.gateId; }))
      << log.Dump();
  ASSERT_TRUE(WaitFor([&] { return log.Has("TOLDEX: Setup message notification for 01BACKUP gate OK.", 32); }));

  // PLC 1 is served by its own station.
  EXPECT_EQ(host.Read(plc1), 1) << log.Dump();
  EXPECT_EQ(host.Read(switch1), 0);
  EXPECT_EQ(host.Read(plc3), 3);

  // The host sets the switch gate to 1: the next read of PLC 1 goes to the backup.
  ASSERT_EQ(QirCtlPostGateValue(switch1.gateId, 1.0), 0);
  ASSERT_TRUE(WaitFor([&] { return LoadSwitchValue(block.record(), 1) == 1.0; })) << log.Dump();
  EXPECT_TRUE(log.Has("TOLDEX: Driver will switch to Plc Backup for Plc 1", 32));
  EXPECT_EQ(host.Read(switch1), 1);
  const uint64_t masterRequests = RequestsOf(master);
  const uint64_t backupRequests = RequestsOf(backup);
  EXPECT_EQ(host.Read(plc1), 2) << log.Dump();
  EXPECT_EQ(RequestsOf(master), masterRequests);
  EXPECT_EQ(RequestsOf(backup), backupRequests + 1);
  EXPECT_TRUE(log.Has("TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc", 32));
  EXPECT_TRUE(log.Has("TOLDEX: MasterBackupManagement(), Station qui va se connecter : 2", 32));
  EXPECT_EQ(LoadShared(block.record().switchPending), 0);

  // Station 3 stops: its reads fail and it cannot be reconnected...
  third.Stop();
  int32_t status = 0;
  EXPECT_EQ(host.Read(plc3, &status), -1);
  EXPECT_EQ(status, kStatusCommFailure);
  EXPECT_NE(host.WarmStart(3), 0);
  // ...until it is back.
  ASSERT_TRUE(third.Start()) << third.LastError();
  log.Clear();
  EXPECT_EQ(host.WarmStart(3), 0) << log.Dump();
  EXPECT_TRUE(log.Has("TOLDEX: WarmStart() ConnectStation pass, station: 3  IP: 127.0.0.1, socket = " +
                          std::to_string(LoadShared(block.record().stations[3].socket)),
                      32))
      << log.Dump();
  EXPECT_EQ(host.Read(plc3), 3) << log.Dump();
  EXPECT_EQ(block.record().stations[3].online, 1);

  // The end: no thread, socket or event of the driver is left, and the thread
  // has unregistered from the host.
  EXPECT_EQ(block.Call(kOpEndVpi, nullptr), 0);
  EXPECT_EQ(platform::ThreadRunningCount(), threadsBefore);
  EXPECT_EQ(platform::SocketOpenCount(), socketsBefore);
  EXPECT_EQ(platform::EventOpenCount(), eventsBefore);
  EXPECT_EQ(QirCtlClientCount(), 0);
  // The host may change its gates now; nothing of the driver listens or writes.
  QirCtlPostGateValue(switch1.gateId, 0.0);
  platform::SleepMilliseconds(200);
  EXPECT_EQ(LoadSwitchValue(block.record(), 1), 1.0);
  QirCtlReset();
}

}  // namespace
}  // namespace toldex

#endif  // TOLDEX_HAVE_PLCSIM
