// The host library stand-in through its C interface: the client registry, the
// gate table, subscriptions, the message queue and its wait, the shut-down,
// and where log lines go.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "qirpro.h"
#include "support/driver_fixture.h"

namespace {

constexpr uint16_t kNoClientError = 2;
constexpr uint16_t kNoGateError = 3;
constexpr uint16_t kTooManyClientsError = 4;
constexpr int kMaxClients = 255;

class HostStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    QirCtlReset();
    QirCtlLogToNowhere();
    QirCtlSetLogLevel(0);
  }
  void TearDown() override {
    QirCtlReset();
    QirCtlLogToNowhere();
    QirCtlSetLogLevel(0);
  }

  static uint8_t NewClient(const char* name = "test") {
    uint8_t id = 0;
    EXPECT_EQ(QirMkClient(name, 1, 0, &id), 0);
    return id;
  }
};

// --- client registry -------------------------------------------------------

TEST_F(HostStandIn, ClientsGetTheLowestFreeIdFromOne) {
  EXPECT_EQ(QirCtlClientCount(), 0);
  EXPECT_EQ(NewClient(), 1);
  EXPECT_EQ(NewClient(), 2);
  EXPECT_EQ(NewClient(), 3);
  EXPECT_EQ(QirRmClient(2), 0);
  EXPECT_EQ(QirCtlClientCount(), 2);
  EXPECT_EQ(NewClient(), 2);
  EXPECT_EQ(QirCtlClientCount(), 3);
}

TEST_F(HostStandIn, RemovingAnUnknownClientFails) {
  EXPECT_EQ(QirRmClient(1), kNoClientError);
  const uint8_t id = NewClient();
  EXPECT_EQ(QirRmClient(id), 0);
  EXPECT_EQ(QirRmClient(id), kNoClientError);
}

TEST_F(HostStandIn, AtMost255ClientsAtOnce) {
  for (int i = 1; i <= kMaxClients; ++i) ASSERT_EQ(NewClient(), i);
  uint8_t id = 0;
  EXPECT_EQ(QirMkClient("one too many", 1, 0, &id), kTooManyClientsError);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(QirCtlClientCount(), kMaxClients);
}

TEST_F(HostStandIn, InjectedFailuresAreReturnedUntilCleared) {
  uint8_t id = 0;
  QirCtlSetFailure("QirMkClient", 17);
  EXPECT_EQ(QirMkClient("x", 1, 0, &id), 17);
  EXPECT_EQ(QirCtlClientCount(), 0);
  QirCtlSetFailure("QirMkClient", 0);
  id = NewClient();
  const int32_t gate = QirCtlDefineGate(1, "G");
  int32_t found = 0;
  QirCtlSetFailure("QirGetGateIdByAddressStr", 18);
  EXPECT_EQ(QirGetGateIdByAddressStr(id, 1, "G", &found), 18);
  EXPECT_EQ(found, 0);
  QirCtlSetFailure("QirRqGateMsg", 19);
  int32_t gates[1] = {gate};
  EXPECT_EQ(QirRqGateMsg(id, 1, gates, 1), 19);
  EXPECT_EQ(QirCtlSubscriptionCount(id), 0);
  // A failing removal still removes: the client is gone either way.
  QirCtlSetFailure("QirRmClient", 20);
  EXPECT_EQ(QirRmClient(id), 20);
  EXPECT_EQ(QirCtlClientCount(), 0);
  QirCtlSetFailure(nullptr, 5);  // no function named: ignored
  QirCtlReset();                 // clears every injected failure
  id = NewClient();
  EXPECT_EQ(QirRmClient(id), 0);
}

TEST_F(HostStandIn, VersionIs820UnlessSetAndResetRestoresIt) {
  const uint8_t id = NewClient();
  uint16_t version = 0;
  char text[100];
  EXPECT_EQ(QirGetQirproVer(id, &version, text), 0);
  EXPECT_EQ(version, 820);
  QirCtlSetVersion(700);
  EXPECT_EQ(QirGetQirproVer(id, &version, text), 0);
  EXPECT_EQ(version, 700);
  QirCtlReset();
  EXPECT_EQ(QirGetQirproVer(id, &version, nullptr), 0);
  EXPECT_EQ(version, 820);
}

// --- gate table --------------------------------------------------------------

TEST_F(HostStandIn, GatesAreNumberedFromOnePerDriverNumberAndAddressIgnoringCase) {
  EXPECT_EQ(QirCtlDefineGate(1, "05BACKUP"), 1);
  EXPECT_EQ(QirCtlDefineGate(1, "0140010"), 2);
  EXPECT_EQ(QirCtlDefineGate(1, "05backup"), 1);
  EXPECT_EQ(QirCtlDefineGate(2, "05BACKUP"), 3);
  const uint8_t id = NewClient();
  struct Case {
    uint8_t driverNumber;
    const char* address;
    uint16_t result;
    int32_t gateId;
  };
  const Case cases[] = {
      {1, "05BACKUP", 0, 1}, {1, "05Backup", 0, 1}, {2, "05backup", 0, 3},
      {1, "0140010", 0, 2},  {2, "0140010", kNoGateError, -7}, {3, "05BACKUP", kNoGateError, -7},
      {1, "", kNoGateError, -7},
  };
  for (const Case& c : cases) {
    int32_t gateId = -7;
    EXPECT_EQ(QirGetGateIdByAddressStr(id, c.driverNumber, c.address, &gateId), c.result) << c.address;
    EXPECT_EQ(gateId, c.gateId) << c.address;
  }
  int32_t gateId = -7;
  EXPECT_EQ(QirGetGateIdByAddressStr(static_cast<uint8_t>(id + 1), 1, "05BACKUP", &gateId), kNoClientError);
  EXPECT_EQ(gateId, -7);
}

// --- subscriptions and the queue --------------------------------------------

TEST_F(HostStandIn, AChangeReachesOnlyTheSubscribedClientsInOrder) {
  const int32_t a = QirCtlDefineGate(1, "A");
  const int32_t b = QirCtlDefineGate(1, "B");
  const uint8_t first = NewClient();
  const uint8_t second = NewClient();
  int32_t gates[2] = {a, b};
  ASSERT_EQ(QirRqGateMsg(first, 1, gates, 2), 0);
  ASSERT_EQ(QirRqGateMsg(second, 1, &gates[1], 1), 0);
  ASSERT_EQ(QirRqGateMsg(second, 1, &gates[1], 1), 0);  // twice is once
  EXPECT_EQ(QirCtlSubscriptionCount(first), 2);
  EXPECT_EQ(QirCtlSubscriptionCount(second), 1);

  QirCtlPostGateValue(a, 1.5);
  QirCtlPostGateValue(b, -2.25);
  QirMessage message{};
  ASSERT_EQ(QirWaitMsg(first, &message, 0), QIR_WAIT_MESSAGE);
  EXPECT_EQ(message.kind, 1);
  EXPECT_EQ(message.gateId, a);
  EXPECT_EQ(message.value, 1.5);
  ASSERT_EQ(QirWaitMsg(first, &message, 0), QIR_WAIT_MESSAGE);
  EXPECT_EQ(message.gateId, b);
  EXPECT_EQ(message.value, -2.25);
  EXPECT_EQ(QirWaitMsg(first, &message, 0), QIR_WAIT_NOTHING);
  ASSERT_EQ(QirWaitMsg(second, &message, 0), QIR_WAIT_MESSAGE);
  EXPECT_EQ(message.gateId, b);
  EXPECT_EQ(QirWaitMsg(second, &message, 0), QIR_WAIT_NOTHING);
}

TEST_F(HostStandIn, ASubscriptionWithAnUnknownGateSubscribesNothing) {
  const int32_t a = QirCtlDefineGate(1, "A");
  const uint8_t id = NewClient();
  int32_t gates[3] = {a, 0, 99};
  EXPECT_EQ(QirRqGateMsg(id, 1, gates, 3), kNoGateError);
  EXPECT_EQ(QirCtlSubscriptionCount(id), 0);
  EXPECT_EQ(QirRqGateMsg(static_cast<uint8_t>(id + 1), 1, gates, 1), kNoClientError);
}

TEST_F(HostStandIn, PostedMessagesOfAnyKindReachEveryClient) {
  const uint8_t first = NewClient();
  const uint8_t second = NewClient();
  QirCtlPostMessage(9, 0, 3.0);
  for (uint8_t id : {first, second}) {
    QirMessage message{};
    ASSERT_EQ(QirWaitMsg(id, &message, 0), QIR_WAIT_MESSAGE);
    EXPECT_EQ(message.kind, 9);
    EXPECT_EQ(message.gateId, 0);
    EXPECT_EQ(message.value, 3.0);
  }
}

TEST_F(HostStandIn, AWaitWithNothingQueuedRunsOutAndLeavesTheRecordAlone) {
  const uint8_t id = NewClient();
  QirMessage message{};
  message.gateId = 1234;
  EXPECT_EQ(QirWaitMsg(id, &message, 0), QIR_WAIT_NOTHING);
  EXPECT_EQ(QirWaitMsg(id, &message, 20), QIR_WAIT_NOTHING);
  EXPECT_EQ(QirWaitMsg(id, &message, -5), QIR_WAIT_NOTHING);
  EXPECT_EQ(QirWaitMsg(static_cast<uint8_t>(id + 1), &message, 20), QIR_WAIT_NOTHING);
  EXPECT_EQ(message.gateId, 1234);
}

struct PostLater {
  int32_t gateId;
  bool shutdown;
};

void PostAfterAWhile(void* argument) {
  const auto* post = static_cast<PostLater*>(argument);
  toldex::platform::SleepMilliseconds(50);
  if (post->shutdown) {
    QirCtlShutdown();
  } else {
    QirCtlPostGateValue(post->gateId, 8.0);
  }
}

TEST_F(HostStandIn, AWaitingClientWakesWhenItsMessageArrives) {
  const int32_t gate = QirCtlDefineGate(1, "A");
  const uint8_t id = NewClient();
  ASSERT_EQ(QirRqGateMsg(id, 1, const_cast<int32_t*>(&gate), 1), 0);
  PostLater post{gate, false};
  auto thread = toldex::platform::ThreadStart(PostAfterAWhile, &post);
  ASSERT_NE(thread, toldex::platform::kNoThread);
  QirMessage message{};
  // A long wait: it must end with the message, not run out.
  EXPECT_EQ(QirWaitMsg(id, &message, 60000), QIR_WAIT_MESSAGE);
  EXPECT_EQ(message.value, 8.0);
  toldex::platform::ThreadJoin(thread);
}

TEST_F(HostStandIn, ShutDownWakesAWaiterAndEveryLaterWaitUntilReset) {
  const uint8_t id = NewClient();
  PostLater post{0, true};
  auto thread = toldex::platform::ThreadStart(PostAfterAWhile, &post);
  ASSERT_NE(thread, toldex::platform::kNoThread);
  QirMessage message{};
  EXPECT_EQ(QirWaitMsg(id, &message, 60000), QIR_WAIT_SHUTDOWN);
  toldex::platform::ThreadJoin(thread);
  QirCtlPostMessage(1, 1, 1.0);
  EXPECT_EQ(QirWaitMsg(id, &message, 0), QIR_WAIT_SHUTDOWN);
  EXPECT_EQ(QirWaitMsg(static_cast<uint8_t>(id + 1), &message, 0), QIR_WAIT_SHUTDOWN);
  QirCtlReset();
  EXPECT_EQ(QirCtlClientCount(), 0);
  const uint8_t again = NewClient();
  EXPECT_EQ(QirWaitMsg(again, &message, 0), QIR_WAIT_NOTHING);
}

TEST_F(HostStandIn, ResetForgetsClientsGatesAndMessages) {
  const uint8_t id = NewClient();
  QirCtlDefineGate(1, "A");
  QirCtlPostMessage(1, 1, 1.0);
  QirCtlReset();
  EXPECT_EQ(QirCtlClientCount(), 0);
  EXPECT_EQ(QirCtlDefineGate(1, "B"), 1);
  EXPECT_EQ(NewClient(), id);
  QirMessage message{};
  EXPECT_EQ(QirWaitMsg(id, &message, 0), QIR_WAIT_NOTHING);
}

// --- logging -------------------------------------------------------------------

struct Received {
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> lines;
};

void Collect(void* context, int level, const char* line) {
  auto* received = static_cast<Received*>(context);
  std::lock_guard<std::mutex> guard(received->mutex);
  received->lines.emplace_back(level, line);
}

TEST_F(HostStandIn, LogLinesAreFormattedAndHandedOverWithTheirLevel) {
  Received received;
  QirCtlLogToCallback(Collect, &received);
  err(32, "TOLDEX: station %d IP %s, value %.2f", 7, "127.0.0.10", 1.5);
  err(8, "plain");
  ASSERT_EQ(received.lines.size(), 2u);
  EXPECT_EQ(received.lines[0].first, 32);
  EXPECT_EQ(received.lines[0].second, "TOLDEX: station 7 IP 127.0.0.10, value 1.50");
  EXPECT_EQ(received.lines[1].first, 8);
  EXPECT_EQ(received.lines[1].second, "plain");
  QirCtlLogToNowhere();
  err(32, "dropped");
  EXPECT_EQ(received.lines.size(), 2u);
}

TEST_F(HostStandIn, LinesBelowTheThresholdAreDroppedUnformatted) {
  Received received;
  QirCtlLogToCallback(Collect, &received);
  QirCtlSetLogLevel(32);
  // Formatting this line would read through a bad pointer: it must not be formatted.
  err(8, "%s", reinterpret_cast<const char*>(static_cast<uintptr_t>(1)));
  err(32, "kept %d", 32);
  err(33, "kept %d", 33);
  ASSERT_EQ(received.lines.size(), 2u);
  EXPECT_EQ(received.lines[0].second, "kept 32");
  EXPECT_EQ(received.lines[1].second, "kept 33");
  QirCtlReset();  // keeps routing and threshold
  err(8, "still dropped");
  err(32, "still kept");
  ASSERT_EQ(received.lines.size(), 3u);
  EXPECT_EQ(received.lines[2].second, "still kept");
}

TEST_F(HostStandIn, FileLinesCarryATimeStampAndTheLevelAndAreAppended) {
  toldex::testing::TempWorkDir dir;
  const std::filesystem::path path = dir.path() / "host.log";
  {
    std::ofstream earlier(path);
    earlier << "earlier line\n";
  }
  ASSERT_EQ(QirCtlLogToFile(path.string().c_str()), 0);
  err(32, "TOLDEX: first %d", 1);
  err(8, "TOLDEX: second");
  QirCtlLogToNowhere();  // closes the file
  err(32, "not in the file");

  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
  const std::regex stamped(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[(\d+)\] (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[1], match, stamped)) << lines[1];
  EXPECT_EQ(match[1], "32");
  EXPECT_EQ(match[2], "TOLDEX: first 1");
  ASSERT_TRUE(std::regex_match(lines[2], match, stamped)) << lines[2];
  EXPECT_EQ(match[1], "8");
  EXPECT_EQ(match[2], "TOLDEX: second");
}

TEST_F(HostStandIn, AFileThatCannotBeOpenedKeepsTheRouteAsItWas) {
  Received received;
  QirCtlLogToCallback(Collect, &received);
  toldex::testing::TempWorkDir dir;
  const std::filesystem::path path = dir.path() / "no such folder" / "host.log";
  EXPECT_EQ(QirCtlLogToFile(path.string().c_str()), -1);
  err(32, "still here");
  ASSERT_EQ(received.lines.size(), 1u);
  EXPECT_EQ(received.lines[0].second, "still here");
}

#if !defined(_WIN32)
// Under Windows the stand-in has a C run-time of its own, whose stderr the
// test cannot capture.
TEST_F(HostStandIn, StderrLinesCarryATimeStampAndTheLevel) {
  ::testing::internal::CaptureStderr();
  QirCtlLogToStderr();
  err(32, "TOLDEX: to stderr %s", "ok");
  QirCtlLogToNowhere();
  const std::string output = ::testing::internal::GetCapturedStderr();
  const std::regex stamped(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[32\] TOLDEX: to stderr ok\n)");
  EXPECT_TRUE(std::regex_match(output, stamped)) << output;
}
#endif

}  // namespace
