// The driver's start and end through VpiMain with the host stand-in: ColdStart
// with its notification thread, WarmStart with the warm-start rule, EndVpi,
// and what a start leaves running (threads, sockets, events) at every end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "driver/host_records.h"
#include "driver/instance.h"
#include "driver/shared_field.h"
#include "driver/started_instances.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "qirpro.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"
#include "support/wait_for.h"

namespace toldex {
namespace {

using testing::AnswerNormally;
using testing::HangingListener;
using testing::InstanceBlock;
using testing::LogCapture;
using testing::ScriptedPeer;
using testing::TempWorkDir;
using testing::UnusedPort;
using testing::WaitFor;

constexpr char kLoopback[] = "127.0.0.1";

// What the driver and the test peers hold open in the process.
struct OpenCounts {
  int threads;
  int sockets;
  int events;
  static OpenCounts Now() {
    return OpenCounts{platform::ThreadRunningCount(), platform::SocketOpenCount(),
                      platform::EventOpenCount()};
  }
};

std::string StationLine(int station, uint16_t port) {
  return std::to_string(station) + " " + kLoopback + " " + std::to_string(port) + "\n";
}

// A peer that answers every request like a PLC.
std::unique_ptr<ScriptedPeer> AnsweringPeer() {
  auto peer = std::make_unique<ScriptedPeer>(kLoopback);
  peer->SetResponder(AnswerNormally());
  return peer;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { QirCtlReset(); }

  void TearDown() override {
    // No thread of the driver may outlive the block.
    if (IsStartedInstance(&record())) EndVpi();
    QirCtlReset();
  }

  InstanceRecord& record() { return block_.record(); }

  void WriteInitFile(const std::string& content) { dir_.WriteFile("TOLDEX01.INT", content); }

  int32_t ColdStart(int32_t startMode = 1, int32_t timeoutCs = 100) {
    params_ = ColdStartParams{};
    params_.startMode = startMode;
    params_.timeoutCs = timeoutCs;
    return block_.Call(kOpColdStart, &params_);
  }
  int32_t WarmStart(int32_t plcNumber) {
    WarmStartParams params{plcNumber};
    return block_.Call(kOpWarmStart, &params);
  }
  int32_t EndVpi() { return block_.Call(kOpEndVpi, nullptr); }
  int32_t ChangeTimeout(int32_t milliseconds) {
    ChangeParams params{};
    params.newTimeoutMs = milliseconds;
    return block_.Call(kOpChangeVpiParams, &params);
  }

  bool ThreadConnected() {
    return WaitFor([&] { return log_.Has("TOLDEX: Connected to QIRPRO", 32); });
  }

  TempWorkDir dir_;
  LogCapture log_;
  InstanceBlock block_;
  ColdStartParams params_{};
};

// --- ColdStart -------------------------------------------------------------------

TEST_F(Lifecycle, InstallOnlyStartAndEndTouchNothing) {
  const OpenCounts before = OpenCounts::Now();
  record().driverNumber = 0xBEEF;
  ASSERT_EQ(ColdStart(0), 0);
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 2u) << log_.Dump();
  EXPECT_EQ(lines[0].level, 32);
  EXPECT_TRUE(std::regex_match(
      lines[0].text,
      std::regex(R"(TOLDEX> version compiled on [A-Z][a-z]{2} [ 123]\d \d{4} at time \d{2}:\d{2}:\d{2})")))
      << lines[0].text;
  EXPECT_EQ(lines[1].text, "TOLDEX: Installing Driver...");
  EXPECT_EQ(lines[1].level, 32);
  EXPECT_EQ(record().started, 0);
  EXPECT_EQ(record().driverNumber, 1);
  // The tables keep what the host left in its block.
  EXPECT_EQ(static_cast<uint8_t>(record().stations[0].ip[0]), 0xA5);
  EXPECT_EQ(static_cast<uint16_t>(record().backups[3].backupPlc), 0xA5A5);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads);
  EXPECT_EQ(QirCtlClientCount(), 0);

  log_.Clear();
  EXPECT_EQ(EndVpi(), 0);
  const auto endLines = log_.Lines();
  ASSERT_EQ(endLines.size(), 1u) << log_.Dump();
  EXPECT_EQ(endLines[0].text, "TOLDEX: EndVpi() called. Driver installed...");
  EXPECT_EQ(endLines[0].level, 32);
  const OpenCounts after = OpenCounts::Now();
  EXPECT_EQ(after.sockets, before.sockets);
  EXPECT_EQ(after.events, before.events);
}

TEST_F(Lifecycle, TimeOutIsTenTimesTheCentisecondsAndAtLeastOneSecond) {
  struct Case {
    int32_t timeoutCs;
    int32_t timeoutMs;
  };
  const Case cases[] = {{50, 1000}, {-5, 1000}, {0, 1000}, {99, 1000},
                        {100, 1000}, {101, 1010}, {250, 2500}, {6000, 60000}};
  for (const Case& c : cases) {
    ASSERT_EQ(ColdStart(1, c.timeoutCs), 0);
    EXPECT_EQ(record().timeoutMs, c.timeoutMs) << "timeoutCs " << c.timeoutCs;
    EXPECT_EQ(EndVpi(), 0);
  }
}

TEST_F(Lifecycle, WithoutStationsOnlyTheStartLineIsLoggedAndNoEventMade) {
  WriteInitFile("; no stations here\nBUS=M,D\n");
  const OpenCounts before = OpenCounts::Now();
  params_.statusWord1 = 0x55;
  params_.statusWord2 = 0x55;
  ASSERT_EQ(ColdStart(), 0);
  EXPECT_EQ(params_.statusWord1, 0);
  EXPECT_EQ(params_.statusWord2, 0);
  EXPECT_TRUE(log_.Has("TOLDEX: Initializing connections to all stations...", 32));
  EXPECT_EQ(log_.CountContaining("connecting station"), 0) << log_.Dump();
  EXPECT_EQ(OpenCounts::Now().events, before.events);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads + 1);
  for (const StationRecord& station : record().stations) EXPECT_EQ(station.online, 1);
  EXPECT_EQ(record().started, 1);
  EXPECT_EQ(EndVpi(), 0);
}

TEST(LifecycleColdStart, EndsWithTheThreadStartedAndTheResult) {
  QirCtlReset();
  TempWorkDir dir;
  LogCapture log;
  InstanceBlock block(0x10203);  // a driver number wider than 16 bits
  ColdStartParams params{};
  params.startMode = 1;
  params.timeoutCs = 100;
  ASSERT_EQ(block.Call(kOpColdStart, &params), 0);
  ASSERT_TRUE(WaitFor([&] { return log.Has("TOLDEX: Connected to QIRPRO", 32); })) << log.Dump();
  EXPECT_EQ(block.record().driverNumber, 0x0203);
  EXPECT_EQ(block.record().notification.threadDriverNumber, 0x10203);
  EXPECT_EQ(LoadShared(block.record().switchPending), 0);
  const auto lines = log.Lines();
  int started = -1;
  int ended = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].text == "TOLDEX: Communication Thread started OK." && lines[i].level == 32) {
      started = static_cast<int>(i);
    }
    if (lines[i].text == "TOLDEX: ColdStart() ended rc = 0" && lines[i].level == 8) {
      ended = static_cast<int>(i);
    }
  }
  ASSERT_GE(started, 0) << log.Dump();
  ASSERT_GE(ended, 0) << log.Dump();
  EXPECT_LT(started, ended);
  EXPECT_EQ(QirCtlClientCount(), 1);
  EXPECT_EQ(block.Call(kOpEndVpi, nullptr), 0);
  QirCtlReset();
}

TEST_F(Lifecycle, AllStationsUnreachableStillStartsAndStartsTheThread) {
  const uint16_t ports[3] = {UnusedPort(), UnusedPort(), UnusedPort()};
  WriteInitFile(StationLine(1, ports[0]) + StationLine(7, ports[1]) + StationLine(64, ports[2]));
  const OpenCounts before = OpenCounts::Now();
  ASSERT_EQ(ColdStart(), 0);
  for (int s : {1, 7, 64}) {
    EXPECT_TRUE(log_.Has("TOLDEX: Connect Station failed, station: " + std::to_string(s) +
                             "  IP: 127.0.0.1, rc = 2",
                         32))
        << log_.Dump();
    EXPECT_EQ(record().stations[s].socket, platform::kNoSocket);
    EXPECT_EQ(record().stations[s].online, 1);
    EXPECT_NE(record().stations[s].hConnectSem, platform::kNoEvent);
  }
  EXPECT_TRUE(log_.Has("TOLDEX: Communication Thread started OK.", 32));
  EXPECT_EQ(OpenCounts::Now().events, before.events + 3);
  EXPECT_EQ(OpenCounts::Now().sockets, before.sockets);
  EXPECT_EQ(EndVpi(), 0);
  EXPECT_EQ(OpenCounts::Now().events, before.events);
}

// --- WarmStart -------------------------------------------------------------------

TEST_F(Lifecycle, WarmStartWithASwitchPendingReportsInsteadOfReconnecting) {
  auto master = AnsweringPeer();
  auto backup = AnsweringPeer();
  WriteInitFile(StationLine(1, master->port()) + StationLine(2, backup->port()) + "BACKUP_1 = 2\n");
  ASSERT_EQ(ColdStart(), 0);
  ASSERT_TRUE(WaitFor([&] { return master->ConnectionCount() == 1; }));
  const int32_t socketBefore = record().stations[1].socket;
  StoreShared(record().switchPending, 1);
  log_.Clear();

  EXPECT_EQ(WarmStart(1), 0);
  EXPECT_EQ(log_.CountContaining("WarmStart() called"), 0) << log_.Dump();
  EXPECT_TRUE(log_.Has("TOLDEX: MasterBackupManagement(), caller is WarmStart", 32)) << log_.Dump();
  EXPECT_TRUE(log_.Has("TOLDEX: MasterBackupManagement(), Station qui va se connecter : 1", 32));
  EXPECT_EQ(LoadShared(record().switchPending), 0);
  EXPECT_EQ(record().stations[1].socket, socketBefore);
  EXPECT_EQ(record().warmStartShadows[1].plcNumber, 0);

  // The flag is down now: the next warm start reconnects.
  log_.Clear();
  EXPECT_EQ(WarmStart(1), 0);
  EXPECT_TRUE(log_.Has("TOLDEX: WarmStart() called. Station 1 IP 127.0.0.1", 32)) << log_.Dump();
  EXPECT_TRUE(WaitFor([&] { return master->ConnectionCount() == 2; }));
  EXPECT_EQ(backup->ConnectionCount(), 1);
  EXPECT_EQ(EndVpi(), 0);
}

TEST_F(Lifecycle, OnlyTheFirstWarmStartOfAStationInitialisesItsShadow) {
  auto peer = AnsweringPeer();
  WriteInitFile(StationLine(1, peer->port()));
  ASSERT_EQ(ColdStart(), 0);
  log_.Clear();
  StoreShared(record().stations[1].online, 0);
  ASSERT_EQ(WarmStart(1), 0) << log_.Dump();
  EXPECT_EQ(record().warmStartShadows[1].plcNumber, 1);
  EXPECT_EQ(record().warmStartShadows[1].connectStation, 1);
  EXPECT_EQ(record().warmStartShadows[1].socket, platform::kNoSocket);
  ASSERT_EQ(WarmStart(1), 0) << log_.Dump();
  EXPECT_EQ(log_.Count("TOLDEX: WarmStart() Initialising structures for Station 1 IP 127.0.0.1", 32), 1)
      << log_.Dump();
  EXPECT_EQ(log_.Count("TOLDEX: WarmStart() called. Station 1 IP 127.0.0.1", 32), 2);
  const std::string pass = "TOLDEX: WarmStart() ConnectStation pass, station: 1  IP: 127.0.0.1, socket = " +
                           std::to_string(record().stations[1].socket);
  EXPECT_TRUE(log_.Has(pass, 32)) << log_.Dump();
  EXPECT_EQ(record().stations[1].online, 1);
  EXPECT_NE(record().stations[1].socket, platform::kNoSocket);

  // A new full start makes the shadows anew: the first warm start after it initialises again.
  ASSERT_EQ(ColdStart(), 0);
  log_.Clear();
  ASSERT_EQ(WarmStart(1), 0);
  EXPECT_EQ(log_.Count("TOLDEX: WarmStart() Initialising structures for Station 1 IP 127.0.0.1", 32), 1);
  EXPECT_EQ(EndVpi(), 0);
}

TEST_F(Lifecycle, WarmStartOfAScrutNumberSetsTheMasterBack) {
  auto master = AnsweringPeer();
  auto backup = AnsweringPeer();
  WriteInitFile(StationLine(3, master->port()) + StationLine(4, backup->port()) + "BACKUP_3 = 4\n");
  ASSERT_EQ(ColdStart(), 0);
  StoreSwitchValue(record(), 3, 1.0);
  StoreShared(record().stations[3].online, 0);
  // A pending switch does not hold up a _SCRUT number.
  StoreShared(record().switchPending, 1);
  log_.Clear();
  ASSERT_EQ(WarmStart(200003), 0) << log_.Dump();
  EXPECT_EQ(LoadSwitchValue(record(), 3), 0.0);
  EXPECT_EQ(LoadShared(record().switchPending), 1);
  EXPECT_EQ(record().stations[3].online, 1);
  EXPECT_EQ(record().warmStartShadows[3].plcNumber, 200003);
  EXPECT_EQ(log_.CountContaining("MasterBackupManagement"), 0) << log_.Dump();
  EXPECT_TRUE(log_.Has("TOLDEX: WarmStart() called. Station 3 IP 127.0.0.1", 32));

  StoreShared(record().switchPending, 0);
  StoreSwitchValue(record(), 3, 1.0);
  ASSERT_EQ(WarmStart(200004), 0) << log_.Dump();
  EXPECT_EQ(LoadSwitchValue(record(), 4), 0.0);
  EXPECT_EQ(LoadSwitchValue(record(), 3), 1.0);
  EXPECT_EQ(LoadShared(record().switchPending), 1);
  EXPECT_EQ(EndVpi(), 0);
}

TEST_F(Lifecycle, WarmStartOfAScrutStationBeyondThePlcsChangesNoBackupEntry) {
  auto peer70 = AnsweringPeer();
  auto peer0 = AnsweringPeer();
  WriteInitFile(StationLine(70, peer70->port()) + StationLine(0, peer0->port()));
  ASSERT_EQ(ColdStart(), 0);
  for (int plc = 0; plc < kBackupEntryCount; ++plc) StoreSwitchValue(record(), plc, 1.0);
  for (int32_t number : {200070, 200000}) {
    ASSERT_EQ(WarmStart(number), 0) << log_.Dump();
    for (int plc = 0; plc < kBackupEntryCount; ++plc) EXPECT_EQ(LoadSwitchValue(record(), plc), 1.0);
    EXPECT_EQ(LoadShared(record().switchPending), 0);
  }
  EXPECT_EQ(EndVpi(), 0);
}

TEST_F(Lifecycle, WarmStartOfNumbersThatNameNoStationTouchesNothing) {
  auto peer = AnsweringPeer();
  WriteInitFile(StationLine(1, peer->port()) + "BACKUP_1 = 2\n");
  ASSERT_EQ(ColdStart(), 0);
  ASSERT_TRUE(ThreadConnected());
  StoreShared(record().switchPending, 1);
  // Everything a warm start could change.
  const auto bytesOf = [](const auto& field) {
    const auto* first = reinterpret_cast<const uint8_t*>(&field);
    return std::vector<uint8_t>(first, first + sizeof field);
  };
  const auto stations = bytesOf(record().stations);
  const auto backups = bytesOf(record().backups);
  const auto shadows = bytesOf(record().warmStartShadows);
  log_.Clear();
  for (int32_t number : {0, -1, -200001, 65, 100001, 199999, 200256, 300000, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(WarmStart(number), 1) << number;
  }
  EXPECT_TRUE(log_.Lines().empty()) << log_.Dump();
  EXPECT_EQ(bytesOf(record().stations), stations);
  EXPECT_EQ(bytesOf(record().backups), backups);
  EXPECT_EQ(bytesOf(record().warmStartShadows), shadows);
  EXPECT_EQ(LoadShared(record().switchPending), 1);
  EXPECT_EQ(EndVpi(), 0);
}

TEST_F(Lifecycle, WarmStartOfAStationWithoutAddressSucceedsWithoutConnecting) {
  WriteInitFile("");
  ASSERT_EQ(ColdStart(), 0);
  const OpenCounts before = OpenCounts::Now();
  log_.Clear();
  EXPECT_EQ(WarmStart(5), 0);
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 3u) << log_.Dump();
  EXPECT_EQ(lines[0].text, "TOLDEX: WarmStart() called. Station 5 IP ");
  EXPECT_EQ(lines[1].text, "TOLDEX: WarmStart() Initialising structures for Station 5 IP ");
  EXPECT_EQ(lines[2].text, "TOLDEX: WarmStart() No IP Address defined for Station 5");
  EXPECT_EQ(OpenCounts::Now().sockets, before.sockets);
  EXPECT_EQ(EndVpi(), 0);
}

TEST_F(Lifecycle, AFailedReconnectHandsAPlcWithABackupToTheOtherStation) {
  struct Case {
    int32_t plcNumber;
    double before;
    double after;  // of PLC 1
    int32_t pending;
  };
  const Case cases[] = {
      {1, 0.0, 1.0, 1},       // master in use: over to the backup
      {1, 1.0, 0.0, 1},       // backup in use: back to the master
      {1, 0.5, 0.0, 1},       // anything but 0.0 counts as the backup side
      {200001, 0.0, 0.0, 0},  // a _SCRUT number never switches
  };
  WriteInitFile(StationLine(1, UnusedPort()) + StationLine(2, UnusedPort()) + StationLine(3, UnusedPort()) +
                "BACKUP_1 = 2\n");
  ASSERT_EQ(ColdStart(), 0);
  for (const Case& c : cases) {
    StoreSwitchValue(record(), 1, c.before);
    StoreShared(record().switchPending, 0);
    log_.Clear();
    EXPECT_EQ(WarmStart(c.plcNumber), 1) << log_.Dump();
    EXPECT_TRUE(log_.Has("TOLDEX: WarmStart() Connect Station failed, station: 1  IP: 127.0.0.1, rc = 1", 32))
        << log_.Dump();
    EXPECT_EQ(LoadSwitchValue(record(), 1), c.after) << c.plcNumber << " from " << c.before;
    EXPECT_EQ(LoadShared(record().switchPending), c.pending);
  }
  // PLC 3 has no backup: nothing switches.
  StoreShared(record().switchPending, 0);
  EXPECT_EQ(WarmStart(3), 1);
  EXPECT_EQ(LoadSwitchValue(record(), 3), 0.0);
  EXPECT_EQ(LoadShared(record().switchPending), 0);
  EXPECT_EQ(EndVpi(), 0);
}

// --- EndVpi and what is left afterwards --------------------------------------------

TEST_F(Lifecycle, EndVpiClosesEverySocketAndEventAndEndsTheThread) {
  const OpenCounts clean = OpenCounts::Now();
  {
    auto peers = std::vector<std::unique_ptr<ScriptedPeer>>();
    for (int i = 0; i < 3; ++i) peers.push_back(AnsweringPeer());
    WriteInitFile(StationLine(0, peers[0]->port()) + StationLine(9, peers[1]->port()) +
                  StationLine(200, peers[2]->port()));
    const OpenCounts before = OpenCounts::Now();
    ASSERT_EQ(ColdStart(), 0);
    ASSERT_TRUE(ThreadConnected());
    EXPECT_EQ(OpenCounts::Now().threads, before.threads + 1);
    EXPECT_EQ(OpenCounts::Now().events, before.events + 3);
    const int32_t sockets[3] = {record().stations[0].socket, record().stations[9].socket,
                                record().stations[200].socket};
    for (int32_t socket : sockets) ASSERT_NE(socket, platform::kNoSocket);

    log_.Clear();
    EXPECT_EQ(EndVpi(), 0);
    const auto lines = log_.Lines();
    std::vector<std::string> closing;
    for (const auto& line : lines) {
      if (line.text.rfind("TOLDEX: EndVpi() Closing Socket ", 0) == 0) closing.push_back(line.text);
    }
    ASSERT_EQ(closing.size(), 3u) << log_.Dump();
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(closing[i], "TOLDEX: EndVpi() Closing Socket " + std::to_string(sockets[i]));
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().text, "TOLDEX: EndVpi()");
    EXPECT_EQ(lines.back().level, 8);
    // Checked, not assumed: the thread is gone and unregistered.
    EXPECT_EQ(OpenCounts::Now().threads, before.threads);
    EXPECT_EQ(OpenCounts::Now().events, before.events);
    EXPECT_EQ(QirCtlClientCount(), 0);
    for (int s : {0, 9, 200}) {
      EXPECT_EQ(record().stations[s].socket, platform::kNoSocket);
      EXPECT_EQ(record().stations[s].hConnectSem, platform::kNoEvent);
    }
    EXPECT_EQ(record().started, 1);
  }
  const OpenCounts after = OpenCounts::Now();
  EXPECT_EQ(after.threads, clean.threads);
  EXPECT_EQ(after.sockets, clean.sockets);
  EXPECT_EQ(after.events, clean.events);
}

TEST_F(Lifecycle, ASecondEndVpiClosesNothing) {
  auto peer = AnsweringPeer();
  WriteInitFile(StationLine(1, peer->port()));
  ASSERT_EQ(ColdStart(), 0);
  EXPECT_EQ(EndVpi(), 0);
  log_.Clear();
  EXPECT_EQ(EndVpi(), 0);
  const auto lines = log_.Lines();
  ASSERT_EQ(lines.size(), 1u) << log_.Dump();
  EXPECT_EQ(lines[0].text, "TOLDEX: EndVpi()");
}

TEST_F(Lifecycle, AWarmStartOfAnInstanceThatIsNotRunningStartsNothing) {
  auto peer = AnsweringPeer();
  WriteInitFile(StationLine(1, peer->port()));
  const OpenCounts before = OpenCounts::Now();
  ASSERT_EQ(ColdStart(), 0);
  ASSERT_TRUE(WaitFor([&] { return peer->ConnectionCount() == 1; }));
  ASSERT_EQ(EndVpi(), 0);
  // The peer closes its end of the connection when it sees the driver's close.
  ASSERT_TRUE(WaitFor([&] { return OpenCounts::Now().sockets == before.sockets; }));
  const OpenCounts ended = OpenCounts::Now();
  log_.Clear();
  EXPECT_EQ(WarmStart(1), 1);
  EXPECT_EQ(WarmStart(200001), 1);
  EXPECT_EQ(log_.Count("TOLDEX: WarmStart() refused, the driver is not running", 32), 2) << log_.Dump();
  EXPECT_EQ(log_.Lines().size(), 2u) << log_.Dump();
  EXPECT_EQ(OpenCounts::Now().threads, ended.threads);
  EXPECT_EQ(OpenCounts::Now().sockets, ended.sockets);
  EXPECT_EQ(record().stations[1].socket, platform::kNoSocket);
  EXPECT_EQ(peer->ConnectionCount(), 1);

  // Installed only: nothing to reconnect either.
  ASSERT_EQ(ColdStart(0), 0);
  EXPECT_EQ(WarmStart(1), 1);
  EXPECT_EQ(OpenCounts::Now().threads, ended.threads);
}

TEST_F(Lifecycle, EndVpiEndsAWarmConnectThatIsStillHanging) {
  const OpenCounts clean = OpenCounts::Now();
  {
    HangingListener hanging(kLoopback);
    WriteInitFile(StationLine(1, hanging.port()));
    const OpenCounts before = OpenCounts::Now();
    ASSERT_EQ(ColdStart(), 0);  // the cold connect runs into its one-second time-out
    // Warm connects made from now on would wait a minute on their own.
    ChangeTimeout(60000);
    log_.Clear();
    EXPECT_EQ(WarmStart(1), 1);
    ASSERT_TRUE(log_.Has(
        "TOLDEX> VpiTcpSocketManagementWarmStart() error, time-out waiting for mutex semaphore, plcAddr : 1", 8))
        << log_.Dump();
    EXPECT_EQ(OpenCounts::Now().threads, before.threads + 2);  // notification and connect
    const uint64_t start = platform::MonotonicMilliseconds();
    EXPECT_EQ(EndVpi(), 0);
    // Ended, not waited out: far sooner than the connect's own minute.
    EXPECT_LT(platform::MonotonicMilliseconds() - start, 30000u);
    const OpenCounts after = OpenCounts::Now();
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.sockets, before.sockets);
    EXPECT_EQ(after.events, before.events);
  }
  EXPECT_EQ(OpenCounts::Now().sockets, clean.sockets);
}

TEST_F(Lifecycle, ASecondColdStartWithoutEndVpiLeavesOneOfEverything) {
  const OpenCounts clean = OpenCounts::Now();
  {
    auto first = AnsweringPeer();
    auto second = AnsweringPeer();
    WriteInitFile(StationLine(1, first->port()) + StationLine(2, second->port()));
    const OpenCounts before = OpenCounts::Now();
    ASSERT_EQ(ColdStart(), 0);
    ASSERT_TRUE(ThreadConnected());
    const int32_t oldSocket = record().stations[1].socket;
    log_.Clear();
    ASSERT_EQ(ColdStart(), 0);
    EXPECT_TRUE(log_.Has("TOLDEX: ColdStart() instance still running, closing it first", 32)) << log_.Dump();
    EXPECT_TRUE(log_.Has("TOLDEX: EndVpi() Closing Socket " + std::to_string(oldSocket), 32));
    ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Connected to QIRPRO"); }));
    EXPECT_EQ(OpenCounts::Now().threads, before.threads + 1);
    EXPECT_EQ(OpenCounts::Now().events, before.events + 2);
    EXPECT_EQ(QirCtlClientCount(), 1);
    EXPECT_TRUE(WaitFor([&] { return first->ConnectionCount() == 2 && second->ConnectionCount() == 2; }));

    // And a third, with a warm connect hanging on a station that hangs.
    HangingListener hanging(kLoopback);
    WriteInitFile(StationLine(1, first->port()) + StationLine(5, hanging.port()));
    ASSERT_EQ(ColdStart(), 0);
    ChangeTimeout(60000);
    EXPECT_EQ(WarmStart(5), 1);
    ASSERT_EQ(ColdStart(), 0);
    EXPECT_EQ(OpenCounts::Now().threads, before.threads + 1);
    EXPECT_EQ(OpenCounts::Now().events, before.events + 2);
    EXPECT_EQ(EndVpi(), 0);
    EXPECT_EQ(OpenCounts::Now().threads, before.threads);
    EXPECT_EQ(OpenCounts::Now().events, before.events);
    EXPECT_EQ(QirCtlClientCount(), 0);
  }
  const OpenCounts after = OpenCounts::Now();
  EXPECT_EQ(after.threads, clean.threads);
  EXPECT_EQ(after.sockets, clean.sockets);
  EXPECT_EQ(after.events, clean.events);
}

TEST_F(Lifecycle, AnInstallOnlyStartOfARunningInstanceEndsItFirst) {
  auto peer = AnsweringPeer();
  WriteInitFile(StationLine(1, peer->port()));
  const OpenCounts before = OpenCounts::Now();
  ASSERT_EQ(ColdStart(), 0);
  ASSERT_EQ(ColdStart(0), 0);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads);
  EXPECT_EQ(OpenCounts::Now().events, before.events);
  EXPECT_EQ(QirCtlClientCount(), 0);
  log_.Clear();
  EXPECT_EQ(EndVpi(), 0);
  EXPECT_TRUE(log_.Has("TOLDEX: EndVpi() called. Driver installed..."));
}

TEST_F(Lifecycle, TheHostsShutDownEndsTheThreadAndEndVpiStillEndsCleanly) {
  WriteInitFile("");
  const OpenCounts before = OpenCounts::Now();
  ASSERT_EQ(ColdStart(), 0);
  ASSERT_TRUE(ThreadConnected());
  QirCtlShutdown();
  ASSERT_TRUE(WaitFor([&] { return OpenCounts::Now().threads == before.threads; }));
  EXPECT_TRUE(log_.Has("TOLDEX: Addon TOLDEX:  receive QIR_SHUT_DOWN message", 32));
  EXPECT_EQ(EndVpi(), 0);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads);
}

TEST(LifecycleInstances, TwoInstancesStartAndEndIndependently) {
  QirCtlReset();
  TempWorkDir dir;
  LogCapture log;
  auto peer = AnsweringPeer();
  dir.WriteFile("TOLDEX01.INT", StationLine(1, peer->port()));
  dir.WriteFile("TOLDEX02.INT", StationLine(1, peer->port()));
  const OpenCounts before = OpenCounts::Now();
  InstanceBlock first(1);
  InstanceBlock second(2);
  ColdStartParams params{};
  params.startMode = 1;
  params.timeoutCs = 100;
  ASSERT_EQ(first.Call(kOpColdStart, &params), 0);
  ASSERT_EQ(second.Call(kOpColdStart, &params), 0);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads + 2);
  ASSERT_TRUE(WaitFor([] { return QirCtlClientCount() == 2; }));
  EXPECT_EQ(first.Call(kOpEndVpi, nullptr), 0);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads + 1);
  EXPECT_EQ(QirCtlClientCount(), 1);
  EXPECT_NE(second.record().stations[1].socket, platform::kNoSocket);
  EXPECT_EQ(second.Call(kOpEndVpi, nullptr), 0);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads);
  EXPECT_EQ(OpenCounts::Now().events, before.events);
  QirCtlReset();
}

TEST(LifecycleInstances, AFullStartBeyondTheRunningInstancesItCanEndIsRefused) {
  QirCtlReset();
  TempWorkDir dir;
  const OpenCounts before = OpenCounts::Now();
  std::vector<std::unique_ptr<InstanceBlock>> blocks;
  ColdStartParams params{};
  params.startMode = 1;
  params.timeoutCs = 100;
  for (int i = 0; i < kMaxRunningInstances; ++i) {
    blocks.push_back(std::make_unique<InstanceBlock>(1));
    ASSERT_EQ(blocks.back()->Call(kOpColdStart, &params), 0) << i;
  }
  EXPECT_EQ(OpenCounts::Now().threads, before.threads + kMaxRunningInstances);
  {
    LogCapture log;
    InstanceBlock refused(1);
    EXPECT_EQ(refused.Call(kOpColdStart, &params), 1);
    EXPECT_TRUE(log.Has("TOLDEX: ColdStart() refused, 64 driver instances are running already", 32)) << log.Dump();
    EXPECT_EQ(log.CountContaining("Initializing connections"), 0);
    EXPECT_EQ(OpenCounts::Now().threads, before.threads + kMaxRunningInstances);
    // A started instance may start again: it keeps its place.
    EXPECT_EQ(blocks.front()->Call(kOpColdStart, &params), 0);
    // Once one has ended there is room again.
    EXPECT_EQ(blocks.back()->Call(kOpEndVpi, nullptr), 0);
    EXPECT_EQ(refused.Call(kOpColdStart, &params), 0);
    EXPECT_EQ(refused.Call(kOpEndVpi, nullptr), 0);
  }
  for (auto& block : blocks) block->Call(kOpEndVpi, nullptr);
  EXPECT_EQ(OpenCounts::Now().threads, before.threads);
  QirCtlReset();
}

}  // namespace
}  // namespace toldex
