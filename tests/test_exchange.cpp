// The Modbus TCP exchange: framing, expected lengths, exception texts, the
// attempt loop with its counters and log lines, on real loopback connections
// to a scripted peer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "driver/instance.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "support/scripted_peer.h"
#include "support/station_setup.h"
#include "transport/exchange.h"

namespace toldex {
namespace {

using testing::AnswerNormally;
using testing::Bytes;
using testing::ExceptionReply;
using testing::InstanceBlock;
using testing::LogCapture;
using testing::NormalReply;
using testing::PeerAction;
using testing::RegisterPattern;
using testing::ScriptedPeer;

// Short enough that a silent peer costs little, long enough for a loaded
// machine running the tests under Wine.
constexpr int32_t kShortTimeoutMs = 400;
constexpr int kStation = 1;
constexpr char kTag[] = "0140010";

Bytes FrameOf(const uint8_t* frame, int length) { return Bytes(frame, frame + length); }

// --- Framing -------------------------------------------------------------------------

TEST(BuildTcpFrame, PutsTheHeaderBeforeUnitIdAndPdu) {
  const uint8_t request[] = {0x11, 0x03, 0x00, 0x09, 0x00, 0x03};
  uint8_t frame[kMaxFrameSize];
  int length = sizeof request;
  ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
  ASSERT_EQ(length, 12);
  const uint8_t id = frame[1];
  const Bytes expected = {0x00, id, 0x00, 0x00, 0x00, 0x06, 0x11, 0x03, 0x00, 0x09, 0x00, 0x03};
  EXPECT_EQ(FrameOf(frame, length), expected);
}

TEST(BuildTcpFrame, IdentifiersCountUpByOneAndWrapAfter255) {
  const uint8_t request[] = {1, 3, 0, 0, 0, 1};
  uint8_t frame[kMaxFrameSize];
  int length = sizeof request;
  ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
  const uint8_t first = frame[1];
  uint8_t previous = first;
  bool wrapped = false;
  for (int i = 1; i <= 256; ++i) {
    length = sizeof request;
    ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
    EXPECT_EQ(frame[0], 0) << "the high byte of the identifier is always 0";
    EXPECT_EQ(frame[1], static_cast<uint8_t>(previous + 1)) << "frame " << i;
    if (previous == 255) {
      EXPECT_EQ(frame[1], 0);
      wrapped = true;
    }
    previous = frame[1];
  }
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(previous, first) << "the 257th frame carries the first one's identifier again";
}

TEST(BuildTcpFrame, LongestRequestFitsAndLongerOnesAreRefusedWithoutTakingAnIdentifier) {
  uint8_t request[300];
  for (int i = 0; i < 300; ++i) request[i] = static_cast<uint8_t>(i);
  uint8_t frame[kMaxFrameSize + 64];

  int length = 255;
  ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
  EXPECT_EQ(length, kMaxFrameSize);
  EXPECT_EQ(frame[5], 255);
  EXPECT_EQ(std::memcmp(frame + 6, request, 255), 0);
  const uint8_t id = frame[1];

  for (int refused : {256, 257, 299}) {
    std::memset(frame, 0xEE, sizeof frame);
    length = refused;
    EXPECT_EQ(BuildTcpFrame(request, &length, frame), 1) << refused;
    EXPECT_EQ(length, refused);
    EXPECT_EQ(frame[0], 0xEE) << "nothing is written";
    EXPECT_EQ(frame[1], 0xEE);
  }
  length = 6;
  ASSERT_EQ(BuildTcpFrame(request, &length, frame), 0);
  EXPECT_EQ(frame[1], static_cast<uint8_t>(id + 1)) << "a refused frame takes no identifier";
}

TEST(BuildTcpFrame, ThreadsFramingAtOnceNeverShareAnIdentifier) {
  constexpr int kThreads = 4;
  constexpr int kFramesPerThread = 256 * 10;
  std::vector<std::vector<int>> seen(kThreads, std::vector<int>(256, 0));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const uint8_t request[] = {1, 3, 0, 0, 0, 1};
      uint8_t frame[kMaxFrameSize];
      for (int i = 0; i < kFramesPerThread; ++i) {
        int length = sizeof request;
        BuildTcpFrame(request, &length, frame);
        ++seen[t][frame[1]];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // 10240 identifiers taken from a counter of 256 values: each exactly 40 times.
  for (int id = 0; id < 256; ++id) {
    int total = 0;
    for (int t = 0; t < kThreads; ++t) total += seen[t][id];
    EXPECT_EQ(total, kThreads * kFramesPerThread / 256) << "identifier " << id;
  }
}

// --- Expected lengths and exception texts --------------------------------------------

TEST(ExpectedReplyLength, FollowsFunctionCodeAndQuantity) {
  struct Case {
    uint8_t function;
    uint16_t quantity;
    Flavour flavour;
    int expected;
  };
  const Case cases[] = {
      {1, 10, Flavour::kRead, 11},    {1, 8, Flavour::kRead, 10},     {1, 9, Flavour::kRead, 11},
      {2, 1, Flavour::kRead, 10},     {1, 2000, Flavour::kRead, 259}, {3, 3, Flavour::kRead, 15},
      {4, 125, Flavour::kRead, 259},  {3, 1, Flavour::kRead, 11},     {4, 0x0102, Flavour::kRead, 9 + 2 * 0x0102},
      {6, 1, Flavour::kWrite, 12},    {16, 123, Flavour::kWrite, 12}, {15, 1968, Flavour::kWrite, 12},
      {5, 0xFF00, Flavour::kWrite, 12},
  };
  for (const Case& c : cases) {
    const Bytes frame = testing::ReadFrame(0, 1, c.function, 0, c.quantity);
    EXPECT_EQ(ExpectedReplyLength(frame.data(), c.flavour), c.expected)
        << "function " << int(c.function) << " quantity " << c.quantity;
  }
}

TEST(ExceptionText, NamesTheKnownCodesAndShowsOthersInHex) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {
      {1, "Illegal Function Code"}, {2, "Illegal Data Address"}, {3, "Illegal Data Value"},
      {4, "Server Failure"},        {5, "Acknowledge"},          {6, "Server Busy"},
      {10, "Gateway Problem"},      {11, "Gateway Problem"},     {0, "00h"},
      {7, "07h"},                   {8, "08h"},                  {9, "09h"},
      {12, "0Ch"},                  {0x7F, "7Fh"},               {0xAB, "ABh"},
      {255, "FFh"},
  };
  for (const Case& c : cases) {
    char scratch[8];
    EXPECT_STREQ(ExceptionText(static_cast<uint8_t>(c.code), scratch), c.text) << c.code;
  }
}

// --- The pass on a real connection ---------------------------------------------------

struct Counters {
  uint32_t numComms, numSuccess, numFails, errors, commFails;
  int32_t online;
  bool operator==(const Counters&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Counters& c) {
  return out << "{comms " << c.numComms << ", success " << c.numSuccess << ", fails "
             << c.numFails << ", errors " << c.errors << ", commFails " << c.commFails
             << ", online " << c.online << "}";
}

Counters CountersOf(const StationRecord& s) {
  return {s.numComms, s.numSuccess, s.numFails, s.errors, s.commFails, s.online};
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::PrepareInstance(record(), kShortTimeoutMs); }
  void TearDown() override { testing::CloseInstance(record()); }

  InstanceRecord& record() { return block_.record(); }
  StationRecord& station(int s = kStation) { return record().stations[s]; }

  void Connect(const ScriptedPeer& peer, int s = kStation) {
    ASSERT_EQ(testing::ConnectStation(record(), s, peer.ip(), peer.port()), 0) << log_.Dump();
  }

  // Frames `request` and runs one pass and the closing bookkeeping, as an
  // operation with one pass does.
  int32_t Operation(Flavour flavour, const Bytes& request, int blockSize, ExchangeResult& result,
                    int s = kStation) {
    uint8_t frame[kMaxFrameSize];
    int length = static_cast<int>(request.size());
    EXPECT_EQ(BuildTcpFrame(request.data(), &length, frame), 0);
    lastFrame_ = FrameOf(frame, length);
    VpiTcpSendRcv(record(), s, frame, length, flavour, kTag, blockSize, result);
    if (!result.aborted) {
      FinishExchange(record(), s, flavour, result.status, result.reply, kTag, blockSize);
    }
    return result.status;
  }

  int32_t ReadRegisters(uint16_t start, uint16_t quantity, ExchangeResult& result,
                        int s = kStation) {
    const Bytes request = {1, 3, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start),
                           static_cast<uint8_t>(quantity >> 8), static_cast<uint8_t>(quantity)};
    return Operation(Flavour::kRead, request, quantity, result, s);
  }

  int32_t WriteRegister(uint16_t address, uint16_t value, ExchangeResult& result) {
    const Bytes request = {1, 6, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                           static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return Operation(Flavour::kWrite, request, 1, result);
  }

  InstanceBlock block_;
  LogCapture log_;
  Bytes lastFrame_;
};

// A reply to `request` changed by `edit`.
Bytes Edited(const Bytes& request, void (*edit)(Bytes&)) {
  Bytes reply = NormalReply(request);
  edit(reply);
  return reply;
}

struct PassCase {
  const char* name;
  Flavour flavour;
  int32_t receivedFramesChecking;
  // The peer's answer to the k-th request of the pass.
  PeerAction (*answer)(const Bytes& request, int k);
  int32_t status;
  Counters delta;  // after the pass and the closing bookkeeping
  size_t requests;
  std::vector<std::string> lines;  // each present exactly as many times as listed
};

PeerAction Normal(const Bytes& r, int) { return PeerAction::Reply(NormalReply(r)); }
PeerAction OtherTransaction(const Bytes& r, int) {
  return PeerAction::Reply(Edited(r, [](Bytes& b) { b[1] ^= 0x40; }));
}
PeerAction OtherUnit(const Bytes& r, int) {
  return PeerAction::Reply(Edited(r, [](Bytes& b) { b[6] ^= 0x01; }));
}
PeerAction OtherFunction(const Bytes& r, int) {
  return PeerAction::Reply(Edited(r, [](Bytes& b) { b[7] = 4; }));
}
PeerAction OtherUnitOnce(const Bytes& r, int k) {
  return k == 0 ? OtherUnit(r, k) : Normal(r, k);
}
PeerAction OtherTransactionThrice(const Bytes& r, int k) {
  return k < 3 ? OtherTransaction(r, k) : Normal(r, k);
}
PeerAction Exception02(const Bytes& r, int) { return PeerAction::Reply(ExceptionReply(r, 2)); }
PeerAction Exception07(const Bytes& r, int) { return PeerAction::Reply(ExceptionReply(r, 7)); }
PeerAction Exception11(const Bytes& r, int) { return PeerAction::Reply(ExceptionReply(r, 11)); }
PeerAction NineBytesOtherUnit(const Bytes& r, int) {
  // Nine bytes end the pass as an error response before the echo is checked.
  Bytes reply = ExceptionReply(r, 4);
  reply[6] ^= 0x01;
  return PeerAction::Reply(reply);
}
PeerAction Silent(const Bytes&, int) { return PeerAction::Silence(); }
PeerAction Short(const Bytes& r, int) {
  Bytes reply = NormalReply(r);
  reply.resize(reply.size() - 1);
  return PeerAction::Reply(reply);
}
PeerAction SplitInThree(const Bytes& r, int) {
  const Bytes reply = NormalReply(r);
  return PeerAction::Split({Bytes(reply.begin(), reply.begin() + 3),
                            Bytes(reply.begin() + 3, reply.begin() + 8),
                            Bytes(reply.begin() + 8, reply.end())},
                           20);
}
PeerAction SplitException(const Bytes& r, int) {
  const Bytes reply = ExceptionReply(r, 3);
  return PeerAction::Split({Bytes(reply.begin(), reply.begin() + 7),
                            Bytes(reply.begin() + 7, reply.end())},
                           20);
}
PeerAction SilentThenNormal(const Bytes& r, int k) { return k == 0 ? Silent(r, k) : Normal(r, k); }

const Flavour kRead = Flavour::kRead;
const Flavour kWrite = Flavour::kWrite;

const PassCase kPassCases[] = {
    {"ReadAnswered", kRead, 1, Normal, 0, {1, 1, 0, 0, 0, 1}, 1, {}},
    {"WriteAnswered", kWrite, 1, Normal, 0, {1, 1, 0, 0, 0, 1}, 1, {}},
    {"ReadSplitReply", kRead, 1, SplitInThree, 0, {1, 1, 0, 0, 0, 1}, 1, {}},
    {"ReadException02",
     kRead, 1, Exception02, 1, {1, 0, 0, 1, 0, 1}, 1,
     {"TOLDEX: DoBlockRead() error response",
      "TOLDEX: DoBlockRead() failed. Tag '0140010' Blocksize 3 Errcode 02h - Illegal Data Address"}},
    {"ReadException07",
     kRead, 1, Exception07, 1, {1, 0, 0, 1, 0, 1}, 1,
     {"TOLDEX: DoBlockRead() failed. Tag '0140010' Blocksize 3 Errcode 07h - 07h"}},
    {"ReadException03SplitAfterSevenBytes",
     kRead, 1, SplitException, 1, {1, 0, 0, 1, 0, 1}, 1,
     {"TOLDEX: DoBlockRead() failed. Tag '0140010' Blocksize 3 Errcode 03h - Illegal Data Value"}},
    {"WriteException11",
     kWrite, 1, Exception11, 1, {1, 0, 0, 1, 0, 1}, 1,
     {"TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 failed. Errorcode: 0Bh - Gateway Problem"}},
    {"ReadNineBytesFromAnotherUnit",
     kRead, 1, NineBytesOtherUnit, 1, {1, 0, 0, 1, 0, 1}, 1,
     {"TOLDEX: DoBlockRead() error response",
      "TOLDEX: DoBlockRead() failed. Tag '0140010' Blocksize 3 Errcode 04h - Server Failure"}},
    {"ReadOtherTransactionFourTimes",
     kRead, 1, OtherTransaction, 2, {4, 0, 4, 0, 1, 0}, 4,
     {"TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 retry 1",
      "TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 retry 2",
      "TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 retry 3",
      "TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 failed rc = 2"}},
    {"ReadOtherTransactionAcceptedWhenNotChecked", kRead, 0, OtherTransaction, 0,
     {1, 1, 0, 0, 0, 1}, 1, {}},
    {"ReadOtherTransactionThriceThenRight", kRead, 1, OtherTransactionThrice, 0,
     {4, 1, 3, 0, 0, 1}, 4, {}},
    {"WriteOtherTransactionFourTimes",
     kWrite, 1, OtherTransaction, 2, {4, 0, 7, 0, 1, 0}, 4,
     {"TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 retry 3",
      "TOLDEX: DoWrite() Comms fail writing to tag '0140010'"}},
    {"ReadOtherUnitFourTimes",
     kRead, 1, OtherUnit, 1, {4, 0, 4, 1, 0, 1}, 4,
     {"TOLDEX: DoBlockRead() Request /Reply mismatch", "TOLDEX: DoBlockRead() Request /Reply mismatch",
      "TOLDEX: DoBlockRead() Request /Reply mismatch", "TOLDEX: DoBlockRead() Request /Reply mismatch"}},
    {"ReadOtherFunctionFourTimes", kRead, 1, OtherFunction, 1, {4, 0, 4, 1, 0, 1}, 4, {}},
    {"WriteOtherUnitFourTimes",
     kWrite, 1, OtherUnit, 1, {4, 0, 7, 1, 0, 1}, 4,
     {"TOLDEX: DoWrite() Request /Reply mismatch", "TOLDEX: DoWrite() Request /Reply mismatch",
      "TOLDEX: DoWrite() Request /Reply mismatch", "TOLDEX: DoWrite() Request /Reply mismatch"}},
    {"ReadOtherUnitOnce", kRead, 1, OtherUnitOnce, 0, {2, 1, 1, 0, 0, 1}, 2,
     {"TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 retry 1"}},
    {"WriteOtherUnitOnce", kWrite, 1, OtherUnitOnce, 0, {2, 1, 2, 0, 0, 1}, 2,
     {"TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 retry 1"}},
    {"ReadSilent",
     kRead, 1, Silent, 2, {4, 0, 4, 0, 1, 0}, 4,
     {"TOLDEX: RecvStr() failed. Sock errorcode = 10060", "TOLDEX: RecvStr() failed. Sock errorcode = 10060",
      "TOLDEX: RecvStr() failed. Sock errorcode = 10060", "TOLDEX: RecvStr() failed. Sock errorcode = 10060",
      "TOLDEX: DoBlockRead() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockRead() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockRead() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockRead() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 failed rc = 2"}},
    {"WriteSilent",
     kWrite, 1, Silent, 2, {4, 0, 7, 0, 1, 0}, 4,
     {"TOLDEX: DoBlockWrite() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockWrite() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockWrite() failed on RecvStr() Socket Error",
      "TOLDEX: DoBlockWrite() failed on RecvStr() Socket Error",
      "TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 retry 1",
      "TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 retry 2",
      "TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 retry 3",
      "TOLDEX: DoWrite() Comms fail writing to tag '0140010'"}},
    {"ReadShortReply", kRead, 1, Short, 2, {4, 0, 4, 0, 1, 0}, 4, {}},
    {"ReadSilentOnceThenAnswered", kRead, 1, SilentThenNormal, 0, {2, 1, 1, 0, 0, 1}, 2, {}},
};

class PassTest : public ExchangeTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(PassTest, StatusCountersAndLines) {
  const PassCase& c = GetParam();
  record().receivedFramesChecking = c.receivedFramesChecking;
  ScriptedPeer peer;
  std::atomic<int> k{0};
  peer.SetResponder([&](const Bytes& request) { return c.answer(request, k++); });
  Connect(peer);
  const Counters before = CountersOf(station());
  log_.Clear();

  ExchangeResult result;
  const int32_t status = c.flavour == kRead ? ReadRegisters(9, 3, result) : WriteRegister(9, 0x1234, result);
  EXPECT_EQ(status, c.status) << log_.Dump();
  EXPECT_FALSE(result.aborted);
  const Counters after = CountersOf(station());
  const Counters delta = {after.numComms - before.numComms, after.numSuccess - before.numSuccess,
                          after.numFails - before.numFails, after.errors - before.errors,
                          after.commFails - before.commFails, after.online};
  EXPECT_EQ(delta, c.delta) << log_.Dump();
  ASSERT_TRUE(peer.WaitForRequests(c.requests, 2000));
  const std::vector<Bytes> requests = peer.Requests();
  EXPECT_EQ(requests.size(), c.requests);
  for (const Bytes& request : requests) {
    EXPECT_EQ(request, lastFrame_) << "every attempt sends the same frame, identifier included";
  }

  std::vector<std::string> distinct;
  for (const std::string& line : c.lines) {
    if (std::find(distinct.begin(), distinct.end(), line) == distinct.end()) distinct.push_back(line);
  }
  for (const std::string& line : distinct) {
    const int wanted = static_cast<int>(std::count(c.lines.begin(), c.lines.end(), line));
    EXPECT_EQ(log_.Count(line), wanted) << line << "\n" << log_.Dump();
  }
  if (status == 0) {
    const Bytes reply(result.reply, result.reply + result.receivedLength);
    if (c.receivedFramesChecking == 1) {
      EXPECT_EQ(reply, NormalReply(lastFrame_));
    }
  }
  // The retries are numbered 1 to attempts - 1, and only failures are retried.
  const std::string retryPrefix = c.flavour == kRead ? "TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 3 retry "
                                                     : "TOLDEX: DoWrite() writing tag '0140010' Blocksize 1 retry ";
  EXPECT_EQ(log_.CountContaining(retryPrefix), static_cast<int>(c.requests) - 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, PassTest, ::testing::ValuesIn(kPassCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExchangeTest, ReplyLinesCarryBothIdentifiersAndTheRightLevels) {
  ScriptedPeer peer;
  peer.SetResponder([](const Bytes& r) { return OtherTransaction(r, 0); });
  Connect(peer);
  log_.Clear();
  ExchangeResult result;
  ReadRegisters(0, 1, result);
  const int query = lastFrame_[1];
  const int reply = query ^ 0x40;
  EXPECT_EQ(log_.Count("TOLDEX: VpiTcpSendRcv() answer is not related to the query : Query iId= " +
                           std::to_string(query) + ", reponse = " + std::to_string(reply),
                       8),
            4)
      << log_.Dump();
  EXPECT_EQ(log_.Count("TOLDEX: DoBlockRead() reading tag '0140010' Blocksize 1 failed rc = 2", 8), 1);

  log_.Clear();
  WriteRegister(0, 1, result);
  const int writeQuery = lastFrame_[1];
  EXPECT_EQ(log_.Count("TOLDEX: DoWrite() anwser is not related to the query. iId query = " +
                           std::to_string(writeQuery) + ", iId response = " +
                           std::to_string(writeQuery ^ 0x40),
                       8),
            4)
      << log_.Dump();
  for (const testing::LogLine& line : log_.Lines()) {
    EXPECT_EQ(line.level, 8) << line.text;
  }
}

TEST_F(ExchangeTest, PeerThatClosesGivesStatusTwoWithErrorZero) {
  ScriptedPeer peer;
  peer.Queue(PeerAction::Close());
  Connect(peer);
  log_.Clear();
  ExchangeResult result;
  EXPECT_EQ(ReadRegisters(0, 2, result), 2);
  const std::vector<testing::LogLine> lines = log_.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "TOLDEX: RecvStr() failed. Sock errorcode = 0") << log_.Dump();
  EXPECT_EQ(lines[1].text, "TOLDEX: DoBlockRead() failed on RecvStr() Socket Error");
  const StationRecord& s = station();
  EXPECT_EQ(s.numComms, 4u);
  EXPECT_EQ(s.numFails, 4u);
  EXPECT_EQ(s.commFails, 1u);
  EXPECT_EQ(s.online, 0);
  EXPECT_NE(s.socket, platform::kNoSocket) << "the exchange never closes the connection";
}

TEST_F(ExchangeTest, PeerThatResetsIsReportedAsAResetWithStationAndTag) {
  ScriptedPeer peer;
  peer.Queue(PeerAction::Reset());
  Connect(peer);
  log_.Clear();
  ExchangeResult result;
  EXPECT_EQ(ReadRegisters(0, 2, result), 2);
  EXPECT_EQ(log_.Count("TOLDEX: RecvStr() failed. Sock errorcode = 10054", 8), 1) << log_.Dump();
  EXPECT_EQ(log_.Count("TOLDEX: DoBlockRead() Connection reset on recv(). IP: '127.0.0.1' Sock "
                       "errcode: 10054 Tag '0140010' Blocksize 2",
                       32),
            1);
  // The later attempts find the connection gone, at the send or the receive.
  EXPECT_EQ(station().numComms, 4u);
  EXPECT_EQ(station().numFails, 4u);
  EXPECT_EQ(station().commFails, 1u);

  // The same on a write, with the write's own line.
  ScriptedPeer second;
  second.Queue(PeerAction::Reset());
  Connect(second);
  log_.Clear();
  EXPECT_EQ(WriteRegister(0, 1, result), 2);
  EXPECT_GE(log_.Count("TOLDEX: DoBlockWrite() Connection has been reset, tag concerned '0140010' "
                       "Blocksize 1",
                       32),
            1)
      << log_.Dump();
}

TEST_F(ExchangeTest, StationWithoutSocketFailsEveryAttemptAtTheSend) {
  struct Case {
    Flavour flavour;
    uint32_t fails;
  };
  for (const Case& c : {Case{kRead, 4}, Case{kWrite, 7}}) {
    testing::PrepareInstance(record(), kShortTimeoutMs);
    std::strcpy(station().ip, "127.0.0.1");
    log_.Clear();
    ExchangeResult result;
    const int32_t status = c.flavour == kRead ? ReadRegisters(0, 1, result) : WriteRegister(0, 1, result);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(station().numComms, 4u);
    EXPECT_EQ(station().numFails, c.fails);
    EXPECT_EQ(station().commFails, 1u);
    EXPECT_EQ(station().online, 0);
    EXPECT_EQ(log_.Count("TOLDEX: SendStr() failed. Sock errorcode = 10038", 8), 4) << log_.Dump();
    EXPECT_EQ(log_.Count("TOLDEX: DoBlockRead() failed on SendStr() Socket Error", 8),
              c.flavour == kRead ? 4 : 0);
    EXPECT_EQ(log_.CountContaining("RecvStr"), 0);
  }
}

TEST_F(ExchangeTest, FinishExchangeCountsAndClearsOnlineOnlyOnStatusTwo) {
  StationRecord& s = station();
  uint8_t reply[kReplyCapacity] = {};
  FinishExchange(record(), kStation, kRead, 0, reply, kTag, 1);
  EXPECT_EQ(CountersOf(s), (Counters{0, 1, 0, 0, 0, 1}));
  FinishExchange(record(), kStation, kWrite, 1, reply, kTag, 1);
  EXPECT_EQ(CountersOf(s), (Counters{0, 1, 0, 1, 0, 1}));
  EXPECT_TRUE(log_.Lines().empty()) << "a mismatch without the exception bit logs nothing";
  FinishExchange(record(), kStation, kWrite, 2, reply, kTag, 1);
  EXPECT_EQ(CountersOf(s), (Counters{0, 1, 0, 1, 1, 0}));
  s.online = 7;  // only a 1 is cleared
  FinishExchange(record(), kStation, kRead, 2, reply, kTag, 1);
  EXPECT_EQ(s.online, 7);
  EXPECT_EQ(s.commFails, 2u);

  // The counters wrap at 2^32.
  s.numSuccess = 0xFFFFFFFFu;
  FinishExchange(record(), kStation, kRead, 0, reply, kTag, 1);
  EXPECT_EQ(s.numSuccess, 0u);
}

TEST_F(ExchangeTest, FinishExchangeShowsEveryExceptionCode) {
  for (int code = 0; code < 256; ++code) {
    uint8_t reply[kReplyCapacity] = {0, 0, 0, 0, 0, 3, 1, 0x83, static_cast<uint8_t>(code)};
    char scratch[8];
    const std::string text = ExceptionText(static_cast<uint8_t>(code), scratch);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", code);
    log_.Clear();
    FinishExchange(record(), kStation, kRead, 1, reply, kTag, 70000);
    EXPECT_TRUE(log_.Has(std::string("TOLDEX: DoBlockRead() failed. Tag '0140010' Blocksize 4464 Errcode ") +
                             hex + "h - " + text,
                         8))
        << log_.Dump();
    log_.Clear();
    FinishExchange(record(), kStation, kWrite, 1, reply, kTag, 2);
    EXPECT_TRUE(log_.Has(std::string("TOLDEX: DoWrite() writing tag '0140010' Blocksize 2 failed. Errorcode: ") +
                             hex + "h - " + text,
                         8))
        << log_.Dump();
  }
  EXPECT_EQ(station().errors, 512u);
}

// --- Stale bytes -------------------------------------------------------------------

TEST_F(ExchangeTest, LateReplyIsDiscardedAndNeverTakenForTheNextOne) {
  // Without the identifier check a stale reply would pass every other check.
  record().receivedFramesChecking = 0;
  ScriptedPeer peer;
  Connect(peer);
  ExchangeResult result;
  EXPECT_EQ(ReadRegisters(100, 3, result), 2);  // the peer is silent
  const Bytes firstFrame = lastFrame_;

  // The reply to the first read arrives after the pass gave up on it.
  Bytes late = NormalReply(firstFrame);
  for (size_t i = 9; i < late.size(); ++i) late[i] = 0xEE;
  ASSERT_TRUE(peer.Inject(late));
  platform::SleepMilliseconds(100);  // let it land in the driver's socket

  peer.SetResponder(AnswerNormally());
  log_.Clear();
  EXPECT_EQ(ReadRegisters(100, 3, result), 0) << log_.Dump();
  EXPECT_EQ(Bytes(result.reply, result.reply + result.receivedLength), NormalReply(lastFrame_));
  EXPECT_EQ(log_.Count("TOLDEX: SendStr() discarded 15 stale bytes", 8), 1) << log_.Dump();
  EXPECT_EQ(station().numComms, 5u) << "the discard costs no attempt";
}

TEST_F(ExchangeTest, SurplusBytesOfALongReplyAreDiscardedBeforeTheNextSend) {
  ScriptedPeer peer;
  peer.SetResponder([](const Bytes& r) {
    Bytes reply = NormalReply(r);
    reply.insert(reply.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x01});
    return PeerAction::Reply(reply);
  });
  Connect(peer);
  ExchangeResult result;
  ASSERT_EQ(ReadRegisters(7, 2, result), 0);
  EXPECT_EQ(result.receivedLength, 13) << "the receive stops at the expected length";
  EXPECT_EQ(Bytes(result.reply, result.reply + 13), NormalReply(lastFrame_));

  peer.SetResponder(AnswerNormally());
  platform::SleepMilliseconds(50);
  log_.Clear();
  ASSERT_EQ(ReadRegisters(8, 1, result), 0);
  EXPECT_EQ(Bytes(result.reply, result.reply + result.receivedLength), NormalReply(lastFrame_));
  EXPECT_EQ(log_.Count("TOLDEX: SendStr() discarded 5 stale bytes", 8), 1) << log_.Dump();
}

TEST_F(ExchangeTest, NothingStaleNoLine) {
  ScriptedPeer peer;
  peer.SetResponder(AnswerNormally());
  Connect(peer);
  ExchangeResult result;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(ReadRegisters(static_cast<uint16_t>(i), 2, result), 0);
  EXPECT_EQ(log_.CountContaining("stale"), 0) << log_.Dump();
}

// --- Threads ----------------------------------------------------------------------

TEST_F(ExchangeTest, FourThreadsOnOneStationAndTwoOnOthersEachGetTheirOwnReplies) {
  // No identifier check: only the station's serialisation keeps replies apart.
  record().receivedFramesChecking = 0;
  ScriptedPeer shared("127.0.0.1");
  ScriptedPeer second("127.0.0.2");
  ScriptedPeer third("127.0.0.3");
  // The peers take their time, so that unserialised exchanges would overlap.
  auto slowly = [](const Bytes& request) {
    const int pause = (request[9] % 3 == 0) ? 1 : 0;
    return PeerAction::Reply(NormalReply(request), pause);
  };
  for (ScriptedPeer* peer : {&shared, &second, &third}) peer->SetResponder(slowly);
  Connect(shared, 1);
  Connect(second, 2);
  Connect(third, 3);
  log_.Clear();

  constexpr int kReadsPerThread = 150;
  const int stations[] = {1, 1, 1, 1, 2, 3};
  std::atomic<int> wrong{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      const int s = stations[t];
      for (int i = 0; i < kReadsPerThread; ++i) {
        // Each thread asks for registers no other thread asks for.
        const uint16_t start = static_cast<uint16_t>(t * 1000 + i);
        const uint16_t quantity = static_cast<uint16_t>(1 + (i % 4));
        const Bytes request = {1, 3, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start),
                               0, static_cast<uint8_t>(quantity)};
        uint8_t frame[kMaxFrameSize];
        int length = static_cast<int>(request.size());
        BuildTcpFrame(request.data(), &length, frame);
        ExchangeResult result;
        VpiTcpSendRcv(record(), s, frame, length, Flavour::kRead, kTag, quantity, result);
        FinishExchange(record(), s, Flavour::kRead, result.status, result.reply, kTag, quantity);
        if (result.status != 0 || result.receivedLength != 9 + 2 * quantity) {
          ++failed;
          continue;
        }
        for (uint16_t k = 0; k < quantity; ++k) {
          const uint16_t value =
              static_cast<uint16_t>((result.reply[9 + 2 * k] << 8) | result.reply[10 + 2 * k]);
          if (value != RegisterPattern(static_cast<uint16_t>(start + k))) {
            ++wrong;
            break;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failed.load(), 0) << log_.Dump();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(station(1).numComms, 4u * kReadsPerThread);
  EXPECT_EQ(station(1).numSuccess, 4u * kReadsPerThread);
  EXPECT_EQ(station(2).numSuccess, 1u * kReadsPerThread);
  EXPECT_EQ(station(3).numSuccess, 1u * kReadsPerThread);
  EXPECT_EQ(station(1).numFails + station(2).numFails + station(3).numFails, 0u);
  EXPECT_EQ(shared.RequestCount(), 4u * kReadsPerThread);
  EXPECT_EQ(log_.CountContaining("stale"), 0);
}

// --- RecvStr and SendStr on their own -------------------------------------------

TEST_F(ExchangeTest, RecvStrAsksForNoMoreThanTheCapacityAndStopsOnAnException) {
  ScriptedPeer peer;
  Connect(peer);
  const platform::SocketHandle socket = station().socket;
  const Bytes request = testing::ReadFrame(9, 1, 3, 0, 10);
  int error = -1;

  // Expected length 0: one receive, whatever it brings.
  peer.Queue(PeerAction::Reply(Bytes{1, 2, 3}));
  ASSERT_EQ(SendStr(socket, static_cast<int>(request.size()), request.data(), &error), 12);
  EXPECT_EQ(error, 0);
  uint8_t buffer[kReplyCapacity + 8];
  std::memset(buffer, 0x77, sizeof buffer);
  EXPECT_EQ(RecvStr(socket, 0, kReplyCapacity, buffer, &error), 3);

  // Expected beyond the capacity: the capacity bounds the receive.
  Bytes big(20, 0x42);
  peer.Queue(PeerAction::Reply(big));
  ASSERT_EQ(SendStr(socket, static_cast<int>(request.size()), request.data(), &error), 12);
  std::memset(buffer, 0x77, sizeof buffer);
  EXPECT_EQ(RecvStr(socket, 25, 10, buffer, &error), 10);
  EXPECT_EQ(buffer[10], 0x77) << "nothing beyond the capacity is written";

  // An exception reply ends the receive at nine bytes, before the expected length.
  peer.Queue(PeerAction::Reply(ExceptionReply(request, 2)));
  ASSERT_EQ(SendStr(socket, static_cast<int>(request.size()), request.data(), &error), 12);
  EXPECT_EQ(RecvStr(socket, 29, kReplyCapacity, buffer, &error), 9) << log_.Dump();
  EXPECT_EQ(error, 0);
}

}  // namespace
}  // namespace toldex
