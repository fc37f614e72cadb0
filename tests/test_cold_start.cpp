// ColdStart up to the connected stations, and InitConnections.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "driver/cold_start.h"
#include "driver/instance.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"
#include "support/station_setup.h"
#include "transport/exchange.h"

namespace toldex {
namespace {

using testing::InstanceBlock;
using testing::LogCapture;
using testing::LogLine;
using testing::ScriptedPeer;
using testing::TempWorkDir;

// The notification thread that ColdStart starts logs its first line when it
// gets to run, which may be after ColdStart's own last line.
LogLine LastLineOfColdStart(const std::vector<LogLine>& lines) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    if (line->text != "TOLDEX: Connected to QIRPRO") return *line;
  }
  return {};
}

const std::regex kBuildLine(
    "TOLDEX> version compiled on [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} at time "
    "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]");

TEST(ColdStart, InstallOnlyLogsTwoLinesAndTouchesNoTable) {
  TempWorkDir dir;
  InstanceBlock block(7);
  LogCapture log;
  ColdStartParams params{};
  params.startMode = 0;
  params.timeoutCs = 500;
  params.statusWord1 = 11;
  EXPECT_EQ(block.Call(kOpColdStart, &params), 0);
  const std::vector<LogLine> lines = log.Lines();
  ASSERT_EQ(lines.size(), 2u) << log.Dump();
  EXPECT_EQ(lines[0].level, 32);
  EXPECT_TRUE(std::regex_match(lines[0].text, kBuildLine)) << lines[0].text;
  EXPECT_EQ(lines[1].level, 32);
  EXPECT_EQ(lines[1].text, "TOLDEX: Installing Driver...");

  const InstanceRecord& record = block.record();
  EXPECT_EQ(record.started, 0);
  EXPECT_EQ(record.driverNumber, 7);
  EXPECT_EQ(params.statusWord1, 11);
  // The host's bytes are still there: no table was reset.
  const auto* station = reinterpret_cast<const unsigned char*>(&record.stations[0]);
  EXPECT_EQ(station[0], 0xA5);
  const auto* backup = reinterpret_cast<const unsigned char*>(&record.backups[1]);
  EXPECT_EQ(backup[0], 0xA5);
  EXPECT_EQ(static_cast<unsigned char>(record.protocol), 0xA5);
  EXPECT_NE(record.timeoutMs, 5000);
}

TEST(ColdStart, TimeOutIsTenTimesTheCentisecondsAndAtLeastOneSecond) {
  struct Case {
    int32_t timeoutCs;
    int32_t timeoutMs;
  };
  const Case cases[] = {{50, 1000},   {-5, 1000},      {0, 1000},         {99, 1000},
                        {100, 1000},  {101, 1010},     {250, 2500},       {INT32_MIN, 1000},
                        {214748364, 2147483640}, {214748365, INT32_MAX}, {INT32_MAX, INT32_MAX}};
  for (const Case& c : cases) {
    EXPECT_EQ(TimeoutMsFromCentiseconds(c.timeoutCs), c.timeoutMs) << c.timeoutCs;
  }
}

class FullColdStart : public ::testing::Test {
 protected:
  void TearDown() override { testing::CloseInstance(block_.record()); }
  TempWorkDir dir_;
  InstanceBlock block_{1};
  LogCapture log_;
};

TEST_F(FullColdStart, WithoutStationsSetsDefaultsAndConnectsNothing) {
  const int eventsBefore = platform::EventOpenCount();
  ColdStartParams params{};
  params.startMode = 1;
  params.timeoutCs = 250;
  params.statusWord1 = 7;
  params.statusWord2 = 9;
  EXPECT_EQ(block_.Call(kOpColdStart, &params), 0) << log_.Dump();

  const InstanceRecord& record = block_.record();
  EXPECT_EQ(record.started, 1);
  EXPECT_EQ(record.protocol, 'M');
  EXPECT_EQ(record.base, 'D');
  EXPECT_EQ(record.timeoutMs, 2500);
  EXPECT_EQ(params.statusWord1, 0);
  EXPECT_EQ(params.statusWord2, 0);
  for (int s = 0; s < kStationCount; ++s) {
    EXPECT_EQ(record.stations[s].online, 1) << s;
    EXPECT_EQ(record.stations[s].socket, -1) << s;
    EXPECT_EQ(record.warmStartShadows[s].plcNumber, 0) << s;
    EXPECT_EQ(record.warmStartShadows[s].socket, -1) << s;
    EXPECT_EQ(record.warmStartShadows[s].connectInProgress, 0) << s;
  }
  EXPECT_EQ(platform::EventOpenCount(), eventsBefore);

  const std::vector<LogLine> lines = log_.Lines();
  ASSERT_GE(lines.size(), 3u) << log_.Dump();
  EXPECT_TRUE(std::regex_match(lines.front().text, kBuildLine));
  EXPECT_EQ(log_.Count("TOLDEX: Initializing connections to all stations...", 32), 1);
  EXPECT_EQ(log_.CountContaining("connecting station"), 0);
  EXPECT_EQ(LastLineOfColdStart(lines).text, "TOLDEX: ColdStart() ended rc = 0");
  EXPECT_EQ(LastLineOfColdStart(lines).level, 8);
}

TEST_F(FullColdStart, InitConnectionsConnectsEveryConfiguredStationInTurn) {
  ScriptedPeer first("127.0.0.1");
  ScriptedPeer last("127.0.0.2");
  InstanceRecord& record = block_.record();
  testing::PrepareInstance(record, 1000);
  record.driverNumber = 3;
  auto configure = [&](int s, const char* ip, uint16_t port) {
    std::snprintf(record.stations[s].ip, kIpTextSize, "%s", ip);
    record.stations[s].port = port;
    record.stations[s].socket = 12345;  // whatever was there is forgotten, not closed
  };
  configure(0, "127.0.0.1", first.port());
  configure(5, "127.0.0.1", testing::UnusedPort());
  configure(255, "127.0.0.2", last.port());
  const int eventsBefore = platform::EventOpenCount();

  ColdStartParams params{};
  params.startMode = 1;
  params.statusWord1 = 3;
  DriverRequest request{};
  request.instance = &record;
  request.op = kOpColdStart;
  request.driverNumber = 3;
  request.params = &params;
  log_.Clear();
  EXPECT_EQ(InitConnections(&request), 0);
  EXPECT_EQ(params.statusWord1, 0);

  EXPECT_NE(record.stations[0].socket, -1);
  EXPECT_EQ(record.stations[5].socket, -1);
  EXPECT_NE(record.stations[255].socket, -1);
  EXPECT_EQ(platform::EventOpenCount(), eventsBefore + 3);
  for (int s : {0, 5, 255}) {
    EXPECT_NE(record.stations[s].hConnectSem, platform::kNoEvent) << s;
    EXPECT_EQ(record.stations[s].connectInProgress, 0);
  }
  EXPECT_EQ(record.stations[1].hConnectSem, platform::kNoEvent);

  // The station lines of the cold start, in order.
  std::vector<std::string> coldStartLines;
  for (const LogLine& line : log_.Lines()) {
    if (line.level == 32 && (line.text.find("TOLDEX: ColdStart()") == 0 ||
                             line.text.find("TOLDEX: Connect") == 0 ||
                             line.text.find("TOLDEX: Initializing") == 0)) {
      coldStartLines.push_back(line.text);
    }
  }
  const std::vector<std::string> expected = {
      "TOLDEX: Initializing connections to all stations...",
      "TOLDEX: ColdStart() connecting station 0",
      "TOLDEX: ConnectStation pass, station: 0  IP: 127.0.0.1, socket = " +
          std::to_string(record.stations[0].socket),
      "TOLDEX: ColdStart() connecting station 5",
      "TOLDEX: ConnectTcpEx(), WSAGetLastError() returned 10061",
      "TOLDEX: Connect fail, error = 10061",
      "TOLDEX: Connect Station failed, station: 5  IP: 127.0.0.1, rc = 2",
      "TOLDEX: ColdStart() connecting station 255",
      "TOLDEX: ConnectStation pass, station: 255  IP: 127.0.0.2, socket = " +
          std::to_string(record.stations[255].socket),
  };
  EXPECT_EQ(coldStartLines, expected) << log_.Dump();
}

TEST_F(FullColdStart, ReadsTheFileAndConnectsItsStations) {
  ScriptedPeer master("127.0.0.1");
  ScriptedPeer backup("127.0.0.2");
  master.SetResponder(testing::AnswerNormally());
  backup.SetResponder(testing::AnswerNormally());
  const uint16_t nobody = testing::UnusedPort();
  dir_.WriteFile("TOLDEX01.INT",
                 "BUS=M,D\n"
                 "RECEIVED_FRAMES_CHECKING = NO\n"
                 "; stations\n"
                 "1 127.0.0.1 " + std::to_string(master.port()) + "\n"
                 "2 127 . 0 . 0 . 2, " + std::to_string(backup.port()) + ", 7\n"
                 "9 127.0.0.1 " + std::to_string(nobody) + "\n"
                 "BACKUP_1 = 2\n");
  const int eventsBefore = platform::EventOpenCount();
  ColdStartParams params{};
  params.startMode = 1;
  params.timeoutCs = 50;
  EXPECT_EQ(block_.Call(kOpColdStart, &params), 0) << log_.Dump();

  const InstanceRecord& record = block_.record();
  EXPECT_EQ(record.timeoutMs, 1000);
  EXPECT_EQ(record.receivedFramesChecking, 0);
  EXPECT_EQ(record.backups[1].backupPlc, 2);
  EXPECT_STREQ(record.stations[2].ip, "127.0.0.2");
  EXPECT_EQ(record.stations[2].force_address, 7);
  EXPECT_NE(record.stations[1].socket, -1);
  EXPECT_NE(record.stations[2].socket, -1);
  EXPECT_EQ(record.stations[9].socket, -1);
  EXPECT_EQ(platform::EventOpenCount(), eventsBefore + 3);
  for (int s = 0; s < kStationCount; ++s) EXPECT_EQ(record.stations[s].online, 1) << s;
  EXPECT_EQ(log_.Count("TOLDEX: ConnectStation pass, station: 1  IP: 127.0.0.1, socket = " +
                           std::to_string(record.stations[1].socket),
                       32),
            1)
      << log_.Dump();
  EXPECT_EQ(log_.Count("TOLDEX: Connect Station failed, station: 9  IP: 127.0.0.1, rc = 2", 32), 1);
  EXPECT_EQ(LastLineOfColdStart(log_.Lines()).text, "TOLDEX: ColdStart() ended rc = 0");

  // Both connections carry exchanges.
  for (int s : {1, 2}) {
    const uint8_t request[] = {static_cast<uint8_t>(s), 3, 0, 9, 0, 1};
    uint8_t frame[kMaxFrameSize];
    int length = sizeof request;
    BuildTcpFrame(request, &length, frame);
    ExchangeResult result;
    VpiTcpSendRcv(block_.record(), s, frame, length, Flavour::kRead, "0140010", 1, result);
    EXPECT_EQ(result.status, 0) << s << "\n" << log_.Dump();
  }
}

TEST_F(FullColdStart, UnreachableStationsStillEndWithZero) {
  std::string file;
  for (int s = 1; s <= 3; ++s) {
    file += std::to_string(s) + " 127.0.0.1 " + std::to_string(testing::UnusedPort()) + "\n";
  }
  dir_.WriteFile("TOLDEX01.INT", file);
  ColdStartParams params{};
  params.startMode = 1;
  EXPECT_EQ(block_.Call(kOpColdStart, &params), 0);
  EXPECT_EQ(log_.CountContaining("TOLDEX: Connect Station failed, station: "), 3) << log_.Dump();
  for (int s = 1; s <= 3; ++s) {
    EXPECT_EQ(block_.record().stations[s].socket, -1);
    EXPECT_EQ(block_.record().stations[s].online, 1);
    EXPECT_NE(block_.record().stations[s].hConnectSem, platform::kNoEvent);
  }
}

}  // namespace
}  // namespace toldex
