// The exchange and the connections against the PLC simulator, a server built
// on libmodbus rather than our own scripted peer: every read and write
// function, exceptions, silence, a stopped station brought back by a warm
// start, a connect that outlasts its wait, threads, and a station under chaos.
#include <gtest/gtest.h>

#if TOLDEX_HAVE_PLCSIM

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "driver/instance.h"
#include "driver/shared_field.h"
#include "plcsim/simulator.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "support/station_setup.h"
#include "support/wait_for.h"
#include "transport/connection.h"
#include "transport/exchange.h"

namespace toldex {
namespace {

using plcsim::Area;
using testing::LogCapture;

constexpr int32_t kShortTimeoutMs = 200;
constexpr char kTag[] = "tag";

struct Reply {
  int32_t status;
  std::vector<uint8_t> bytes;
};

class TransportOnPlcsim : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int s = 1; s <= 3; ++s) {
      plcsim::Station& plc = simulator_.AddStation(
          {.number = s, .address = "127.0.0." + std::to_string(s), .port = 0, .chaos = {}});
      plcs_.push_back(&plc);
    }
    std::string error;
    ASSERT_TRUE(simulator_.StartAll(&error)) << error;
    std::string file = "BUS=M,D\n";
    for (int s = 1; s <= 3; ++s) {
      file += std::to_string(s) + " 127.0.0." + std::to_string(s) + " " +
              std::to_string(plc(s).Port()) + "\n";
    }
    dir_.WriteFile("TOLDEX01.INT", file);
    ColdStartParams params{};
    params.startMode = 1;
    ASSERT_EQ(block_.Call(kOpColdStart, &params), 0) << log_.Dump();
    // Short time-outs apply to sockets set up from now on: reconnect.
    ChangeParams change{};
    change.newTimeoutMs = kShortTimeoutMs;
    block_.Call(kOpChangeVpiParams, &change);
    for (int s = 1; s <= 3; ++s) {
      ASSERT_EQ(VpiTcpSocketManagement(record(), s), 0) << log_.Dump();
      testing::PrepareWarmStartShadow(record(), s, s);
    }
    log_.Clear();
  }
  void TearDown() override { testing::CloseInstance(record()); }

  InstanceRecord& record() { return block_.record(); }
  StationRecord& station(int s) { return record().stations[s]; }
  plcsim::Station& plc(int s) { return *plcs_[static_cast<size_t>(s - 1)]; }

  Reply Exchange(int s, Flavour flavour, const std::vector<uint8_t>& request, int blockSize = 1) {
    uint8_t frame[kMaxFrameSize];
    int length = static_cast<int>(request.size());
    EXPECT_EQ(BuildTcpFrame(request.data(), &length, frame), 0);
    ExchangeResult result;
    VpiTcpSendRcv(record(), s, frame, length, flavour, kTag, blockSize, result);
    FinishExchange(record(), s, flavour, result.status, result.reply, kTag, blockSize);
    if (result.status == 0) {
      EXPECT_EQ(result.receivedLength, ExpectedReplyLength(frame, flavour));
      EXPECT_EQ(result.reply[1], frame[1]);
    }
    return {result.status, std::vector<uint8_t>(result.reply, result.reply + result.receivedLength)};
  }

  Reply Read(int s, uint8_t function, uint16_t start, uint16_t quantity) {
    return Exchange(s, Flavour::kRead,
                    {static_cast<uint8_t>(s), function, static_cast<uint8_t>(start >> 8),
                     static_cast<uint8_t>(start), static_cast<uint8_t>(quantity >> 8),
                     static_cast<uint8_t>(quantity)},
                    quantity);
  }

  int WarmConnect(int s) {
    WarmStartParams params{s};
    DriverRequest request{};
    request.instance = &record();
    request.op = kOpWarmStart;
    request.driverNumber = 1;
    request.params = &params;
    return VpiTcpSocketManagementWarmStart(&station(s).socket, station(s).ip, station(s).port,
                                           &request);
  }

  static uint16_t Word(const std::vector<uint8_t>& reply, int index) {
    return static_cast<uint16_t>((reply[9 + 2 * index] << 8) | reply[10 + 2 * index]);
  }

  plcsim::Simulator simulator_;
  std::vector<plcsim::Station*> plcs_;
  testing::TempWorkDir dir_;
  testing::InstanceBlock block_;
  LogCapture log_;
};

TEST_F(TransportOnPlcsim, ReadsEveryAreaAsTheStartPatternSays) {
  for (int s = 1; s <= 3; ++s) {
    Reply holding = Read(s, 3, 9, 3);
    ASSERT_EQ(holding.status, 0) << log_.Dump();
    EXPECT_EQ(holding.bytes[8], 6);
    EXPECT_EQ(Word(holding.bytes, 0), 9);
    EXPECT_EQ(Word(holding.bytes, 2), 11);

    Reply number = Read(s, 3, plcsim::kStationNumberRegister, 1);
    ASSERT_EQ(number.status, 0);
    EXPECT_EQ(Word(number.bytes, 0), s) << "the reply came from station " << s;

    Reply input = Read(s, 4, 5, 2);
    ASSERT_EQ(input.status, 0);
    EXPECT_EQ(Word(input.bytes, 1), 0x4006);

    Reply coils = Read(s, 1, 0, 10);  // odd coils are on
    ASSERT_EQ(coils.status, 0);
    EXPECT_EQ(coils.bytes.size(), 11u);
    EXPECT_EQ(coils.bytes[9], 0xAA);
    EXPECT_EQ(coils.bytes[10], 0x02);

    Reply inputs = Read(s, 2, 0, 8);  // multiples of three are on
    ASSERT_EQ(inputs.status, 0);
    EXPECT_EQ(inputs.bytes.size(), 10u);
    EXPECT_EQ(inputs.bytes[9], 0x49);
    EXPECT_EQ(station(s).numSuccess, 5u);
    EXPECT_EQ(station(s).numFails, 0u);
  }
}

TEST_F(TransportOnPlcsim, WritesLandInTheRegisterMap) {
  Reply single = Exchange(2, Flavour::kWrite, {2, 6, 0, 100, 0xBE, 0xEF});
  ASSERT_EQ(single.status, 0) << log_.Dump();
  EXPECT_EQ(plc(2).GetRegister(Area::kHoldingRegisters, 100), 0xBEEF);

  Reply multiple = Exchange(2, Flavour::kWrite, {2, 16, 0, 200, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}, 2);
  ASSERT_EQ(multiple.status, 0);
  EXPECT_EQ(plc(2).GetPair(Area::kHoldingRegisters, 200), 0x12345678u);

  Reply coil = Exchange(2, Flavour::kWrite, {2, 5, 0, 2, 0xFF, 0x00});
  ASSERT_EQ(coil.status, 0);
  EXPECT_TRUE(plc(2).GetBit(Area::kCoils, 2));

  Reply coils = Exchange(2, Flavour::kWrite, {2, 15, 0, 16, 0, 3, 1, 0x05}, 3);
  ASSERT_EQ(coils.status, 0);
  EXPECT_TRUE(plc(2).GetBit(Area::kCoils, 16));
  EXPECT_FALSE(plc(2).GetBit(Area::kCoils, 17));
  EXPECT_TRUE(plc(2).GetBit(Area::kCoils, 18));

  Reply back = Read(2, 3, 100, 1);
  ASSERT_EQ(back.status, 0);
  EXPECT_EQ(Word(back.bytes, 0), 0xBEEF);
  EXPECT_EQ(station(2).numSuccess, 5u);
}

TEST_F(TransportOnPlcsim, ServerExceptionsEndThePassWithTheirText) {
  // 126 registers are more than one read may ask for.
  Reply tooMany = Read(1, 3, 0, 126);
  EXPECT_EQ(tooMany.status, 1);
  EXPECT_EQ(tooMany.bytes.size(), 9u);
  EXPECT_EQ(log_.Count("TOLDEX: DoBlockRead() failed. Tag 'tag' Blocksize 126 Errcode 03h - "
                       "Illegal Data Value",
                       8),
            1)
      << log_.Dump();
  Reply unknown = Read(1, 0x41, 0, 1);
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(log_.Count("TOLDEX: DoBlockRead() failed. Tag 'tag' Blocksize 1 Errcode 01h - "
                       "Illegal Function Code",
                       8),
            1)
      << log_.Dump();
  EXPECT_EQ(station(1).numComms, 2u);
  EXPECT_EQ(station(1).errors, 2u);
  EXPECT_EQ(station(1).numFails, 0u);
  EXPECT_EQ(station(1).online, 1);
}

TEST_F(TransportOnPlcsim, SilentStationCostsFourTimeOutsPerPass) {
  plc(3).SetSilent(true);
  EXPECT_EQ(Read(3, 3, 0, 1).status, 2);
  EXPECT_EQ(station(3).numComms, 4u);
  EXPECT_EQ(station(3).numFails, 4u);
  EXPECT_EQ(station(3).commFails, 1u);
  EXPECT_EQ(station(3).online, 0);
  EXPECT_EQ(Exchange(3, Flavour::kWrite, {3, 6, 0, 1, 0, 1}).status, 2);
  EXPECT_EQ(station(3).numComms, 8u);
  EXPECT_EQ(station(3).numFails, 11u);
  EXPECT_EQ(log_.Count("TOLDEX: RecvStr() failed. Sock errorcode = 10060", 8), 8);
  // The others are not held up by it.
  EXPECT_EQ(Read(1, 3, 0, 1).status, 0);
  EXPECT_EQ(station(1).numFails, 0u);

  // Replies to the ignored requests never come; once the station speaks
  // again, the next exchange gets its own reply.
  plc(3).SetSilent(false);
  Reply again = Read(3, 3, 42, 1);
  ASSERT_EQ(again.status, 0) << log_.Dump();
  EXPECT_EQ(Word(again.bytes, 0), 42);
}

TEST_F(TransportOnPlcsim, StoppedStationFailsUntilAWarmStartReconnectsIt) {
  plc(2).Stop();
  EXPECT_EQ(Read(2, 3, 0, 1).status, 2);
  EXPECT_EQ(station(2).commFails, 1u);
  EXPECT_EQ(WarmConnect(2), 1) << "refused while the station is down";
  EXPECT_EQ(station(2).socket, -1);
  EXPECT_EQ(log_.Count("TOLDEX> VpiTcpSocketManagementWarmStart() error, Connect fail, error = "
                       "10061",
                       32),
            1)
      << log_.Dump();

  ASSERT_TRUE(plc(2).Start()) << plc(2).LastError();
  EXPECT_EQ(WarmConnect(2), 0) << log_.Dump();
  Reply back = Read(2, 3, plcsim::kStationNumberRegister, 1);
  ASSERT_EQ(back.status, 0);
  EXPECT_EQ(Word(back.bytes, 0), 2);
}

TEST_F(TransportOnPlcsim, ConnectThatOutlastsItsWaitIsCollectedByTheNextWarmStart) {
  ChangeParams change{};
  change.newTimeoutMs = 8000;  // the connect's own time-out, far beyond the wait
  block_.Call(kOpChangeVpiParams, &change);
  plc(1).SetAccepting(false);
  log_.Clear();
  EXPECT_EQ(WarmConnect(1), 1);
  EXPECT_EQ(log_.Count("TOLDEX> VpiTcpSocketManagementWarmStart() error, time-out waiting for "
                       "mutex semaphore, plcAddr : 1",
                       8),
            1)
      << log_.Dump();
  EXPECT_EQ(Read(1, 3, 0, 1).status, 2) << "no socket while the connect is under way";

  plc(1).SetAccepting(true);
  ASSERT_TRUE(testing::WaitFor(
      [&] { return LoadShared(record().warmStartShadows[1].connectInProgress) == 0; }));
  const int32_t connected = record().warmStartShadows[1].socket;
  ASSERT_NE(connected, -1) << log_.Dump();
  EXPECT_EQ(WarmConnect(1), 0);
  EXPECT_EQ(station(1).socket, connected);
  Reply back = Read(1, 3, 7, 1);
  ASSERT_EQ(back.status, 0) << log_.Dump();
  EXPECT_EQ(Word(back.bytes, 0), 7);
}

TEST_F(TransportOnPlcsim, FourThreadsOnOneStationAndOneEachOnTwoOthers) {
  record().receivedFramesChecking = 0;  // only the serialisation keeps replies apart
  plc(1).SetReplyDelay(1);
  constexpr int kReadsPerThread = 100;
  const int stations[] = {1, 1, 1, 1, 2, 3};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kReadsPerThread; ++i) {
        // Registers 3000 and up hold their own address.
        const uint16_t start = static_cast<uint16_t>(3000 + t * 500 + i);
        const uint16_t quantity = static_cast<uint16_t>(1 + i % 5);
        const Reply reply = Read(stations[t], 3, start, quantity);
        if (reply.status != 0) {
          ++wrong;
          continue;
        }
        for (int k = 0; k < quantity; ++k) {
          if (Word(reply.bytes, k) != start + k) {
            ++wrong;
            break;
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0) << log_.Dump();
  EXPECT_EQ(station(1).numSuccess, 4u * kReadsPerThread);
  EXPECT_EQ(station(2).numSuccess, 1u * kReadsPerThread);
  EXPECT_EQ(station(3).numSuccess, 1u * kReadsPerThread);
}

TEST_F(TransportOnPlcsim, UnderChaosEveryAcceptedReplyCarriesTheRightValues) {
  plcsim::ChaosConfig chaos = plcsim::MakeChaos(20240611, 0.3);
  chaos.lateReplyDelayMs = 2 * kShortTimeoutMs;
  chaos.restartDownMs = 100;
  plc(1).SetChaos(chaos);
  constexpr int kPasses = 120;
  int accepted = 0;
  int wrong = 0;
  for (int i = 0; i < kPasses; ++i) {
    const uint16_t start = static_cast<uint16_t>(3000 + (i * 37) % 5000);
    const uint16_t quantity = static_cast<uint16_t>(1 + i % 8);
    const Reply reply = Read(1, 3, start, quantity);
    if (reply.status == 0) {
      ++accepted;
      for (int k = 0; k < quantity; ++k) {
        if (Word(reply.bytes, k) != start + k) {
          ++wrong;
          break;
        }
      }
    } else if (reply.status == 2) {
      WarmConnect(1);  // as the host does after a communication failure
    }
  }
  EXPECT_EQ(wrong, 0) << log_.Dump();
  EXPECT_GE(accepted, 10) << "a station under chaos still answers now and then";
  const StationRecord& s = station(1);
  EXPECT_EQ(s.numSuccess + s.errors + s.commFails, static_cast<uint32_t>(kPasses));
  EXPECT_GT(plc(1).Counters().FaultTotal(), 0u);
}

}  // namespace
}  // namespace toldex

#endif  // TOLDEX_HAVE_PLCSIM
