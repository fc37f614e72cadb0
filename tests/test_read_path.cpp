// Reads through VpiMain against scripted peers with a PLC memory behind them:
// every memory type on the wire and in the value slot, blocks at their
// limits, switch and diagnostic gates answered from memory, and the records
// that the address parsers never produce refused untouched.
#include <gtest/gtest.h>

#include <cstring>
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
using testing::RegisterBank;

// The request as framed on the wire, from its unit identifier on.
Bytes Pdu(const Bytes& frame) { return Bytes(frame.begin() + 6, frame.end()); }
Bytes Take(const uint8_t* bytes, int length) { return Bytes(bytes, bytes + length); }

std::string ReadLine(int32_t plcNumber, int station) {
  return "TolDEX : SingleRead() Tags for plc " + std::to_string(plcNumber) + " is read from plc " +
         std::to_string(station) + " sur ip : 127.0.0.1";
}

struct SlotCase {
  const char* what;
  int32_t memoryType;
  int32_t registerAddress;
  int32_t bitNumber;
  int32_t bitWidth;
  Bytes request;  // unit id and PDU
  Bytes slot;     // the value slot afterwards, from 0xEE
};

TEST(ReadPath, EveryMemoryTypeOnTheWireAndInTheValueSlot) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  bank.SetCoil(4, true);
  bank.SetDiscrete(5, false);
  bank.SetDiscrete(6, true);
  bank.SetInput(3, 0x8001);
  bank.SetHolding(9, 0xABCD);
  bank.SetInput(4, 0x3F80);
  bank.SetInput(5, 0x0000);
  bank.SetInput(6, 0xCAFE);
  bank.SetInput(7, 0xBABE);
  bank.SetHolding(20, 0x1234);
  bank.SetHolding(21, 0x5678);
  const SlotCase cases[] = {
      {"coil", 0, 4, -1, 1, {1, 0x01, 0, 4, 0, 1}, {0xEE, 0xEE, 0x01, 0x00}},
      {"input bit off", 1, 5, -1, 1, {1, 0x02, 0, 5, 0, 1}, {0xEE, 0xEE, 0x00, 0x00}},
      {"input bit on", 1, 6, -1, 1, {1, 0x02, 0, 6, 0, 1}, {0xEE, 0xEE, 0x01, 0x00}},
      {"input register", 3, 3, -1, 16, {1, 0x04, 0, 3, 0, 1}, {0xEE, 0xEE, 0x01, 0x80}},
      {"input register bit 15", 3, 3, 15, 1, {1, 0x04, 0, 3, 0, 1}, {0xEE, 0xEE, 0x01, 0x00}},
      {"holding register", 4, 9, -1, 16, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0xCD, 0xAB}},
      {"holding bit 3", 4, 9, 3, 16, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0x01, 0x00}},
      {"holding bit 4", 4, 9, 4, 16, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0x00, 0x00}},
      {"high byte", 516, 9, -1, 16, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0xAB, 0x00}},
      {"low byte", 260, 9, -1, 16, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0xCD, 0x00}},
      {"high byte bit 3 is bit 11", 516, 9, 3, 1, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0x01, 0x00}},
      {"high byte bit 2 is bit 10", 516, 9, 2, 1, {1, 0x03, 0, 9, 0, 1}, {0xEE, 0xEE, 0x00, 0x00}},
      {"input float item 2", 5, 2, -1, 32, {1, 0x04, 0, 4, 0, 2}, {0x00, 0x00, 0x80, 0x3F}},
      {"input long item 3", 6, 3, -1, 32, {1, 0x04, 0, 6, 0, 2}, {0xBE, 0xBA, 0xFE, 0xCA}},
      {"holding float item 10", 7, 10, -1, 32, {1, 0x03, 0, 20, 0, 2}, {0x78, 0x56, 0x34, 0x12}},
      {"holding long item 10", 8, 10, -1, 32, {1, 0x03, 0, 20, 0, 2}, {0x78, 0x56, 0x34, 0x12}},
  };
  for (const SlotCase& c : cases) {
    LogCapture log;
    const uint32_t successes = bench.record().stations[1].numSuccess;
    uint8_t slot[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    GateIo gate = MakeGate(1, c.memoryType, c.registerAddress, c.bitNumber, c.bitWidth, 1, slot);
    ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0) << c.what << "\n" << log.Dump();
    EXPECT_EQ(Pdu(bench.peer(1).Requests().back()), c.request) << c.what;
    EXPECT_EQ(Take(slot, 4), c.slot) << c.what;
    EXPECT_EQ(bench.record().stations[1].numSuccess, successes + 1) << c.what;
    EXPECT_TRUE(log.Has(ReadLine(1, 1), 8)) << log.Dump();
    EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();
  }
}

TEST(ReadPath, WordSwapOptionsApplyToTheirOwnTypes) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(2);
  bank.SetHolding(20, 0x1234);
  bank.SetHolding(21, 0x5678);
  struct Case {
    int32_t memoryType;
    uint16_t options;
    uint32_t expected;
  };
  const Case cases[] = {{8, kOptionSwap, 0x56781234}, {8, kOptionFloatSwap, 0x12345678},
                        {7, kOptionFloatSwap, 0x56781234}, {7, kOptionSwap, 0x12345678},
                        {8, kOptionSwap | kOptionLongAddr, 0}};
  for (const Case& c : cases) {
    bench.record().options = c.options;
    uint8_t slot[4] = {};
    GateIo gate = MakeGate(2, c.memoryType, 10, -1, 32, 1, slot);
    ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
    EXPECT_EQ(LoadSlot32(slot), c.expected) << c.memoryType << " options " << c.options;
  }
  // Long addressing reads register 10 itself, which holds 0.
  EXPECT_EQ(Pdu(bench.peer(2).Requests().back()), (Bytes{2, 0x03, 0, 10, 0, 2}));
}

TEST(ReadPath, OddRegisterItemsAndForcedUnitIdentifiers) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(2);
  bench.record().parityAddrChecking = 0;
  bench.record().stations[2].force_address = 77;
  bank.SetHolding(11, 0xAAAA);
  bank.SetHolding(12, 0x5555);
  uint8_t slot[4] = {};
  GateIo gate = MakeGate(2, 8, 100005, -1, 32, 1, slot);
  ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
  EXPECT_EQ(Pdu(bench.peer(2).Requests().back()), (Bytes{77, 0x03, 0, 11, 0, 2}));
  EXPECT_EQ(LoadSlot32(slot), 0xAAAA5555u);
}

TEST(ReadPath, SingleReadAsksForElementCountAndDecodesTheFirst) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  bank.SetHolding(0, 0x0102);
  bank.SetHolding(1, 0x0304);
  uint8_t slot[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  GateIo gate = MakeGate(1, 4, 0, -1, 16, 3, slot);
  ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
  EXPECT_EQ(Pdu(bench.peer(1).Requests().back()), (Bytes{1, 0x03, 0, 0, 0, 3}));
  EXPECT_EQ(Take(slot, 8), (Bytes{0xEE, 0xEE, 0x02, 0x01, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(ReadPath, BlocksAtTheirLimitsAndOneMoreRefused) {
  AccessBench bench;
  RegisterBank& bank = bench.AddStation(1);
  for (int i = 0; i < 2001; ++i) bank.SetCoil(static_cast<uint16_t>(i), i % 3 == 0);
  for (int i = 0; i < 130; ++i) bank.SetHolding(static_cast<uint16_t>(i), static_cast<uint16_t>(0x0100 * i + i));

  struct Case {
    int32_t memoryType;
    int32_t bitWidth;
    int32_t count;
    Bytes request;
    int hostBytes;
  };
  const Case allowed[] = {{0, 1, 2000, {1, 0x01, 0, 0, 0x07, 0xD0}, 250},
                          {4, 16, 125, {1, 0x03, 0, 0, 0, 125}, 250},
                          {8, 32, 62, {1, 0x03, 0, 0, 0, 124}, 248}};
  for (const Case& c : allowed) {
    std::vector<uint8_t> host(260, 0xEE);
    GateIo gate = MakeGate(1, c.memoryType, 0, -1, c.bitWidth, c.count, host.data());
    LogCapture log;
    ASSERT_EQ(bench.Call(kOpBlockRead, gate), 0) << log.Dump();
    EXPECT_EQ(Pdu(bench.peer(1).Requests().back()), c.request);
    EXPECT_NE(host[c.hostBytes - 1], 0xEE);
    EXPECT_EQ(host[c.hostBytes], 0xEE);  // nothing past the block
    EXPECT_EQ(log.CountContaining("BlockRead() , ret val"), 0);
    if (c.memoryType == 0) {
      for (int i = 0; i < 2000; ++i) ASSERT_EQ((host[i / 8] >> (i % 8)) & 1, i % 3 == 0 ? 1 : 0) << i;
    } else if (c.memoryType == 4) {
      for (int i = 0; i < 125; ++i) ASSERT_EQ(host[2 * i] | (host[2 * i + 1] << 8), 0x0100 * i + i) << i;
    } else {
      for (int k = 0; k < 62; ++k) {
        const uint32_t expected = (static_cast<uint32_t>(0x0100 * 2 * k + 2 * k) << 16) | (0x0100 * (2 * k + 1) + 2 * k + 1);
        ASSERT_EQ(LoadSlot32(host.data() + 4 * k), expected) << k;
      }
    }
  }

  const size_t requests = bench.peer(1).RequestCount();
  const int32_t refused[][3] = {{0, 1, 2001}, {1, 1, 2001}, {4, 16, 126}, {3, 16, 126}, {8, 32, 63},
                                {7, 32, 63},  {4, 16, 0},   {4, 16, -1},  {3, 1, 126}};
  for (const auto& r : refused) {
    std::vector<uint8_t> host(600, 0xEE);
    GateIo gate = MakeGate(1, r[0], 0, -1, r[1], r[2], host.data());
    LogCapture log;
    EXPECT_EQ(bench.Call(kOpBlockRead, gate), 1) << r[0] << " " << r[2];
    EXPECT_EQ(log.Count("TOLDEX: BlockRead() , ret val is 1", 8), 1) << log.Dump();
    EXPECT_EQ(log.CountContaining("DoBlockRead() refused tag 'gate'"), 1) << log.Dump();
    EXPECT_EQ(host, std::vector<uint8_t>(600, 0xEE));
  }
  EXPECT_EQ(bench.peer(1).RequestCount(), requests);
}

TEST(ReadPath, AnExceptionReplyLeavesTheValueAlone) {
  AccessBench bench;
  bench.AddStation(1);
  uint8_t host[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  GateIo gate = MakeGate(1, 4, 65535, -1, 16, 2, host);  // runs past the PLC's memory
  LogCapture log;
  EXPECT_EQ(bench.Call(kOpBlockRead, gate), 1);
  EXPECT_EQ(Take(host, 4), (Bytes{0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(bench.record().stations[1].errors, 1u);
  EXPECT_EQ(bench.record().stations[1].numSuccess, 0u);
  EXPECT_TRUE(log.Has("TOLDEX: DoBlockRead() failed. Tag 'gate' Blocksize 2 Errcode 02h - Illegal Data Address", 8))
      << log.Dump();
  EXPECT_TRUE(log.Has("TOLDEX: BlockRead() , ret val is 1", 8));
}

TEST(ReadPath, SwitchGatesAnswerFromTheSwitchValueWithoutTraffic) {
  AccessBench bench;
  bench.AddStation(3);
  bench.AddStation(9);
  struct Case {
    double value;
    uint16_t shown;
  };
  const Case cases[] = {{1.0, 1}, {0.0, 0}, {2.0, 2}, {0.5, 0}};
  for (const Case& c : cases) {
    for (int32_t gateId : {0, 77}) {
      bench.Pair(3, 9, c.value);
      bench.record().backups[3].switchGateId = 0;  // never registered
      LogCapture log;
      uint8_t slot[4] = {0x11, 0x22, 0xEE, 0xEE};
      GateIo gate = MakeGate(100003, 0, 100000, 255, 16, 1, slot, "03BACKUP");
      gate.gateId = gateId;
      ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
      EXPECT_EQ(Take(slot, 4), (Bytes{0x11, 0x22, static_cast<uint8_t>(c.shown), 0x00})) << c.value;
      EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    }
  }
  EXPECT_EQ(bench.peer(3).RequestCount(), 0u);
  EXPECT_EQ(bench.peer(9).RequestCount(), 0u);
  EXPECT_EQ(bench.record().stations[3].numComms, 0u);
}

TEST(ReadPath, AnOrdinaryGateWithIdZeroIsReadFromItsPlc) {
  // Unregistered switch gates carry id 0 in their entries; an ordinary gate
  // whose id is 0 is still an ordinary gate.
  AccessBench bench;
  bench.AddStation(3).SetHolding(9, 0x4242);
  bench.Pair(3, 0, 1.0);
  for (BackupEntry& entry : bench.record().backups) entry.switchGateId = 0;
  uint8_t slot[4] = {};
  GateIo gate = HoldingGate(3, 9, slot);
  gate.gateId = 0;
  ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
  EXPECT_EQ(LoadSlot16(slot), 0x4242);
  EXPECT_EQ(bench.peer(3).RequestCount(), 1u);
}

TEST(ReadPath, DiagnosticGatesAnswerTheStationsCountersWithoutTraffic) {
  AccessBench bench;
  bench.AddStation(5);
  bench.Pair(5, 9, 1.0);  // the backup serves PLC 5; the counters are still station 5's
  StationRecord& station = bench.record().stations[5];
  station.numComms = 0x01020304;
  station.numSuccess = 11;
  station.numFails = 0xFFFFFFFF;
  station.errors = 13;
  station.commFails = 14;
  station.online = 0;
  struct Case {
    int32_t memoryType;
    Bytes slot;
  };
  const Case cases[] = {{1000, {0x04, 0x03, 0x02, 0x01}}, {1001, {11, 0, 0, 0}},
                        {1002, {0xFF, 0xFF, 0xFF, 0xFF}}, {1003, {0xEE, 0xEE, 0, 0}},
                        {1004, {13, 0, 0, 0}},            {1005, {14, 0, 0, 0}}};
  LogCapture log;
  for (const Case& c : cases) {
    uint8_t slot[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    GateIo gate = MakeGate(1005, c.memoryType, 0, 0, 0, 1, slot, "$NUMCOMMS:05");
    ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
    EXPECT_EQ(Take(slot, 4), c.slot) << c.memoryType;
  }
  station.online = 1;
  uint8_t slot[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  GateIo online = MakeGate(1005, 1003, 0, 0, 0, 1, slot, "$ST_ONLINE:05");
  ASSERT_EQ(bench.Call(kOpSingleRead, online), 0);
  EXPECT_EQ(Take(slot, 4), (Bytes{0xEE, 0xEE, 1, 0}));
  // Stations 0 and 255 exist too.
  bench.record().stations[0].numComms = 5;
  bench.record().stations[255].commFails = 6;
  GateIo first = MakeGate(1000, 1000, 0, 0, 0, 1, slot);
  ASSERT_EQ(bench.Call(kOpSingleRead, first), 0);
  EXPECT_EQ(LoadSlot32(slot), 5u);
  GateIo last = MakeGate(1255, 1005, 0, 0, 0, 1, slot);
  ASSERT_EQ(bench.Call(kOpSingleRead, last), 0);
  EXPECT_EQ(LoadSlot32(slot), 6u);
  EXPECT_TRUE(log.Lines().empty()) << log.Dump();
  EXPECT_EQ(bench.peer(5).RequestCount(), 0u);
  EXPECT_EQ(station.numComms, 0x01020304u);
}

TEST(ReadPath, RecordsTheParsersNeverProduceAreRefusedWithoutTouchingAnything) {
  AccessBench bench;
  bench.AddStation(1);
  bench.Pair(1, 2, 0.0);
  struct Case {
    const char* what;
    int32_t plcNumber;
    int32_t memoryType;
    int32_t bitNumber;
    int32_t bitWidth;
    int32_t count;
  };
  const Case cases[] = {
      {"PLC 0", 0, 4, -1, 16, 1},
      {"PLC 65", 65, 4, -1, 16, 1},
      {"negative PLC", -1, 4, -1, 16, 1},
      {"switch marker of no PLC", 100000, 0, 255, 16, 1},
      {"switch marker of PLC 65", 100065, 0, 255, 16, 1},
      {"switch marker far out", 150000, 0, 255, 16, 1},
      {"diagnostic station 256", 1256, 1000, -1, 0, 1},
      {"diagnostic below 1000", 999, 1003, -1, 0, 1},
      {"diagnostic number with a PLC memory type", 1001, 4, -1, 16, 1},
      {"_SCRUT station 0", 200000, 4, -1, 16, 1},
      {"_SCRUT station 65", 200065, 4, -1, 16, 1},
      {"_SCRUT far out", INT32_MAX, 4, -1, 16, 1},
      {"memory type 2", 1, 2, -1, 16, 1},
      {"memory type 9", 1, 9, -1, 16, 1},
      {"memory type 772", 1, 772, -1, 16, 1},
      {"negative memory type", 1, -4, -1, 16, 1},
      {"bit 16", 1, 4, 16, 16, 1},
      {"bit -2", 1, 4, -2, 16, 1},
      {"bit 8 of a byte", 1, 516, 8, 1, 1},
      {"no element", 1, 4, -1, 16, 0},
      {"126 registers in a single read", 1, 4, -1, 16, 126},
  };
  for (const Case& c : cases) {
    LogCapture log;
    uint8_t slot[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    GateIo gate = MakeGate(c.plcNumber, c.memoryType, 0, c.bitNumber, c.bitWidth, c.count, slot);
    EXPECT_EQ(bench.Call(kOpSingleRead, gate), 1) << c.what;
    EXPECT_EQ(Take(slot, 4), (Bytes{0xEE, 0xEE, 0xEE, 0xEE})) << c.what;
    ASSERT_EQ(log.Lines().size(), 1u) << c.what << "\n" << log.Dump();
    EXPECT_EQ(log.Lines()[0].level, 32);
    EXPECT_EQ(log.Lines()[0].text.rfind("TOLDEX: DoBlockRead() refused tag 'gate': plc " +
                                            std::to_string(c.plcNumber),
                                        0),
              0u)
        << log.Dump();
  }
  EXPECT_EQ(bench.peer(1).RequestCount(), 0u);
  EXPECT_EQ(bench.record().stations[1].numComms, 0u);
  EXPECT_EQ(LoadSwitchValue(bench.record(), 1), 0.0);
}

TEST(ReadPath, AScrutGateReadsItsOwnStationWhileTheBackupServesItsPlc) {
  AccessBench bench;
  bench.AddStation(3).SetHolding(9, 0x0003);
  bench.AddStation(9).SetHolding(9, 0x0009);
  bench.record().stations[9].force_address = 99;
  bench.Pair(3, 9, 1.0);
  uint8_t slot[4] = {};
  GateIo scrut = MakeGate(200003, 4, 9, -1, 16, 1, slot, "0140010_SCRUT");
  LogCapture log;
  ASSERT_EQ(bench.Call(kOpSingleRead, scrut), 0);
  EXPECT_EQ(LoadSlot16(slot), 3);
  EXPECT_EQ(Pdu(bench.peer(3).Requests().back()), (Bytes{3, 0x03, 0, 9, 0, 1}));
  EXPECT_TRUE(log.Has(ReadLine(200003, 3), 8)) << log.Dump();

  GateIo ordinary = HoldingGate(3, 9, slot);
  ASSERT_EQ(bench.Call(kOpSingleRead, ordinary), 0);
  EXPECT_EQ(LoadSlot16(slot), 9);
  EXPECT_EQ(Pdu(bench.peer(9).Requests().back()), (Bytes{99, 0x03, 0, 9, 0, 1}));
  EXPECT_TRUE(log.Has(ReadLine(3, 9), 8)) << log.Dump();
  EXPECT_EQ(bench.peer(3).RequestCount(), 1u);
}

TEST(ReadPath, APlcWithoutBackupIsServedByItsOwnStationWhateverTheSwitch) {
  AccessBench bench;
  bench.AddStation(0).SetHolding(9, 0x0000);
  bench.AddStation(4).SetHolding(9, 0x0004);
  bench.Pair(4, 0, 1.0);
  uint8_t slot[4] = {};
  GateIo gate = HoldingGate(4, 9, slot);
  ASSERT_EQ(bench.Call(kOpSingleRead, gate), 0);
  EXPECT_EQ(LoadSlot16(slot), 4);
  EXPECT_EQ(bench.peer(0).RequestCount(), 0u);
  EXPECT_EQ(Pdu(bench.peer(4).Requests().back()), (Bytes{4, 0x03, 0, 9, 0, 1}));
}

}  // namespace
}  // namespace toldex
