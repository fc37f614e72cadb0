// Writes through VpiMain against scripted peers with a PLC memory behind them:
// every request on the wire, the read-modify-write of bits and bytes, blocks at
// their limits, ST_ONLINE, every refusal with its log line, and concurrent
// writes that lose nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
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
using testing::RegisterBank;

Bytes Pdu(const Bytes& frame) { return Bytes(frame.begin() + 6, frame.end()); }

const char kExit1[] = "TOLDEX: SingleWrite() exited, rc= 1";
const char kExit2[] = "TOLDEX: SingleWrite() exited, rc= 2";

std::string TagsLine(int32_t plcNumber, int station) {
  return "TolDEX : SingleRead() Tags for plc " + std::to_string(plcNumber) + " is read from plc " +
         std::to_string(station) + " sur ip : 127.0.0.1";
}

void Slot16(uint8_t (&slot)[4], uint16_t value) {
  std::memset(slot, 0x5A, sizeof slot);  // bytes 0 and 1 are not the value's
  StoreSlot16(slot, value);
}

TEST(WritePath, SingleWritesOnTheWire) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  struct Case {
    const char* what;
    int32_t memoryType;
    int32_t registerAddress;
    int32_t bitWidth;
    uint16_t options;
    uint32_t value;
    Bytes request;
  };
  const Case cases[] = {
      {"coil 5", 0, 4, 1, 0, 5, {1, 0x05, 0, 4, 0xFF, 0x00}},
      {"coil 0", 0, 4, 1, 0, 0, {1, 0x05, 0, 4, 0x00, 0x00}},
      {"register", 4, 9, 16, 0, 0x1234, {1, 0x06, 0, 9, 0x12, 0x34}},
      {"long", 8, 5, 32, 0, 0x12345678, {1, 0x10, 0, 10, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}},
      {"long SWAP", 8, 5, 32, kOptionSwap, 0x12345678, {1, 0x10, 0, 10, 0, 2, 4, 0x56, 0x78, 0x12, 0x34}},
      {"long FLOATSWAP", 8, 5, 32, kOptionFloatSwap, 0x12345678,
       {1, 0x10, 0, 10, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}},
      {"float FLOATSWAP", 7, 5, 32, kOptionFloatSwap, 0x3F800000,
       {1, 0x10, 0, 10, 0, 2, 4, 0x00, 0x00, 0x3F, 0x80}},
      {"float SWAP", 7, 5, 32, kOptionSwap, 0x3F800000, {1, 0x10, 0, 10, 0, 2, 4, 0x3F, 0x80, 0x00, 0x00}},
      {"long LONGADDR", 8, 5, 32, kOptionLongAddr, 0x01020304,
       {1, 0x10, 0, 5, 0, 2, 4, 0x01, 0x02, 0x03, 0x04}},
  };
  for (const Case& c : cases) {
    bench.record().options = c.options;
    uint8_t slot[4];
    if (c.bitWidth == 32) {
      StoreSlot32(slot, c.value);
    } else {
      Slot16(slot, static_cast<uint16_t>(c.value));
    }
    GateIo gate = MakeGate(1, c.memoryType, c.registerAddress, -1, c.bitWidth, 1, slot);
    LogCapture log;
    ASSERT_EQ(bench.Call(kOpSingleWrite, gate), 0) << c.what << "\n" << log.Dump();
    EXPECT_EQ(Pdu(bench.peer(1).Requests().back()), c.request) << c.what;
    EXPECT_TRUE(log.Has(TagsLine(1, 1), 8)) << log.Dump();
    EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();
  }
  EXPECT_EQ(bank.Holding(9), 0x1234);
  EXPECT_EQ(bench.record().stations[1].numSuccess, 9u);
}

TEST(WritePath, BitAndByteWritesReadTheRegisterAndWriteItBackChanged) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  struct Case {
    const char* what;
    uint16_t before;
    int32_t memoryType;
    int32_t bitNumber;
    int32_t bitWidth;
    uint16_t value;
    uint16_t after;
  };
  const Case cases[] = {
      {"set bit 2", 0x00F0, 4, 2, 16, 1, 0x00F4},      {"clear bit 4", 0x00F0, 4, 4, 16, 0, 0x00E0},
      {"high byte bit 3", 0x0000, 516, 3, 1, 1, 0x0800}, {"again", 0x0800, 516, 3, 1, 1, 0x0800},
      {"clear high bit 3", 0xFFFF, 516, 3, 1, 0, 0xF7FF}, {"low byte bit 7", 0x0000, 260, 7, 1, 1, 0x0080},
      {"low byte", 0xABCD, 260, -1, 16, 0x55, 0xAB55},   {"high byte", 0xABCD, 516, -1, 16, 0x55, 0x55CD},
      {"bit 15", 0x0000, 4, 15, 16, 1, 0x8000},
  };
  for (const Case& c : cases) {
    bank.SetHolding(9, c.before);
    uint8_t slot[4];
    Slot16(slot, c.value);
    GateIo gate = MakeGate(1, c.memoryType, 9, c.bitNumber, c.bitWidth, 1, slot);
    const size_t before = bench.peer(1).RequestCount();
    ASSERT_EQ(bench.Call(kOpSingleWrite, gate), 0) << c.what;
    const auto requests = bench.peer(1).Requests();
    ASSERT_EQ(requests.size(), before + 2) << c.what;
    EXPECT_EQ(Pdu(requests[before]), (Bytes{1, 0x03, 0, 9, 0, 1})) << c.what;
    EXPECT_EQ(Pdu(requests[before + 1]),
              (Bytes{1, 0x06, 0, 9, static_cast<uint8_t>(c.after >> 8), static_cast<uint8_t>(c.after)}))
        << c.what;
    EXPECT_EQ(bank.Holding(9), c.after) << c.what;
  }
}

TEST(WritePath, AFailedRegisterReadEndsTheBitWrite) {
  AccessBench bench;
  bench.AddStation(1);
  uint8_t slot[4];
  Slot16(slot, 1);
  GateIo gate = MakeGate(1, 4, 65535, 2, 16, 1, slot);
  bench.peer(1).SetResponder([](const Bytes& request) {
    return testing::PeerAction::Reply(testing::ExceptionReply(request, 2));
  });
  LogCapture log;
  EXPECT_EQ(bench.Call(kOpSingleWrite, gate), 1);
  EXPECT_TRUE(log.Has("TOLDEX: SingleWrite() error SingleRead() for spec. dig. gate, rc=1", 8)) << log.Dump();
  EXPECT_EQ(log.Count(kExit1), 0);
  EXPECT_EQ(bench.peer(1).RequestCount(), 1u);  // the read, no write
}

TEST(WritePath, BlockWritesAtTheirLimitsAndOneMoreRefused) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  std::vector<uint8_t> host(256);
  for (size_t i = 0; i < host.size(); ++i) host[i] = static_cast<uint8_t>(i * 7 + 1);

  struct Case {
    int32_t memoryType;
    int32_t bitWidth;
    int32_t count;
    Bytes header;  // unit, function, start, quantity, byte count
  };
  const Case allowed[] = {{0, 1, 10, {1, 0x0F, 0, 0, 0, 10, 2}},
                          {0, 1, 1968, {1, 0x0F, 0, 0, 0x07, 0xB0, 246}},
                          {4, 16, 123, {1, 0x10, 0, 0, 0, 123, 246}},
                          {8, 32, 61, {1, 0x10, 0, 0, 0, 122, 244}}};
  for (const Case& c : allowed) {
    GateIo gate = MakeGate(1, c.memoryType, 0, -1, c.bitWidth, c.count, host.data());
    LogCapture log;
    ASSERT_EQ(bench.Call(kOpBlockWrite, gate), 0) << c.count << "\n" << log.Dump();
    const Bytes pdu = Pdu(bench.peer(1).Requests().back());
    EXPECT_EQ(Bytes(pdu.begin(), pdu.begin() + 7), c.header) << c.count;
    EXPECT_EQ(pdu.size(), 7u + c.header[6]) << c.count;
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
  }
  // What arrived in the PLC's memory is what the host gave.
  for (int i = 0; i < 1968; ++i) ASSERT_EQ(bank.Coil(static_cast<uint16_t>(i)), ((host[i / 8] >> (i % 8)) & 1) != 0) << i;
  for (int k = 0; k < 61; ++k) {
    const uint32_t value = LoadSlot32(host.data() + 4 * k);
    ASSERT_EQ(bank.Holding(static_cast<uint16_t>(2 * k)), value >> 16) << k;
    ASSERT_EQ(bank.Holding(static_cast<uint16_t>(2 * k + 1)), value & 0xFFFF) << k;
  }

  const size_t requests = bench.peer(1).RequestCount();
  const int32_t tooLong[][3] = {{0, 1, 1969}, {4, 16, 124}, {8, 32, 62}, {7, 32, 62}, {260, 16, 124}};
  for (const auto& r : tooLong) {
    GateIo gate = MakeGate(1, r[0], 0, -1, r[1], r[2], host.data());
    LogCapture log;
    EXPECT_EQ(bench.Call(kOpBlockWrite, gate), 1);
    ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
    EXPECT_EQ(log.Lines()[0].text, "TOLDEX: BlockWrite(): Block length is too long");
    EXPECT_EQ(log.Lines()[0].level, 32);
  }
  EXPECT_EQ(bench.peer(1).RequestCount(), requests);
}

TEST(WritePath, RefusalsAndTheirLogLines) {
  AccessBench bench;
  bench.AddStation(1);
  bench.AddStation(5);
  struct Case {
    const char* what;
    int32_t op;
    int32_t plcNumber;
    int32_t memoryType;
    int32_t bitNumber;
    int32_t bitWidth;
    int32_t count;
    int32_t status;
    std::vector<testing::LogLine> lines;
  };
  const std::string tags = TagsLine(1, 1);
  const Case cases[] = {
      {"single write of an input bit", kOpSingleWrite, 1, 1, -1, 1, 1, 1,
       {{8, tags}, {8, "TOLDEX: SingleWrite() not allowed for types 1,3,5 and 6"}}},
      {"single write of an input register", kOpSingleWrite, 1, 3, -1, 16, 1, 1,
       {{8, tags}, {8, "TOLDEX: SingleWrite() not allowed for types 1,3,5 and 6"}}},
      {"single write of an input float", kOpSingleWrite, 1, 5, -1, 32, 1, 1,
       {{8, tags}, {8, "TOLDEX: SingleWrite() not allowed for types 1,3,5 and 6"}}},
      {"single write of an input bit of a register", kOpSingleWrite, 1, 3, 2, 1, 1, 1,
       {{8, tags}, {8, "TOLDEX: SingleWrite() not allowed for types 1,3,5 and 6"}}},
      {"block write of input longs", kOpBlockWrite, 1, 6, -1, 32, 2, 1,
       {{32, "TOLDEX: BlockParse() no writing possible on inputs tags!"}}},
      {"block write of input bits", kOpBlockWrite, 1, 1, -1, 1, 8, 1,
       {{32, "TOLDEX: BlockParse() no writing possible on inputs tags!"}}},
      {"block write of width 8", kOpBlockWrite, 1, 4, -1, 8, 2, 1, {}},
      {"NUMCOMMS", kOpSingleWrite, 1005, 1000, -1, 0, 1, 1,
       {{32, "TOLDEX: DoWrite() Writing not allowed to tag 'gate'"}}},
      {"COMMFAILS", kOpSingleWrite, 1005, 1005, -1, 0, 1, 1,
       {{32, "TOLDEX: DoWrite() Writing not allowed to tag 'gate'"}}},
      {"block write of a switch gate", kOpBlockWrite, 100001, 0, 255, 16, 1, 0, {}},
      {"block write of a switch marker of no PLC", kOpBlockWrite, 100000, 0, 255, 16, 1, 0, {}},
      {"block write of any switch marker", kOpBlockWrite, 199999, 0, 255, 16, 1, 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> host(16, 0);
    GateIo gate = MakeGate(c.plcNumber, c.memoryType, 0, c.bitNumber, c.bitWidth, c.count, host.data());
    LogCapture log;
    EXPECT_EQ(bench.Call(c.op, gate), c.status) << c.what;
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), c.lines.size()) << c.what << "\n" << log.Dump();
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].text, c.lines[i].text) << c.what;
      EXPECT_EQ(lines[i].level, c.lines[i].level) << c.what;
    }
  }
  EXPECT_EQ(bench.peer(1).RequestCount(), 0u);
  EXPECT_EQ(bench.peer(5).RequestCount(), 0u);
}

TEST(WritePath, RecordsTheParsersNeverProduceAreRefusedWithoutTouchingAnything) {
  AccessBench bench;
  bench.AddStation(1);
  bench.Pair(1, 2, 0.0);
  struct Case {
    int32_t op;
    int32_t plcNumber;
    int32_t memoryType;
    int32_t bitNumber;
    int32_t count;
  };
  const Case cases[] = {
      {kOpSingleWrite, 0, 4, -1, 1},      {kOpSingleWrite, 65, 4, -1, 1},    {kOpSingleWrite, 100000, 4, -1, 1},
      {kOpSingleWrite, 100065, 4, -1, 1}, {kOpSingleWrite, 1256, 1003, -1, 1}, {kOpSingleWrite, 200000, 4, -1, 1},
      {kOpSingleWrite, 200065, 4, -1, 1}, {kOpSingleWrite, 1, 9, -1, 1},     {kOpSingleWrite, 1, 4, 16, 1},
      {kOpSingleWrite, 1, 260, 8, 1},     {kOpBlockWrite, 0, 4, -1, 1},      {kOpBlockWrite, 65, 4, -1, 1},
      {kOpBlockWrite, 200065, 4, -1, 1},  {kOpBlockWrite, 1005, 1003, -1, 1}, {kOpBlockWrite, 1, 9, -1, 1},
      {kOpBlockWrite, 1, 4, -1, 0},       {kOpBlockWrite, 1, 4, -1, -5},     {kOpBlockWrite, 1, 4, -1, INT32_MIN},
  };
  StoreShared(bench.record().switchPending, int32_t{1});
  for (const Case& c : cases) {
    uint8_t slot[4];
    Slot16(slot, 1);
    GateIo gate = MakeGate(c.plcNumber, c.memoryType, 0, c.bitNumber, 16, c.count, slot);
    LogCapture log;
    EXPECT_EQ(bench.Call(c.op, gate), 1) << c.op << " " << c.plcNumber << " " << c.memoryType;
    ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
    EXPECT_EQ(log.Lines()[0].text.rfind(std::string("TOLDEX: ") + (c.op == kOpSingleWrite ? "SingleWrite" : "BlockWrite") +
                                           "() refused tag 'gate'", 0), 0u)
        << log.Dump();
  }
  EXPECT_EQ(bench.peer(1).RequestCount(), 0u);
  EXPECT_EQ(LoadShared(bench.record().switchPending), 1);  // nothing reported
  EXPECT_EQ(LoadSwitchValue(bench.record(), 1), 0.0);
}

TEST(WritePath, ASingleWriteOfASwitchGateIsIgnoredWhateverItsId) {
  AccessBench bench;
  bench.AddStation(3);
  bench.Pair(3, 9, 0.0);
  bench.record().backups[3].switchGateId = 41;
  for (int32_t gateId : {41, 0, 12345}) {
    uint8_t slot[4];
    Slot16(slot, 1);
    GateIo gate = MakeGate(100003, 0, 100000, 255, 16, 1, slot, "03BACKUP");
    gate.gateId = gateId;
    LogCapture log;
    EXPECT_EQ(bench.Call(kOpSingleWrite, gate), 0);
    ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
    EXPECT_EQ(log.Lines()[0].text, "TOLDEX: SingleWrite, writing on Plc Switch Tag that has id " + std::to_string(gateId));
    EXPECT_EQ(log.Lines()[0].level, 32);
  }
  EXPECT_EQ(LoadSwitchValue(bench.record(), 3), 0.0);
  EXPECT_EQ(bench.peer(3).RequestCount(), 0u);
}

TEST(WritePath, AnOrdinaryGateWithIdZeroIsWritten) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(3);
  for (BackupEntry& entry : bench.record().backups) entry.switchGateId = 0;
  uint8_t slot[4];
  Slot16(slot, 0x7777);
  GateIo gate = HoldingGate(3, 9, slot);
  gate.gateId = 0;
  EXPECT_EQ(bench.Call(kOpSingleWrite, gate), 0);
  EXPECT_EQ(bank.Holding(9), 0x7777);
}

TEST(WritePath, StOnlineSetsTheStationsFlagAlsoBeforeAFullStart) {
  AccessBench bench;
  bench.record().started = 0;
  struct Case {
    uint16_t value;
    int32_t online;
    const char* line;
  };
  const Case cases[] = {{2, 0, "TOLDEX: SingleWrite() Setting PLC 7 status to 'OFF LINE'"},
                        {1, 1, "TOLDEX: SingleWrite() Setting PLC 7 status to 'ON LINE'"},
                        {0, 0, "TOLDEX: SingleWrite() Setting PLC 7 status to 'OFF LINE'"},
                        {0x0101, 0, "TOLDEX: SingleWrite() Setting PLC 7 status to 'OFF LINE'"}};
  for (const Case& c : cases) {
    uint8_t slot[4];
    Slot16(slot, c.value);
    GateIo gate = MakeGate(1007, 1003, 0, 0, 0, 1, slot, "$ST_ONLINE:07");
    LogCapture log;
    EXPECT_EQ(bench.Call(kOpSingleWrite, gate), 0);
    EXPECT_EQ(bench.record().stations[7].online, c.online) << c.value;
    ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
    EXPECT_EQ(log.Lines()[0].text, c.line);
    EXPECT_EQ(log.Lines()[0].level, 32);
  }
}

TEST(WritePath, ASingleWriteBeforeAFullStartIsRefusedAfterItsStationLine) {
  AccessBench bench;
  bench.AddStation(1);
  bench.record().started = 0;
  uint8_t slot[4];
  Slot16(slot, 5);
  GateIo gate = HoldingGate(1, 9, slot);
  LogCapture log;
  EXPECT_EQ(bench.Call(kOpSingleWrite, gate), 1);
  ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
  EXPECT_EQ(log.Lines()[0].text, TagsLine(1, 1));
  EXPECT_EQ(bench.peer(1).RequestCount(), 0u);
  // Block writes do not look at it.
  GateIo block = MakeGate(1, 4, 9, -1, 16, 1, slot);
  EXPECT_EQ(bench.Call(kOpBlockWrite, block), 0);
}

TEST(WritePath, AnExceptionReplyEndsWithTheExitLine) {
  AccessBench bench;
  bench.AddStation(1);
  uint8_t slot[4];
  Slot16(slot, 5);
  GateIo gate = MakeGate(1, 8, 5, -1, 32, 1, slot);
  bench.peer(1).SetResponder([](const Bytes& request) {
    return testing::PeerAction::Reply(testing::ExceptionReply(request, 4));
  });
  LogCapture log;
  EXPECT_EQ(bench.Call(kOpSingleWrite, gate), 1);
  EXPECT_TRUE(log.Has("TOLDEX: DoWrite() writing tag 'gate' Blocksize 1 failed. Errorcode: 04h - Server Failure", 8))
      << log.Dump();
  EXPECT_EQ(log.Count(kExit1, 8), 1);
  EXPECT_EQ(bench.record().stations[1].errors, 1u);
}

TEST(WritePath, AScrutBitWriteReadsAndWritesItsOwnStation) {
  // While the backup serves PLC 3, a bit write of 3's _SCRUT gate changes
  // station 3's register, read from station 3; the backup is left alone.
  AccessBench bench;
  RegisterBank& master = bench.AddStation(3);
  RegisterBank& backup = bench.AddStation(9);
  master.SetHolding(9, 0x0F00);
  backup.SetHolding(9, 0x00FF);
  bench.Pair(3, 9, 1.0);
  uint8_t slot[4];
  Slot16(slot, 1);
  GateIo gate = MakeGate(200003, 4, 9, 0, 16, 1, slot, "01400100_SCRUT");
  ASSERT_EQ(bench.Call(kOpSingleWrite, gate), 0);
  EXPECT_EQ(master.Holding(9), 0x0F01);
  EXPECT_EQ(backup.Holding(9), 0x00FF);
  EXPECT_EQ(bench.peer(9).RequestCount(), 0u);
  EXPECT_EQ(bench.peer(3).RequestCount(), 2u);

  // The ordinary gate of PLC 3 goes to the backup, read and written there.
  GateIo ordinary = MakeGate(3, 4, 9, 1, 16, 1, slot);
  ASSERT_EQ(bench.Call(kOpSingleWrite, ordinary), 0);
  EXPECT_EQ(backup.Holding(9), 0x00FF);  // bit 1 was already set
  Slot16(slot, 0);
  ASSERT_EQ(bench.Call(kOpSingleWrite, ordinary), 0);
  EXPECT_EQ(backup.Holding(9), 0x00FD);
  EXPECT_EQ(master.Holding(9), 0x0F01);
}

TEST(WritePath, APlcWithoutBackupIsWrittenOnItsOwnStationWhateverTheSwitch) {
  AccessBench bench;
  RegisterBank& zero = bench.AddStation(0);
  RegisterBank& own = bench.AddStation(4);
  bench.Pair(4, 0, 1.0);
  uint8_t slot[4];
  Slot16(slot, 0x4444);
  GateIo gate = HoldingGate(4, 9, slot);
  ASSERT_EQ(bench.Call(kOpSingleWrite, gate), 0);
  EXPECT_EQ(own.Holding(9), 0x4444);
  EXPECT_EQ(zero.Holding(9), 0);
  EXPECT_EQ(bench.peer(0).RequestCount(), 0u);
}

TEST(WritePath, ThreadsWritingBitsOfOneRegisterLoseNoChange) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  bank.SetHolding(9, 0x0000);
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  std::vector<std::thread> threads;
  std::vector<int32_t> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&bench, &failures, t] {
      for (int round = 0; round < kRounds; ++round) {
        // Each thread owns bits t and t + 8: it sets them in even rounds, clears them in odd ones.
        const uint16_t value = round % 2 == 0 ? 1 : 0;
        for (int32_t bit : {t, t + 8}) {
          uint8_t slot[4] = {};
          StoreSlot16(slot, value);
          GateIo gate = MakeGate(1, 4, 9, bit, 16, 1, slot);
          if (bench.Call(kOpSingleWrite, gate) != 0) ++failures[t];
          // Between its own writes, the thread's bits must be as it left them.
          uint8_t check[4] = {};
          GateIo read = MakeGate(1, 4, 9, bit, 16, 1, check);
          if (bench.Call(kOpSingleRead, read) != 0 || LoadSlot16(check) != value) ++failures[t];
        }
      }
      // Last round is odd: clear; then set both bits for good.
      for (int32_t bit : {t, t + 8}) {
        uint8_t slot[4] = {};
        StoreSlot16(slot, 1);
        GateIo gate = MakeGate(1, 4, 9, bit, 16, 1, slot);
        if (bench.Call(kOpSingleWrite, gate) != 0) ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_EQ(bank.Holding(9), 0xFFFF);
}

TEST(WritePath, ConcurrentWritesEachSendTheirOwnRequest) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  bench.AddStation(2);
  constexpr int kThreads = 6;
  constexpr int kWrites = 30;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&bench, t] {
      for (int i = 0; i < kWrites; ++i) {
        uint8_t slot[4] = {};
        if (t % 2 == 0) {
          StoreSlot16(slot, static_cast<uint16_t>(t * 1000 + i));
          GateIo gate = HoldingGate(t == 2 ? 2 : 1, static_cast<int32_t>(100 + t), slot);
          bench.Call(kOpSingleWrite, gate);
        } else {
          StoreSlot32(slot, static_cast<uint32_t>(t) << 24 | static_cast<uint32_t>(i));
          GateIo gate = MakeGate(1, 8, 200 + t, -1, 32, 1, slot);
          bench.Call(kOpSingleWrite, gate);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Every request carries the address and value of one call of one thread.
  for (int s : {1, 2}) {
    for (const Bytes& frame : bench.peer(s).Requests()) {
      const Bytes pdu = Pdu(frame);
      const int start = pdu[2] << 8 | pdu[3];
      if (pdu[1] == 0x06) {
        const int t = start - 100;
        ASSERT_TRUE(t >= 0 && t < kThreads && t % 2 == 0) << start;
        const int value = pdu[4] << 8 | pdu[5];
        EXPECT_EQ(value / 1000, t);
      } else {
        ASSERT_EQ(pdu[1], 0x10);
        const int t = start / 2 - 200;
        ASSERT_TRUE(t >= 0 && t < kThreads && t % 2 == 1) << start;
        EXPECT_EQ(pdu[7], t);
      }
    }
  }
  EXPECT_EQ(bank.Holding(100) , kWrites - 1);
}

}  // namespace
}  // namespace toldex
