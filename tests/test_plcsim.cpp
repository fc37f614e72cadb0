// The PLC simulator: its start pattern, the four areas read and written
// through libmodbus's own client, the station controls, and chaos: the same
// seed gives the same faults, and no fault ever changes the register data of
// a well-formed reply.
#include <gtest/gtest.h>

#if TOLDEX_HAVE_PLCSIM

#include <modbus.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "plcsim/command_line.h"
#include "plcsim/simulator.h"

namespace plcsim {
namespace {

namespace platform = toldex::platform;

constexpr uint32_t kClientTimeoutMs = 2000;
constexpr uint32_t kWaitMs = 5000;
constexpr uint8_t kReadHolding = 3;

// A libmodbus client of one station.
class Client {
 public:
  explicit Client(const Station& station, int unit = 1, uint32_t timeoutMs = kClientTimeoutMs)
      : context_(modbus_new_tcp(station.Address().c_str(), station.Port())) {
    modbus_set_slave(context_, unit);
    SetTimeout(timeoutMs);
  }
  ~Client() {
    modbus_close(context_);
    modbus_free(context_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void SetTimeout(uint32_t milliseconds) {
    modbus_set_response_timeout(context_, milliseconds / 1000, (milliseconds % 1000) * 1000);
  }
  bool Connect() { return modbus_connect(context_) == 0; }
  // Connects, retrying while the station is down.
  bool ConnectWithin(uint32_t milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Connect()) return true;
      modbus_close(context_);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  void Reconnect() {
    modbus_close(context_);
    ConnectWithin(kWaitMs);
  }
  modbus_t* operator*() { return context_; }

 private:
  modbus_t* context_;
};

std::vector<uint16_t> ReadRegisters(Client& client, Area area, int start, int count) {
  std::vector<uint16_t> values(static_cast<size_t>(count));
  const int got = area == Area::kInputRegisters ? modbus_read_input_registers(*client, start, count, values.data())
                                                : modbus_read_registers(*client, start, count, values.data());
  EXPECT_EQ(got, count) << modbus_strerror(errno);
  return values;
}

std::vector<uint8_t> ReadBits(Client& client, Area area, int start, int count) {
  std::vector<uint8_t> values(static_cast<size_t>(count));
  const int got = area == Area::kCoils ? modbus_read_bits(*client, start, count, values.data())
                                       : modbus_read_input_bits(*client, start, count, values.data());
  EXPECT_EQ(got, count) << modbus_strerror(errno);
  return values;
}

// ---------------------------------------------------------------- start pattern

TEST(StartPattern, HoldsTheDocumentedValues) {
  struct Case {
    Area area;
    uint16_t address;
    uint16_t expected;
  };
  const Case cases[] = {
      {Area::kHoldingRegisters, 0, 0},
      {Area::kHoldingRegisters, 9, 9},
      {Area::kHoldingRegisters, 999, 999},
      {Area::kHoldingRegisters, 1000, 0x447A},  // 1000.5f = 0x447A2000
      {Area::kHoldingRegisters, 1001, 0x2000},
      {Area::kHoldingRegisters, 2000, 0xFFFF},  // -2000 = 0xFFFFF830
      {Area::kHoldingRegisters, 2001, 0xF830},
      {Area::kHoldingRegisters, 3000, 3000},
      {Area::kHoldingRegisters, 9000, 7},  // the station's number
      {Area::kHoldingRegisters, 65535, 65535},
      {Area::kInputRegisters, 0, 0x4000},
      {Area::kInputRegisters, 9, 0x4009},
      {Area::kInputRegisters, 1000, 0xC47A},  // -1000.5f = 0xC47A2000
      {Area::kInputRegisters, 1001, 0x2000},
      {Area::kInputRegisters, 2000, 0x000F},  // 1002000 = 0x000F4A10
      {Area::kInputRegisters, 2001, 0x4A10},
      {Area::kInputRegisters, 9000, 7},
      {Area::kInputRegisters, 0xC000, 0x0000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartRegister(c.area, c.address, 7), c.expected) << "register " << c.address;
  }
  EXPECT_EQ(StartFloat(Area::kHoldingRegisters, 1998), 1998.5f);
  EXPECT_EQ(StartFloat(Area::kInputRegisters, 1000), -1000.5f);
  EXPECT_EQ(StartInteger(Area::kHoldingRegisters, 2998), -2998);
  EXPECT_EQ(StartInteger(Area::kInputRegisters, 2000), 1002000);
  EXPECT_EQ(FloatFromBits(JoinWords(StartRegister(Area::kHoldingRegisters, 1500, 1),
                                    StartRegister(Area::kHoldingRegisters, 1501, 1))),
            1500.5f);
  // Outside the regions a pair reads (r << 16) | (r + 1).
  EXPECT_EQ(JoinWords(StartRegister(Area::kHoldingRegisters, 20, 1), StartRegister(Area::kHoldingRegisters, 21, 1)),
            0x00140015u);
}

TEST(StartPattern, CoilsAlternateAndInputsAreEveryThird) {
  for (uint16_t a = 0; a < 48; ++a) {
    EXPECT_EQ(StartBit(Area::kCoils, a), a % 2 == 1) << a;
    EXPECT_EQ(StartBit(Area::kDiscreteInputs, a), a % 3 == 0) << a;
  }
}

// ---------------------------------------------------------------- serving

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station_ = &simulator_.AddStation({.number = 3, .address = "127.0.0.1", .port = 0, .chaos = {}});
    std::string error;
    ASSERT_TRUE(simulator_.StartAll(&error)) << error;
    ASSERT_NE(station_->Port(), 0);
  }

  Simulator simulator_;
  Station* station_ = nullptr;
};

TEST_F(StationTest, ReadsEveryAreaThroughLibmodbus) {
  Client client(*station_);
  ASSERT_TRUE(client.Connect());

  const auto coils = ReadBits(client, Area::kCoils, 0, 2000);
  const auto inputs = ReadBits(client, Area::kDiscreteInputs, 100, 37);
  for (int a = 0; a < 2000; ++a) ASSERT_EQ(coils[a], a % 2) << "coil " << a;
  for (int a = 0; a < 37; ++a) ASSERT_EQ(inputs[a], (a + 100) % 3 == 0 ? 1 : 0) << "input " << a + 100;

  struct Block {
    Area area;
    int start;
    int count;
  };
  const Block blocks[] = {{Area::kHoldingRegisters, 0, 125},   {Area::kHoldingRegisters, 990, 20},
                          {Area::kHoldingRegisters, 1990, 20}, {Area::kHoldingRegisters, 8990, 20},
                          {Area::kHoldingRegisters, 65411, 125}, {Area::kInputRegisters, 0, 125},
                          {Area::kInputRegisters, 1996, 8},    {Area::kInputRegisters, 8999, 2}};
  for (const Block& b : blocks) {
    const auto values = ReadRegisters(client, b.area, b.start, b.count);
    for (int i = 0; i < b.count; ++i) {
      const auto address = static_cast<uint16_t>(b.start + i);
      ASSERT_EQ(values[i], StartRegister(b.area, address, 3)) << "register " << address;
    }
  }
  const auto floats = ReadRegisters(client, Area::kHoldingRegisters, 1234, 2);
  EXPECT_EQ(modbus_get_float_abcd(floats.data()), 1234.5f);
  const auto station = ReadRegisters(client, Area::kInputRegisters, kStationNumberRegister, 1);
  EXPECT_EQ(station[0], 3);

  const StationCounters counters = station_->Counters();
  EXPECT_EQ(counters.requestsByFunction[1], 1u);
  EXPECT_EQ(counters.requestsByFunction[2], 1u);
  EXPECT_EQ(counters.requestsByFunction[3], 6u);
  EXPECT_EQ(counters.requestsByFunction[4], 4u);
  EXPECT_EQ(counters.requestsReceived, 12u);
  EXPECT_EQ(counters.requestsExecuted, 12u);
  EXPECT_EQ(counters.repliesSent, 12u);
  EXPECT_EQ(counters.connectionsAccepted, 1u);
}

TEST_F(StationTest, WritesEveryKindAndTheMapShowsThem) {
  Client client(*station_);
  ASSERT_TRUE(client.Connect());

  ASSERT_EQ(modbus_write_bit(*client, 10, 1), 1);  // function 5
  ASSERT_EQ(modbus_write_bit(*client, 11, 0), 1);
  EXPECT_TRUE(station_->GetBit(Area::kCoils, 10));
  EXPECT_FALSE(station_->GetBit(Area::kCoils, 11));

  ASSERT_EQ(modbus_write_register(*client, 9, 0x1234), 1);  // function 6
  EXPECT_EQ(station_->GetRegister(Area::kHoldingRegisters, 9), 0x1234);

  const uint8_t bits[10] = {1, 1, 1, 0, 0, 0, 1, 0, 1, 1};
  ASSERT_EQ(modbus_write_bits(*client, 200, 10, bits), 10);  // function 15
  for (int i = 0; i < 10; ++i) EXPECT_EQ(station_->GetBit(Area::kCoils, 200 + i), bits[i] != 0) << i;

  const uint16_t registers[4] = {0x3F80, 0x0000, 0xDEAD, 0xBEEF};
  ASSERT_EQ(modbus_write_registers(*client, 20, 4, registers), 4);  // function 16
  EXPECT_EQ(station_->GetPair(Area::kHoldingRegisters, 20), 0x3F800000u);
  EXPECT_EQ(station_->GetPair(Area::kHoldingRegisters, 22), 0xDEADBEEFu);
  // Neighbours keep the start pattern.
  EXPECT_EQ(station_->GetRegister(Area::kHoldingRegisters, 19), 19);
  EXPECT_EQ(station_->GetRegister(Area::kHoldingRegisters, 24), 24);

  // Values set directly are what the client reads.
  station_->SetRegister(Area::kInputRegisters, 5, 0xABCD);
  station_->SetPair(Area::kHoldingRegisters, 100, 0x12345678);
  station_->SetBit(Area::kDiscreteInputs, 1, true);
  EXPECT_EQ(ReadRegisters(client, Area::kInputRegisters, 5, 1)[0], 0xABCD);
  EXPECT_EQ(ReadRegisters(client, Area::kHoldingRegisters, 100, 2), (std::vector<uint16_t>{0x1234, 0x5678}));
  EXPECT_EQ(ReadBits(client, Area::kDiscreteInputs, 0, 2), (std::vector<uint8_t>{1, 1}));

  const StationCounters counters = station_->Counters();
  EXPECT_EQ(counters.requestsByFunction[5], 2u);
  EXPECT_EQ(counters.requestsByFunction[6], 1u);
  EXPECT_EQ(counters.requestsByFunction[15], 1u);
  EXPECT_EQ(counters.requestsByFunction[16], 1u);

  station_->ResetRegisters();
  EXPECT_EQ(station_->GetRegister(Area::kHoldingRegisters, 9), 9);
  EXPECT_FALSE(station_->GetBit(Area::kCoils, 10));
}

TEST_F(StationTest, AnswersEveryUnitId) {
  for (int unit : {0, 1, 17, 64, 247, 255}) {
    Client client(*station_, unit);
    ASSERT_TRUE(client.Connect());
    EXPECT_EQ(ReadRegisters(client, Area::kHoldingRegisters, 42, 1)[0], 42) << "unit " << unit;
    EXPECT_EQ(station_->Counters().lastUnitId, unit);
    EXPECT_EQ(station_->Counters().lastFunctionCode, kReadHolding);
  }
}

TEST_F(StationTest, ServesSeveralClientsAtOnce) {
  constexpr int kClients = 4;
  constexpr int kReads = 100;
  std::atomic<int> wrong{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      Client client(*station_, t);
      if (!client.Connect()) {
        ++failed;
        return;
      }
      for (int i = 0; i < kReads; ++i) {
        const int start = t * 1000 + i;  // floats, integers and plain registers
        uint16_t values[3];
        if (modbus_read_registers(*client, start, 3, values) != 3) {
          ++failed;
          continue;
        }
        for (int k = 0; k < 3; ++k) {
          if (values[k] != StartRegister(Area::kHoldingRegisters, static_cast<uint16_t>(start + k), 3)) ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrong, 0);
  const StationCounters counters = station_->Counters();
  EXPECT_EQ(counters.connectionsAccepted, static_cast<uint64_t>(kClients));
  EXPECT_EQ(counters.requestsExecuted, static_cast<uint64_t>(kClients * kReads));
  EXPECT_TRUE(station_->WaitFor([](const StationCounters& c) { return c.connectionsOpen == 0; }, kWaitMs));
}

TEST(Simulator, StationsListenOnTheirOwnAddressesAndPorts) {
  Simulator simulator;
  simulator.AddStation({.number = 1, .address = "127.0.0.1", .port = 0, .chaos = {}});
  simulator.AddStation({.number = 2, .address = "127.0.0.2", .port = 0, .chaos = {}});
  simulator.AddStation({.number = 12, .address = "127.0.0.12", .port = 0, .chaos = {}});
  std::string error;
  ASSERT_TRUE(simulator.StartAll(&error)) << error;
  for (size_t i = 0; i < simulator.Size(); ++i) {
    Station& station = simulator.At(i);
    ASSERT_NE(station.Port(), 0);
    Client client(station);
    ASSERT_TRUE(client.Connect()) << station.Address();
    EXPECT_EQ(ReadRegisters(client, Area::kHoldingRegisters, kStationNumberRegister, 1)[0], station.Number());
  }
  ASSERT_NE(simulator.Find(12), nullptr);
  EXPECT_EQ(simulator.Find(12)->Address(), "127.0.0.12");
  EXPECT_EQ(simulator.Find(5), nullptr);
  EXPECT_EQ(simulator.Totals().requestsExecuted, 3u);

  // A second station on a taken address and port cannot start.
  Station& twin = simulator.AddStation({.number = 4, .address = "127.0.0.2", .port = simulator.At(1).Port(), .chaos = {}});
  EXPECT_FALSE(simulator.StartAll(&error));
  EXPECT_NE(error.find("station 4"), std::string::npos) << error;
  EXPECT_FALSE(twin.Running());
}

TEST(Simulator, RefusesAddressesOutsideLoopback) {
  for (const char* address : {"10.0.0.1", "192.168.0.10", "0.0.0.0", "localhost", ""}) {
    Station station({.number = 1, .address = address, .port = 0, .chaos = {}});
    EXPECT_FALSE(station.Start()) << address;
    EXPECT_NE(station.LastError().find("loopback"), std::string::npos) << station.LastError();
  }
}

TEST_F(StationTest, StopClosesAndRefusesStartServesAgainOnTheSamePort) {
  Client before(*station_);
  ASSERT_TRUE(before.Connect());
  ASSERT_EQ(modbus_write_register(*before, 7, 0x0707), 1);
  const uint16_t port = station_->Port();

  station_->Stop();
  EXPECT_FALSE(station_->Running());
  uint16_t value;
  EXPECT_EQ(modbus_read_registers(*before, 7, 1, &value), -1);
  Client refused(*station_);
  EXPECT_FALSE(refused.Connect());
  EXPECT_EQ(errno, ECONNREFUSED);

  ASSERT_TRUE(station_->Start()) << station_->LastError();
  EXPECT_EQ(station_->Port(), port);
  Client after(*station_);
  ASSERT_TRUE(after.Connect());
  EXPECT_EQ(ReadRegisters(after, Area::kHoldingRegisters, 7, 1)[0], 0x0707);  // the map outlives a stop
  EXPECT_EQ(station_->Counters().connectionsAccepted, 2u);
}

TEST_F(StationTest, SilentReadsRequestsButNeverAnswers) {
  station_->SetSilent(true);
  Client client(*station_, 1, 200);
  ASSERT_TRUE(client.Connect());
  uint16_t value;
  EXPECT_EQ(modbus_read_registers(*client, 1, 1, &value), -1);
  EXPECT_EQ(modbus_write_register(*client, 1, 0x5555), -1);
  EXPECT_TRUE(station_->WaitFor([](const StationCounters& c) { return c.requestsDropped == 2; }, kWaitMs));
  StationCounters counters = station_->Counters();
  EXPECT_EQ(counters.requestsReceived, 2u);
  EXPECT_EQ(counters.requestsExecuted, 0u);
  EXPECT_EQ(counters.repliesSent, 0u);
  EXPECT_EQ(station_->GetRegister(Area::kHoldingRegisters, 1), 1);  // the write was not executed

  station_->SetSilent(false);
  client.Reconnect();
  EXPECT_EQ(ReadRegisters(client, Area::kHoldingRegisters, 1, 1)[0], 1);
}

TEST_F(StationTest, DelayedRepliesMissAShortTimeOutAndStopCutsTheDelayShort) {
  Client client(*station_, 1, 100);
  ASSERT_TRUE(client.Connect());
  station_->SetReplyDelay(60000);
  uint16_t value;
  EXPECT_EQ(modbus_read_registers(*client, 1, 1, &value), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  station_->Stop();  // does not wait for the minute
  EXPECT_EQ(station_->Counters().repliesSent, 0u);

  station_->SetReplyDelay(20);
  ASSERT_TRUE(station_->Start());
  Client patient(*station_, 1, kClientTimeoutMs);
  ASSERT_TRUE(patient.Connect());
  EXPECT_EQ(ReadRegisters(patient, Area::kHoldingRegisters, 1, 1)[0], 1);
}

TEST_F(StationTest, NotAcceptingKeepsTheListenerAndConnectsHang) {
  Client served(*station_);
  ASSERT_TRUE(served.Connect());
  ASSERT_EQ(ReadRegisters(served, Area::kHoldingRegisters, 2, 1)[0], 2);  // accepted, not just queued
  station_->SetAccepting(false);

  const platform::SocketAddressV4 peer = platform::MakeSocketAddress(station_->Address().c_str(), station_->Port());
  platform::SocketHandle hanging = platform::SocketCreateTcp();
  ASSERT_NE(hanging, platform::kNoSocket);
  platform::SocketSetSendTimeout(hanging, 300);
  EXPECT_EQ(platform::SocketConnect(hanging, peer), -1);
  EXPECT_EQ(platform::SocketLastError(), platform::kSockErrTimedOut);  // not refused: the listener is there
  platform::SocketClose(hanging);

  // Connections made before go on being served.
  EXPECT_EQ(ReadRegisters(served, Area::kHoldingRegisters, 3, 1)[0], 3);

  station_->SetAccepting(true);
  Client later(*station_, 1, kClientTimeoutMs);
  ASSERT_TRUE(later.ConnectWithin(kWaitMs));
  EXPECT_EQ(ReadRegisters(later, Area::kHoldingRegisters, 4, 1)[0], 4);
  // The connections the station made to fill its own queue are not counted.
  EXPECT_TRUE(station_->WaitFor([](const StationCounters& c) { return c.connectionsAccepted == 2; }, kWaitMs));
  EXPECT_EQ(station_->Counters().connectionsAccepted, 2u);
}

size_t EntriesIn(const char* folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

TEST(Simulator, LeavesNoDescriptorsOrThreadsBehind) {
  // A sanitizer's runtime may start a helper thread of its own when the
  // process starts its first thread: start one before counting, so that only
  // the simulator's threads are compared.
  std::thread([] {}).join();
  const size_t descriptors = EntriesIn("/proc/self/fd");
  const size_t threads = EntriesIn("/proc/self/task");
  {
    Simulator simulator;
    Station& plain = simulator.AddStation({.number = 1, .address = "127.0.0.1", .port = 0, .chaos = {}});
    ChaosConfig restarts = MakeChaos(3, 1.0, 1u << static_cast<int>(FaultKind::kRestart));
    restarts.restartDownMs = 10;
    Station& restarting = simulator.AddStation({.number = 2, .address = "127.0.0.2", .port = 0, .chaos = restarts});
    ASSERT_TRUE(simulator.StartAll());
    Client a(plain), b(plain), c(restarting);
    ASSERT_TRUE(a.Connect());
    ASSERT_TRUE(b.Connect());
    ASSERT_TRUE(c.Connect());
    EXPECT_EQ(ReadRegisters(a, Area::kHoldingRegisters, 1, 1)[0], 1);
    uint16_t value;
    EXPECT_EQ(modbus_read_registers(*c, 0, 1, &value), -1);
    EXPECT_TRUE(restarting.WaitFor([](const StationCounters& k) { return k.restarts == 1; }, kWaitMs));
    plain.SetAccepting(false);
    plain.SetAccepting(true);
    plain.SetReplyDelay(60000);
    EXPECT_EQ(modbus_send_raw_request(*b, std::vector<uint8_t>{0xFF, 0x03, 0, 0, 0, 1}.data(), 6), 12);
    EXPECT_TRUE(plain.WaitFor([](const StationCounters& k) { return k.requestsExecuted == 2; }, kWaitMs));
  }  // the clients close first, then the simulator stops, with a reply still waiting
  EXPECT_EQ(EntriesIn("/proc/self/fd"), descriptors);
  EXPECT_EQ(EntriesIn("/proc/self/task"), threads);
}

// ---------------------------------------------------------------- chaos decisions

TEST(Chaos, PlansDependOnlyOnSeedStationAndSequence) {
  const ChaosConfig config = MakeChaos(1234, 0.5);
  ChaosConfig other = config;
  other.seed = 1235;
  int differentSeed = 0;
  int differentStation = 0;
  for (uint64_t n = 0; n < 2000; ++n) {
    const FaultPlan a = ChaosPlanFor(config, 1, n);
    const FaultPlan b = ChaosPlanFor(config, 1, n);
    ASSERT_EQ(a.kind, b.kind);
    ASSERT_EQ(a.detailSeed, b.detailSeed);
    differentSeed += ChaosPlanFor(other, 1, n).kind != a.kind;
    differentStation += ChaosPlanFor(config, 2, n).kind != a.kind;
  }
  EXPECT_GT(differentSeed, 500);
  EXPECT_GT(differentStation, 500);
}

TEST(Chaos, KindsFollowTheirProbabilities) {
  constexpr int kDraws = 26000;
  const ChaosConfig config = MakeChaos(99, 0.5);
  FaultCounts counts{};
  for (uint64_t n = 0; n < kDraws; ++n) ++counts[static_cast<int>(ChaosPlanFor(config, 4, n).kind)];
  const double perKind = kDraws * 0.5 / (kFaultKindCount - 1);
  for (int kind = 1; kind < kFaultKindCount; ++kind) {
    EXPECT_NEAR(static_cast<double>(counts[kind]), perKind, perKind * 0.2) << FaultKindName(static_cast<FaultKind>(kind));
  }
  EXPECT_NEAR(static_cast<double>(counts[0]), kDraws * 0.5, kDraws * 0.05);

  ChaosConfig onlyResets = MakeChaos(7, 1.0, 1u << static_cast<int>(FaultKind::kReset));
  ChaosConfig off = onlyResets;
  off.enabled = false;
  for (uint64_t n = 0; n < 100; ++n) {
    EXPECT_EQ(ChaosPlanFor(onlyResets, 1, n).kind, FaultKind::kReset);
    EXPECT_EQ(ChaosPlanFor(off, 1, n).kind, FaultKind::kNone);
  }
}

TEST(Chaos, KindNamesParse) {
  struct Case {
    const char* list;
    bool ok;
    uint32_t mask;
  };
  const Case cases[] = {
      {"late", true, 1u << 1},
      {"reset,restart", true, (1u << 2) | (1u << 13)},
      {"all", true, kAllFaultKinds},
      {"wrong-tid,wrong-unit,wrong-function", true, (1u << 5) | (1u << 6) | (1u << 7)},
      {"close-mid-frame,garbage,exception,short,long,split,duplicate", true,
       (1u << 3) | (1u << 4) | (1u << 8) | (1u << 9) | (1u << 10) | (1u << 11) | (1u << 12)},
      {"none", false, 0},
      {"lat", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t mask = 0;
    EXPECT_EQ(ParseFaultKinds(c.list, mask), c.ok) << c.list;
    if (c.ok) {
      EXPECT_EQ(mask, c.mask) << c.list;
    }
  }
  for (int kind = 0; kind < kFaultKindCount; ++kind) {
    EXPECT_STRNE(FaultKindName(static_cast<FaultKind>(kind)), "unknown");
  }
}

// Replies as libmodbus's server gives them, for the rendering tests.
struct SampleExchange {
  std::vector<uint8_t> request;
  std::vector<uint8_t> reply;
};

std::vector<SampleExchange> SampleExchanges() {
  return {
      // read 3 holding registers from 1000
      {{0x00, 0x07, 0, 0, 0, 6, 0x01, 0x03, 0x03, 0xE8, 0x00, 0x03},
       {0x00, 0x07, 0, 0, 0, 9, 0x01, 0x03, 0x06, 0x44, 0x7A, 0x20, 0x00, 0x03, 0xEA}},
      // read 10 coils
      {{0x12, 0x34, 0, 0, 0, 6, 0x05, 0x01, 0x00, 0x00, 0x00, 0x0A},
       {0x12, 0x34, 0, 0, 0, 5, 0x05, 0x01, 0x02, 0xAA, 0x02}},
      // write single register: the echo
      {{0x00, 0xFF, 0, 0, 0, 6, 0x02, 0x06, 0x00, 0x09, 0x12, 0x34},
       {0x00, 0xFF, 0, 0, 0, 6, 0x02, 0x06, 0x00, 0x09, 0x12, 0x34}},
      // write multiple registers
      {{0x00, 0x01, 0, 0, 0, 11, 0x00, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78},
       {0x00, 0x01, 0, 0, 0, 6, 0x00, 0x10, 0x00, 0x0A, 0x00, 0x02}},
      // an exception that the server itself gives
      {{0x00, 0x02, 0, 0, 0, 6, 0x01, 0x03, 0x00, 0x00, 0x00, 0x7E},
       {0x00, 0x02, 0, 0, 0, 3, 0x01, 0x83, 0x03}},
  };
}

std::vector<uint8_t> Bytes(const FaultOutcome& outcome) {
  return std::vector<uint8_t>(outcome.bytes, outcome.bytes + outcome.length);
}

// Wherever the bytes carry the request's unit id and function code at the
// offsets of a reply header, what follows is the correct reply's data.
void ExpectDataIntactWhereWellFormed(const std::vector<uint8_t>& bytes, const SampleExchange& sample,
                                     const std::string& context) {
  const size_t replyLength = sample.reply.size();
  for (size_t frame = 0; frame + 8 <= bytes.size(); frame += replyLength) {
    if (bytes[frame + 6] != sample.request[6] || bytes[frame + 7] != sample.request[7]) continue;
    for (size_t i = 8; i < replyLength && frame + i < bytes.size(); ++i) {
      ASSERT_EQ(bytes[frame + i], sample.reply[i]) << context << " frame at " << frame << " byte " << i;
    }
  }
}

TEST(Chaos, RenderingDamagesFramingAndTimingOnly) {
  ChaosConfig config = MakeChaos(5, 1.0);
  config.lateReplyDelayMs = 777;
  config.restartDownMs = 333;
  config.splitPauseMaxMs = 9;
  FaultOutcome outcome;
  for (const SampleExchange& sample : SampleExchanges()) {
    const std::vector<uint8_t>& reply = sample.reply;
    const int length = static_cast<int>(reply.size());
    const uint8_t function = sample.request[7];
    for (int kind = 0; kind < kFaultKindCount; ++kind) {
      for (uint64_t detail = 0; detail < 300; ++detail) {
        const FaultPlan plan{static_cast<FaultKind>(kind), detail * 0x9E3779B97F4A7C15ull + 1};
        const std::string context = std::string(FaultKindName(plan.kind)) + " detail " + std::to_string(detail) +
                                    " function " + std::to_string(function);
        const bool executes = PlanExecutesRequest(plan);
        ASSERT_EQ(executes, plan.kind != FaultKind::kException);
        RenderReply(plan, config, sample.request.data(), static_cast<int>(sample.request.size()),
                    executes ? reply.data() : nullptr, executes ? length : 0, outcome);
        const std::vector<uint8_t> bytes = Bytes(outcome);
        ExpectDataIntactWhereWellFormed(bytes, sample, context);
        const bool isPrefix = bytes.size() <= reply.size() && std::equal(bytes.begin(), bytes.end(), reply.begin());
        auto without = [&](std::initializer_list<size_t> offsets) {
          std::vector<uint8_t> a = bytes, b = reply;
          for (size_t o : offsets) a[o] = b[o] = 0;
          return a == b;
        };
        if (plan.kind != FaultKind::kSplitFrame && outcome.length > 0) {
          ASSERT_EQ(outcome.pieceCount, 1) << context;
          ASSERT_EQ(outcome.pieceEnd[0], outcome.length) << context;
        }
        ASSERT_EQ(outcome.delayMs, plan.kind == FaultKind::kLateReply ? 777u : 0u) << context;
        const Ending expectedEnding = plan.kind == FaultKind::kReset           ? Ending::kReset
                                      : plan.kind == FaultKind::kCloseMidFrame ? Ending::kClose
                                      : plan.kind == FaultKind::kRestart       ? Ending::kRestart
                                                                               : Ending::kKeepOpen;
        ASSERT_EQ(outcome.ending, expectedEnding) << context;
        switch (plan.kind) {
          case FaultKind::kNone:
          case FaultKind::kLateReply:
            ASSERT_EQ(bytes, reply) << context;
            break;
          case FaultKind::kReset:
            ASSERT_TRUE(bytes.empty()) << context;
            break;
          case FaultKind::kRestart:
            ASSERT_TRUE(bytes.empty()) << context;
            ASSERT_EQ(outcome.downMs, 333u) << context;
            break;
          case FaultKind::kCloseMidFrame:
          case FaultKind::kShortFrame:
            ASSERT_TRUE(isPrefix) << context;
            ASSERT_GE(bytes.size(), 1u) << context;
            ASSERT_LT(bytes.size(), reply.size()) << context;
            break;
          case FaultKind::kGarbage:
            ASSERT_GE(bytes.size(), 1u) << context;
            ASSERT_LE(bytes.size(), static_cast<size_t>(kMaxGarbageLength)) << context;
            if (bytes.size() > 7) {
              ASSERT_NE(bytes[7], function) << context;
              ASSERT_NE(bytes[7], function | 0x80) << context;
            }
            break;
          case FaultKind::kWrongTransactionId:
            ASSERT_NE(bytes[1], reply[1]) << context;
            ASSERT_TRUE(without({0, 1})) << context;
            break;
          case FaultKind::kWrongUnit:
            ASSERT_NE(bytes[6], reply[6]) << context;
            ASSERT_TRUE(without({6})) << context;
            break;
          case FaultKind::kWrongFunction:
            ASSERT_NE(bytes[7], function) << context;
            ASSERT_NE(bytes[7], function | 0x80) << context;
            ASSERT_TRUE(without({7})) << context;
            break;
          case FaultKind::kException: {
            const std::vector<uint8_t> head(sample.request.begin(), sample.request.begin() + 2);
            ASSERT_EQ(bytes.size(), 9u) << context;
            ASSERT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 2), head) << context;
            ASSERT_EQ(bytes[5], 3) << context;
            ASSERT_EQ(bytes[6], sample.request[6]) << context;
            ASSERT_EQ(bytes[7], function | 0x80) << context;
            ASSERT_GE(bytes[8], 1) << context;
            ASSERT_LE(bytes[8], 11) << context;
            break;
          }
          case FaultKind::kLongFrame: {
            ASSERT_GT(bytes.size(), reply.size()) << context;
            ASSERT_LE(bytes.size(), reply.size() + kMaxLongExtra) << context;
            ASSERT_TRUE(std::equal(reply.begin() + 6, reply.end(), bytes.begin() + 6)) << context;
            const size_t counted = (bytes[4] << 8) | bytes[5];
            ASSERT_EQ(counted + 6, bytes.size()) << context;
            break;
          }
          case FaultKind::kSplitFrame: {
            ASSERT_EQ(bytes, reply) << context;
            ASSERT_GE(outcome.pieceCount, 2) << context;
            ASSERT_LE(outcome.pieceCount, kMaxPieces) << context;
            ASSERT_EQ(outcome.pieceGapMs[0], 0u) << context;
            for (int p = 1; p < outcome.pieceCount; ++p) {
              ASSERT_GT(outcome.pieceEnd[p], outcome.pieceEnd[p - 1]) << context;
              ASSERT_GE(outcome.pieceGapMs[p], 1u) << context;
              ASSERT_LE(outcome.pieceGapMs[p], 9u) << context;
            }
            ASSERT_GT(outcome.pieceEnd[0], 0) << context;
            ASSERT_EQ(outcome.pieceEnd[outcome.pieceCount - 1], length) << context;
            break;
          }
          case FaultKind::kDuplicateReply: {
            std::vector<uint8_t> twice = reply;
            twice.insert(twice.end(), reply.begin(), reply.end());
            ASSERT_EQ(bytes, twice) << context;
            break;
          }
        }
      }
    }
  }
}

// ---------------------------------------------------------------- chaos on the wire

// What a raw client saw after one request.
struct Observed {
  std::vector<uint8_t> bytes;
  int end = 0;  // 0 complete, 1 no more bytes in time, 2 closed by the peer, 3 reset
  bool operator==(const Observed&) const = default;
};

class RawClient {
 public:
  // An answer is over when nothing more comes for this long.
  static constexpr int32_t kQuietMs = 400;

  explicit RawClient(const Station& station)
      : peer_(platform::MakeSocketAddress(station.Address().c_str(), station.Port())) {}
  ~RawClient() { Close(); }

  bool ConnectWithin(uint32_t milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
      socket_ = platform::SocketCreateTcp();
      platform::SocketSetSendTimeout(socket_, 1000);
      if (platform::SocketConnect(socket_, peer_) == 0) return true;
      Close();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  bool Connected() const { return socket_ != platform::kNoSocket; }
  void Close() {
    if (socket_ != platform::kNoSocket) platform::SocketClose(socket_);
    socket_ = platform::kNoSocket;
  }

  // Sends the request and collects the answer: until the expected length (or
  // a 9-byte exception) has come, plus whatever came with it, or the peer
  // closes, or nothing more comes for a while.
  Observed Exchange(const std::vector<uint8_t>& request, size_t expected) {
    Observed observed;
    platform::SocketSend(socket_, request.data(), static_cast<int>(request.size()));
    uint8_t buffer[1024];
    platform::SocketSetReceiveTimeout(socket_, kQuietMs);
    for (;;) {
      // The station sends an answer (a reply with its surplus or its twin
      // included) in one call, which arrives in one piece on loopback: once it
      // is complete, nothing more belongs to it.
      const int got = platform::SocketReceive(socket_, buffer, sizeof buffer);
      if (got > 0) {
        observed.bytes.insert(observed.bytes.end(), buffer, buffer + got);
        const bool exception = observed.bytes.size() == 9 && (observed.bytes[7] & 0x80) != 0;
        if (observed.bytes.size() >= expected || exception) break;
        continue;
      }
      if (got == 0) {
        observed.end = 2;
      } else if (platform::SocketLastError() == platform::kSockErrTimedOut) {
        observed.end = 1;
      } else {
        observed.end = 3;
      }
      break;
    }
    if (observed.end >= 2) Close();
    return observed;
  }

 private:
  platform::SocketAddressV4 peer_;
  platform::SocketHandle socket_ = platform::kNoSocket;
};

std::vector<uint8_t> ReadHoldingRequest(uint16_t transaction, uint8_t unit, uint16_t start, uint16_t count) {
  return {static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0, 0, 0, 6, unit,
          kReadHolding, static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start),
          static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
}

// The data of a read of holding registers is the start pattern wherever the
// answer looks like a reply to it.
void ExpectPatternWhereWellFormed(const Observed& observed, const std::vector<uint8_t>& request, int stationNumber,
                                  int& wellFormed) {
  const uint16_t start = static_cast<uint16_t>((request[8] << 8) | request[9]);
  const size_t count = (request[10] << 8) | request[11];
  const size_t expected = 9 + 2 * count;
  const std::vector<uint8_t>& bytes = observed.bytes;
  for (size_t frame = 0; frame + 9 <= bytes.size(); frame += expected) {
    if (bytes[frame + 6] != request[6] || bytes[frame + 7] != request[7]) continue;
    ++wellFormed;
    ASSERT_EQ(bytes[frame + 8], 2 * count);
    for (size_t k = 0; k < count && frame + 10 + 2 * k < bytes.size(); ++k) {
      const uint16_t value = static_cast<uint16_t>((bytes[frame + 9 + 2 * k] << 8) | bytes[frame + 10 + 2 * k]);
      ASSERT_EQ(value, StartRegister(Area::kHoldingRegisters, static_cast<uint16_t>(start + k), stationNumber))
          << "register " << start + k;
    }
  }
}

struct ChaosRun {
  std::vector<Observed> transcript;
  std::vector<FaultKind> history;
  FaultCounts faults{};
  int wellFormed = 0;
};

ChaosRun RunChaos(uint64_t seed, int requests) {
  // Every kind; those that leave the client waiting for bytes that never
  // come (short frames, short garbage) less often. Late replies come well
  // within the client's wait, so that each answer lands in its own request's
  // window however loaded the machine is.
  ChaosConfig chaos = MakeChaos(seed, 0.8);
  chaos.probability[static_cast<int>(FaultKind::kShortFrame)] = 0.01;
  chaos.probability[static_cast<int>(FaultKind::kGarbage)] = 0.015;
  chaos.lateReplyDelayMs = 5;
  chaos.restartDownMs = 20;
  chaos.splitPauseMaxMs = 5;
  Station station({.number = 9, .address = "127.0.0.9", .port = 0, .chaos = chaos});
  EXPECT_TRUE(station.Start()) << station.LastError();
  ChaosRun run;
  RawClient client(station);
  for (int i = 0; i < requests; ++i) {
    if (!client.Connected() && !client.ConnectWithin(kWaitMs)) {
      ADD_FAILURE() << "no connection for request " << i;
      break;
    }
    const auto request = ReadHoldingRequest(static_cast<uint16_t>(i), 9, static_cast<uint16_t>(i * 37 % 2900),
                                            static_cast<uint16_t>(1 + i % 5));
    run.transcript.push_back(client.Exchange(request, 9 + 2 * (1 + i % 5)));
    ExpectPatternWhereWellFormed(run.transcript.back(), request, 9, run.wellFormed);
  }
  run.history = station.FaultHistory();
  run.faults = station.Counters().faults;
  return run;
}

TEST(ChaosOnTheWire, TheSameSeedGivesTheSameFaultsAndBytes) {
  // A seed that meets every kind in 100 requests, and the costly short frame once.
  constexpr uint64_t kSeed = 2;
  constexpr int kRequests = 100;
  const ChaosRun first = RunChaos(kSeed, kRequests);
  const ChaosRun second = RunChaos(kSeed, kRequests);
  const ChaosRun other = RunChaos(kSeed + 1, kRequests / 4);
  ASSERT_EQ(first.history.size(), static_cast<size_t>(kRequests));
  EXPECT_EQ(first.history, second.history);
  EXPECT_EQ(first.faults, second.faults);
  ASSERT_EQ(first.transcript.size(), second.transcript.size());
  for (size_t i = 0; i < first.transcript.size(); ++i) {
    EXPECT_EQ(first.transcript[i], second.transcript[i])
        << "request " << i << " fault " << FaultKindName(first.history[i]);
  }
  EXPECT_NE(std::vector<FaultKind>(first.history.begin(), first.history.begin() + kRequests / 4), other.history);
  // Every kind was met, so the comparison covers them all.
  for (int kind = 1; kind < kFaultKindCount; ++kind) {
    EXPECT_GT(first.faults[kind], 0u) << FaultKindName(static_cast<FaultKind>(kind));
  }
  EXPECT_GT(first.wellFormed, kRequests / 3);
  uint64_t decided = 0;
  for (uint64_t count : first.faults) decided += count;
  EXPECT_EQ(decided, static_cast<uint64_t>(kRequests));
}

TEST(ChaosOnTheWire, LibmodbusNeverReadsAWrongValueNorWritesOneWrongly) {
  ChaosConfig chaos = MakeChaos(77, 0.25);
  chaos.lateReplyDelayMs = 400;  // past the client's time-out
  chaos.restartDownMs = 30;
  chaos.splitPauseMaxMs = 5;
  Station station({.number = 5, .address = "127.0.0.5", .port = 0, .chaos = chaos});
  ASSERT_TRUE(station.Start()) << station.LastError();
  Client client(station, 5, 300);
  ASSERT_TRUE(client.ConnectWithin(kWaitMs));
  int successes = 0;
  int failures = 0;
  for (int i = 0; i < 160; ++i) {
    const uint16_t address = static_cast<uint16_t>(100 + i % 50);
    bool ok = false;
    switch (i % 4) {
      case 0: {
        uint16_t values[4];
        ok = modbus_read_registers(*client, address, 4, values) == 4;
        for (int k = 0; ok && k < 4; ++k) {
          ASSERT_EQ(values[k], station.GetRegister(Area::kHoldingRegisters, static_cast<uint16_t>(address + k)));
        }
        break;
      }
      case 1: {
        const uint16_t value = static_cast<uint16_t>(0xA000 + i);
        ok = modbus_write_register(*client, address, value) == 1;
        if (ok) {
          ASSERT_EQ(station.GetRegister(Area::kHoldingRegisters, address), value);
        }
        break;
      }
      case 2: {
        uint8_t bits[12];
        ok = modbus_read_bits(*client, address, 12, bits) == 12;
        for (int k = 0; ok && k < 12; ++k) {
          ASSERT_EQ(bits[k] != 0, station.GetBit(Area::kCoils, static_cast<uint16_t>(address + k)));
        }
        break;
      }
      case 3: {
        const uint16_t values[2] = {static_cast<uint16_t>(i), static_cast<uint16_t>(~i)};
        ok = modbus_write_registers(*client, address, 2, values) == 2;
        if (ok) {
          ASSERT_EQ(station.GetPair(Area::kHoldingRegisters, address), JoinWords(values[0], values[1]));
        }
        break;
      }
    }
    if (ok) {
      ++successes;
      continue;
    }
    ++failures;
    client.Reconnect();  // drops whatever stale bytes the fault left
  }
  EXPECT_GT(successes, 60);
  EXPECT_GT(failures, 5);
  EXPECT_GT(station.Counters().FaultTotal(), 0u);
}

TEST(ChaosOnTheWire, ARestartClosesEveryConnectionAndRefusesConnectsForAWhile) {
  ChaosConfig chaos = MakeChaos(1, 1.0, 1u << static_cast<int>(FaultKind::kRestart));
  chaos.restartDownMs = 1000;
  Station station({.number = 2, .address = "127.0.0.2", .port = 0, .chaos = chaos});
  ASSERT_TRUE(station.Start()) << station.LastError();
  const uint16_t port = station.Port();
  Client idle(station);
  Client asking(station);
  ASSERT_TRUE(idle.Connect());
  ASSERT_TRUE(asking.Connect());
  uint16_t value;
  EXPECT_EQ(modbus_read_registers(*asking, 0, 1, &value), -1);
  Client refused(station);
  EXPECT_FALSE(refused.Connect());
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_EQ(modbus_read_registers(*idle, 0, 1, &value), -1);  // closed too

  station.SetChaos({});
  Client later(station);
  ASSERT_TRUE(later.ConnectWithin(kWaitMs));
  EXPECT_EQ(ReadRegisters(later, Area::kHoldingRegisters, 8, 1)[0], 8);
  EXPECT_EQ(station.Port(), port);
  const StationCounters counters = station.Counters();
  EXPECT_EQ(counters.restarts, 1u);
  EXPECT_EQ(counters.faults[static_cast<int>(FaultKind::kRestart)], 1u);
}

// ---------------------------------------------------------------- the program

TEST(CommandLine, HelpShowsOptionsAndTheStartPattern) {
  std::ostringstream out, err;
  char* argv[] = {const_cast<char*>("plcsim"), const_cast<char*>("--help")};
  EXPECT_EQ(RunCommandLine(2, argv, out, err), 0);
  for (const char* text : {"--station N=IP[:PORT]", "--chaos SEED", "--chaos-rate P", "--duration S",
                           "Start pattern", "r + 0.5", "station N listening on IP:PORT"}) {
    EXPECT_NE(out.str().find(text), std::string::npos) << text;
  }
}

TEST(CommandLine, BadArgumentsExitWithTwoAndAnUnusableAddressWithOne) {
  const std::vector<std::vector<std::string>> bad = {
      {"--station", "1"},           {"--station", "x=127.0.0.1"}, {"--station", "1=127.0.0.1:99999"},
      {"--station"},                {"--duration", "-1"},         {"--chaos", "seed"},
      {"--chaos-rate", "1.5"},      {"--chaos-kinds", "bogus"},   {"--delay", "soon"},
      {"--frobnicate"}};
  for (const auto& arguments : bad) {
    std::vector<std::string> words = {"plcsim"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    std::ostringstream out, err;
    EXPECT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err), 2) << words[1];
    EXPECT_NE(err.str().find("--help"), std::string::npos) << err.str();
  }
  std::string words[] = {"plcsim", "--station", "1=192.168.0.10:1502", "--duration", "0"};
  char* argv[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), words[4].data()};
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine(5, argv, out, err), 1);
  EXPECT_NE(err.str().find("loopback"), std::string::npos) << err.str();
}

TEST(CommandLine, ServesUntilSignalledAndPrintsItsCounters) {
  // A port that was free a moment ago.
  const platform::SocketHandle probe =
      platform::SocketListen(platform::MakeSocketAddress("127.0.0.3", 0), 1);
  ASSERT_NE(probe, platform::kNoSocket);
  const uint16_t port = platform::SocketLocalPort(probe);
  platform::SocketClose(probe);

  std::string words[] = {"plcsim", "--station", "4=127.0.0.3:" + std::to_string(port), "--station", "5=127.0.0.4",
                         "--chaos", "11", "--chaos-rate", "0", "--duration", "60"};
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  std::ostringstream out, err;
  int status = -1;
  std::thread program([&] { status = RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err); });

  // Once a client is served the stations run, with the signals blocked.
  modbus_t* client = modbus_new_tcp("127.0.0.3", port);
  bool connected = false;
  for (int attempt = 0; attempt < 500 && !connected; ++attempt) {
    connected = modbus_connect(client) == 0;
    if (!connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(connected);
  uint16_t value = 0;
  EXPECT_EQ(modbus_read_registers(client, kStationNumberRegister, 1, &value), 1);
  EXPECT_EQ(value, 4);
  modbus_close(client);
  modbus_free(client);
  pthread_kill(program.native_handle(), SIGTERM);
  program.join();

  EXPECT_EQ(status, 0) << err.str();
  const std::string text = out.str();
  EXPECT_TRUE(std::regex_search(text, std::regex("^station 4 listening on 127\\.0\\.0\\.3:" + std::to_string(port) +
                                                 "\nstation 5 listening on 127\\.0\\.0\\.4:[1-9][0-9]*\nready\n")))
      << text;
  EXPECT_NE(text.find("station 4 counters received=1 dropped=0 executed=1 replies=1 connections=1 restarts=0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("station 4 faults late=0 reset=0 close-mid-frame=0 garbage=0 wrong-tid=0 wrong-unit=0 "
                      "wrong-function=0 exception=0 short=0 long=0 split=0 duplicate=0 restart=0 total=0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("station 5 counters received=0"), std::string::npos) << text;
}

}  // namespace
}  // namespace plcsim

#else  // the simulator is built on libmodbus, for Linux only

TEST(Plcsim, RunsOnLinuxOnly) { GTEST_SKIP() << "the PLC simulator is built for Linux only"; }

#endif
