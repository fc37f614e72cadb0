// The pure parts of the read and write paths: gate classification and the
// host's numbers they accept, requests byte for byte, word order, bits and
// bytes inside registers, the value slot and the decoding of read replies.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "access/gate_kind.h"
#include "access/modbus_request.h"
#include "access/read_path.h"
#include "access/value_codec.h"
#include "addressing/gate_address.h"
#include "driver/instance.h"
#include "support/driver_fixture.h"

namespace toldex {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Take(const uint8_t* bytes, int length) { return Bytes(bytes, bytes + length); }

TEST(ClassifyGate, MarkersDecideTheKindAndNumbersOutsideTheTablesAreInvalid) {
  struct Case {
    int32_t plcNumber;
    int32_t memoryType;
    GateKind kind;
    int number;
  };
  const Case cases[] = {
      {1, 4, GateKind::kOrdinary, 1},
      {64, 0, GateKind::kOrdinary, 64},
      {0, 4, GateKind::kInvalid, 0},
      {65, 4, GateKind::kInvalid, 0},
      {-5, 4, GateKind::kInvalid, 0},
      {100001, 0, GateKind::kSwitch, 1},
      {100064, 0, GateKind::kSwitch, 64},
      {100007, 1003, GateKind::kSwitch, 7},  // a switch gate has no memory type of its own
      {100000, 0, GateKind::kInvalid, 0},
      {100065, 0, GateKind::kInvalid, 0},
      {199999, 0, GateKind::kInvalid, 0},
      {1000, 1000, GateKind::kDiagnostic, 0},
      {1255, 1005, GateKind::kDiagnostic, 255},
      {1007, 1003, GateKind::kDiagnostic, 7},
      {1256, 1000, GateKind::kInvalid, 0},
      {999, 1001, GateKind::kInvalid, 0},
      {5, 1002, GateKind::kInvalid, 0},
      {1007, 4, GateKind::kInvalid, 0},  // a diagnostic number without its memory type
      {200001, 4, GateKind::kScrut, 1},
      {200064, 3, GateKind::kScrut, 64},
      {200000, 4, GateKind::kInvalid, 0},
      {200065, 4, GateKind::kInvalid, 0},
      {INT32_MAX, 4, GateKind::kInvalid, 0},
      {INT32_MIN, 1000, GateKind::kInvalid, 0},
  };
  for (const Case& c : cases) {
    const GateTarget target = ClassifyGate(c.plcNumber, c.memoryType);
    EXPECT_EQ(target.kind, c.kind) << c.plcNumber << " / " << c.memoryType;
    EXPECT_EQ(target.number, c.number) << c.plcNumber << " / " << c.memoryType;
  }
}

TEST(GateChecks, MemoryTypesFunctionCodesAndBits) {
  struct Case {
    int32_t memoryType;
    bool plc;
    bool input;
    uint8_t functionCode;
  };
  const Case cases[] = {{0, true, false, 1},   {1, true, true, 2},    {3, true, true, 4},
                        {4, true, false, 3},   {5, true, true, 4},    {6, true, true, 4},
                        {7, true, false, 3},   {8, true, false, 3},   {260, true, false, 3},
                        {516, true, false, 3}, {2, false, false, 0xFF}, {9, false, false, 0xFF},
                        {772, false, false, 3}, {-1, false, false, 0xFF}, {1000, false, false, 0xFF}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsPlcMemoryType(c.memoryType), c.plc) << c.memoryType;
    EXPECT_EQ(IsInputMemoryType(c.memoryType), c.input) << c.memoryType;
    if (c.plc) {
      EXPECT_EQ(ReadFunctionCode(c.memoryType), c.functionCode) << c.memoryType;
    }
  }
  EXPECT_TRUE(IsBitNumberValid(4, -1));
  EXPECT_TRUE(IsBitNumberValid(4, 0));
  EXPECT_TRUE(IsBitNumberValid(4, 15));
  EXPECT_FALSE(IsBitNumberValid(4, 16));
  EXPECT_FALSE(IsBitNumberValid(4, -2));
  EXPECT_FALSE(IsBitNumberValid(4, 255));
  EXPECT_TRUE(IsBitNumberValid(516, 7));
  EXPECT_FALSE(IsBitNumberValid(516, 8));
  EXPECT_FALSE(IsBitNumberValid(260, 8));
  EXPECT_TRUE(IsBitNumberValid(260, -1));
}

TEST(GateChecks, ReadsStayWithinOneReplyOf250Bytes) {
  struct Case {
    int32_t memoryType;
    int32_t bitWidth;
    int32_t elementCount;
    bool allowed;
  };
  const Case cases[] = {
      {0, 1, 2000, true},     {0, 1, 2001, false},   {1, 1, 2000, true},   {1, 1, 2001, false},
      {4, 16, 125, true},     {4, 16, 126, false},   {3, 16, 125, true},   {260, 16, 126, false},
      {7, 32, 62, true},      {7, 32, 63, false},    {6, 32, 62, true},    {8, 32, 63, false},
      {4, 16, 1, true},       {4, 16, 0, false},     {4, 16, -1, false},   {0, 1, INT32_MIN, false},
      {4, 16, INT32_MAX, false},
      // a bit of a register: the PLC sends whole registers
      {3, 1, 125, true},      {3, 1, 126, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadSizeAllowed(c.memoryType, c.bitWidth, c.elementCount), c.allowed)
        << c.memoryType << " " << c.bitWidth << " " << c.elementCount;
  }
}

TEST(GateChecks, BlockWritesOfMoreThan246BytesAreTooLong) {
  struct Case {
    int32_t bitWidth;
    int32_t elementCount;
    bool tooLong;
  };
  const Case cases[] = {{1, 1968, false}, {1, 1969, true}, {16, 123, false}, {16, 124, true},
                        {32, 61, false},  {32, 62, true},  {16, INT32_MAX, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(BlockWriteTooLong(c.bitWidth, c.elementCount), c.tooLong) << c.bitWidth << " " << c.elementCount;
  }
}

TEST(StartAddress, ItemsRegistersAndTheOddRegisterMarker) {
  struct Case {
    int32_t registerAddress;
    int32_t bitWidth;
    uint16_t options;
    int32_t parity;
    uint16_t start;
  };
  const Case cases[] = {
      {10, 32, 0, 1, 20},                  // item 10 starts on register 20
      {10, 32, kOptionLongAddr, 1, 10},    // long addressing: the number as read
      {100005, 32, 0, 0, 11},              // odd register 2k + 1
      {100005, 32, kOptionLongAddr, 0, 11},
      {100005, 32, 0, 1, static_cast<uint16_t>(200010)},  // with parity checking, a plain item
      {7, 16, 0, 0, 7},
      {7, 1, 0, 1, 7},
      {9998, 16, 0, 1, 9998},
      {99998, 16, 0, 1, static_cast<uint16_t>(99998)},    // truncated to 16 bits
      {0xFFFE, 16, 0, 1, 0xFFFE},
      {0, 32, 0, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StartAddress(c.registerAddress, c.bitWidth, c.options, c.parity), c.start)
        << c.registerAddress << " width " << c.bitWidth << " options " << c.options << " parity " << c.parity;
  }
}

TEST(ReadQuantity, TwoRegistersPerElementOfThe32BitTypes) {
  EXPECT_EQ(ReadQuantity(4, 3), 3);
  EXPECT_EQ(ReadQuantity(0, 2000), 2000);
  EXPECT_EQ(ReadQuantity(260, 1), 1);
  for (int32_t type : {5, 6, 7, 8}) EXPECT_EQ(ReadQuantity(type, 62), 124) << type;
  EXPECT_EQ(ReadReplyDataBytes(1, 10), 2);
  EXPECT_EQ(ReadReplyDataBytes(1, 8), 1);
  EXPECT_EQ(ReadReplyDataBytes(2, 2000), 250);
  EXPECT_EQ(ReadReplyDataBytes(3, 3), 6);
  EXPECT_EQ(ReadReplyDataBytes(4, 125), 250);
}

TEST(UnitIdentifier, ForceAddressOrStationNumberLowEightBits) {
  StationRecord station{};
  station.force_address = -1;
  EXPECT_EQ(UnitIdentifier(station, 7), 7);
  EXPECT_EQ(UnitIdentifier(station, 0), 0);
  station.force_address = 17;
  EXPECT_EQ(UnitIdentifier(station, 7), 17);
  station.force_address = 300;
  EXPECT_EQ(UnitIdentifier(station, 7), 300 & 0xFF);
  station.force_address = 0;
  EXPECT_EQ(UnitIdentifier(station, 7), 0);
}

TEST(Requests, ReadRequestOfEveryMemoryType) {
  // A holding 32-bit integer, item 10, one element: start 20, quantity 2.
  struct Case {
    int32_t memoryType;
    int32_t registerAddress;
    int32_t bitWidth;
    int32_t elementCount;
    Bytes expected;
  };
  const Case cases[] = {
      {0, 4, 1, 10, {0x05, 0x01, 0x00, 0x04, 0x00, 0x0A}},
      {1, 0, 1, 2000, {0x05, 0x02, 0x00, 0x00, 0x07, 0xD0}},
      {3, 300, 16, 1, {0x05, 0x04, 0x01, 0x2C, 0x00, 0x01}},
      {4, 9, 16, 1, {0x05, 0x03, 0x00, 0x09, 0x00, 0x01}},
      {4, 9, 16, 125, {0x05, 0x03, 0x00, 0x09, 0x00, 0x7D}},
      {5, 3, 32, 1, {0x05, 0x04, 0x00, 0x06, 0x00, 0x02}},
      {6, 3, 32, 2, {0x05, 0x04, 0x00, 0x06, 0x00, 0x04}},
      {7, 0, 32, 62, {0x05, 0x03, 0x00, 0x00, 0x00, 0x7C}},
      {8, 10, 32, 1, {0x05, 0x03, 0x00, 0x14, 0x00, 0x02}},
      {260, 9, 16, 1, {0x05, 0x03, 0x00, 0x09, 0x00, 0x01}},
      {516, 9, 1, 1, {0x05, 0x03, 0x00, 0x09, 0x00, 0x01}},
  };
  testing::InstanceBlock block;
  InstanceRecord& instance = block.record();
  instance.options = 0;
  instance.parityAddrChecking = 1;
  instance.stations[5].force_address = -1;
  for (const Case& c : cases) {
    GateIo gate{};
    gate.plcNumber = 5;
    gate.memoryType = c.memoryType;
    gate.registerAddress = c.registerAddress;
    gate.bitNumber = -1;
    gate.bitWidth = c.bitWidth;
    gate.elementCount = c.elementCount;
    uint8_t request[kReadRequestSize + 4];
    std::memset(request, 0xEE, sizeof request);
    ASSERT_EQ(BuildReadRequest(gate, request, instance, 5), 6);
    EXPECT_EQ(Take(request, 6), c.expected) << "memory type " << c.memoryType;
    EXPECT_EQ(request[6], 0xEE);  // nothing past the request
  }
}

TEST(Requests, ReadRequestTakesTheUnitOfTheStationThatServes) {
  testing::InstanceBlock block;
  InstanceRecord& instance = block.record();
  instance.options = kOptionLongAddr;
  instance.parityAddrChecking = 0;
  instance.stations[3].force_address = -1;
  instance.stations[9].force_address = 42;
  GateIo gate{};
  gate.plcNumber = 3;
  gate.memoryType = 8;
  gate.registerAddress = 100005;  // odd register 11
  gate.bitNumber = -1;
  gate.bitWidth = 32;
  gate.elementCount = 1;
  uint8_t request[kReadRequestSize];
  BuildReadRequest(gate, request, instance, 3);
  EXPECT_EQ(Take(request, 6), (Bytes{0x03, 0x03, 0x00, 0x0B, 0x00, 0x02}));
  BuildReadRequest(gate, request, instance, 9);
  EXPECT_EQ(Take(request, 6), (Bytes{42, 0x03, 0x00, 0x0B, 0x00, 0x02}));
}

TEST(Requests, SingleWrites) {
  uint8_t request[16];
  EXPECT_EQ(PutWriteSingleCoil(1, 4, true, request), 6);
  EXPECT_EQ(Take(request, 6), (Bytes{0x01, 0x05, 0x00, 0x04, 0xFF, 0x00}));
  PutWriteSingleCoil(1, 4, false, request);
  EXPECT_EQ(Take(request, 6), (Bytes{0x01, 0x05, 0x00, 0x04, 0x00, 0x00}));
  EXPECT_EQ(PutWriteSingleRegister(2, 9, 0x1234, request), 6);
  EXPECT_EQ(Take(request, 6), (Bytes{0x02, 0x06, 0x00, 0x09, 0x12, 0x34}));
  EXPECT_EQ(PutWriteLong(3, 10, 0x12345678, false, request), 11);
  EXPECT_EQ(Take(request, 11), (Bytes{0x03, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x12, 0x34, 0x56, 0x78}));
  PutWriteLong(3, 10, 0x12345678, true, request);
  EXPECT_EQ(Take(request, 11), (Bytes{0x03, 0x10, 0x00, 0x0A, 0x00, 0x02, 0x04, 0x56, 0x78, 0x12, 0x34}));
  PutWriteLong(3, 0, 0x3F800000, true, request);  // 1.0f, float word swap
  EXPECT_EQ(Take(request + 7, 4), (Bytes{0x00, 0x00, 0x3F, 0x80}));
}

TEST(Requests, WordSwapFollowsTheOptionOfTheMemoryType) {
  struct Case {
    int32_t memoryType;
    uint16_t options;
    bool swapped;
  };
  const Case cases[] = {
      {8, kOptionSwap, true},       {6, kOptionSwap, true},       {8, kOptionFloatSwap, false},
      {7, kOptionFloatSwap, true},  {5, kOptionFloatSwap, true},  {7, kOptionSwap, false},
      {4, kOptionSwap | kOptionFloatSwap, false},                 {8, 0, false},
      {7, kOptionSwap | kOptionFloatSwap | kOptionLongAddr, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsWordSwapped(c.memoryType, c.options), c.swapped) << c.memoryType << " " << c.options;
  }
}

TEST(Requests, BlockWritesAtTheirLimits) {
  uint8_t hostValues[256];
  for (int i = 0; i < 256; ++i) hostValues[i] = static_cast<uint8_t>(i);
  uint8_t request[kMaxWriteRequestSize + 8];

  // 10 coils: function 15, quantity 10, two packed bytes as the host has them.
  EXPECT_EQ(PutBlockWrite(1, 0x0102, 1, 10, hostValues, false, request), 9);
  EXPECT_EQ(Take(request, 9), (Bytes{0x01, 0x0F, 0x01, 0x02, 0x00, 0x0A, 0x02, 0x00, 0x01}));

  // 1968 coils: 246 bytes.
  EXPECT_EQ(BlockWriteDataBytes(1, 1968), 246);
  EXPECT_EQ(PutBlockWrite(1, 0, 1, 1968, hostValues, false, request), kMaxWriteRequestSize);
  EXPECT_EQ(Take(request, 7), (Bytes{0x01, 0x0F, 0x00, 0x00, 0x07, 0xB0, 246}));
  EXPECT_EQ(request[7 + 245], 245);

  // 123 registers, each high byte first.
  EXPECT_EQ(PutBlockWrite(1, 0, 16, 123, hostValues, false, request), kMaxWriteRequestSize);
  EXPECT_EQ(Take(request, 11), (Bytes{0x01, 0x10, 0x00, 0x00, 0x00, 0x7B, 246, 0x01, 0x00, 0x03, 0x02}));
  EXPECT_EQ(request[7 + 244], 245);
  EXPECT_EQ(request[7 + 245], 244);

  // 61 32-bit values: quantity 122, 244 bytes, word order as a single write.
  EXPECT_EQ(PutBlockWrite(1, 0, 32, 61, hostValues, false, request), 7 + 244);
  EXPECT_EQ(Take(request, 15),
            (Bytes{0x01, 0x10, 0x00, 0x00, 0x00, 0x7A, 244, 0x03, 0x02, 0x01, 0x00, 0x07, 0x06, 0x05, 0x04}));
  PutBlockWrite(1, 0, 32, 61, hostValues, true, request);
  EXPECT_EQ(Take(request + 7, 8), (Bytes{0x01, 0x00, 0x03, 0x02, 0x05, 0x04, 0x07, 0x06}));

  EXPECT_EQ(BlockWriteDataBytes(16, 124), 248);
  EXPECT_EQ(BlockWriteDataBytes(32, 62), 248);
  EXPECT_EQ(BlockWriteDataBytes(1, 1969), 247);
  EXPECT_EQ(BlockWriteDataBytes(8, 10), -1);
  EXPECT_EQ(BlockWriteDataBytes(16, 0), -1);
}

TEST(Registers, WordOrderOf32BitValues) {
  const uint8_t wire[] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(RegistersToValue32(wire, false), 0x12345678u);
  EXPECT_EQ(RegistersToValue32(wire, true), 0x56781234u);
  const uint8_t one[] = {0x00, 0x00, 0x3F, 0x80};
  EXPECT_EQ(RegistersToValue32(one, false), 0x00003F80u);
  EXPECT_EQ(RegistersToValue32(one, true), 0x3F800000u);
  uint8_t out[4];
  Value32ToRegisters(0xA1B2C3D4, false, out);
  EXPECT_EQ(Take(out, 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
  Value32ToRegisters(0xA1B2C3D4, true, out);
  EXPECT_EQ(Take(out, 4), (Bytes{0xC3, 0xD4, 0xA1, 0xB2}));
}

TEST(Registers, BitsAndBytesInsideARegister) {
  struct Case {
    uint16_t reg;
    int bit;
    uint16_t value;
    uint16_t expected;
  };
  const Case bits[] = {{0x00F0, 2, 1, 0x00F4}, {0x00F0, 4, 0, 0x00E0}, {0x0000, 11, 1, 0x0800},
                       {0xFFFF, 15, 0, 0x7FFF}, {0x0000, 15, 1, 0x8000}, {0x00F0, 4, 1, 0x00F0}};
  for (const Case& c : bits) {
    EXPECT_EQ(InsertBit(c.reg, c.bit, c.value), c.expected) << std::hex << c.reg << " bit " << c.bit;
  }
  EXPECT_EQ(InsertLowByte(0xABCD, 0x55), 0xAB55);
  EXPECT_EQ(InsertHighByte(0xABCD, 0x55), 0x55CD);
  EXPECT_EQ(InsertLowByte(0xABCD, 0x1255), 0xAB55);  // only the value's low byte
  EXPECT_EQ(InsertHighByte(0xABCD, 0x1255), 0x55CD);
  EXPECT_EQ(ExtractBit(0xABCD, 3), 1);
  EXPECT_EQ(ExtractBit(0xABCD, 11), 1);
  EXPECT_EQ(ExtractBit(0xABCD, 4), 0);
}

TEST(ValueSlot, SixteenBitValuesLeaveBytesZeroAndOneAlone) {
  uint8_t slot[4] = {0x11, 0x22, 0x33, 0x44};
  StoreSlot16(slot, 0xABCD);
  EXPECT_EQ(Take(slot, 4), (Bytes{0x11, 0x22, 0xCD, 0xAB}));
  EXPECT_EQ(LoadSlot16(slot), 0xABCD);
  StoreSlot32(slot, 0x12345678);
  EXPECT_EQ(Take(slot, 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(LoadSlot32(slot), 0x12345678u);
}

TEST(ValueSlot, SwitchValuesShowTruncatedToTheirLow16Bits) {
  struct Case {
    double value;
    uint16_t shown;
  };
  const Case cases[] = {{1.0, 1},
                        {0.0, 0},
                        {0.99, 0},
                        {2.5, 2},
                        {-1.5, 0xFFFF},
                        {65537.0, 1},
                        {std::numeric_limits<double>::quiet_NaN(), 0},
                        {1e30, 0},
                        {-1e30, 0},
                        {std::numeric_limits<double>::infinity(), 0}};
  for (const Case& c : cases) EXPECT_EQ(SwitchValueAsGate(c.value), c.shown) << c.value;
}

// Reply bytes from the unit identifier on: unit, function, byte count, data.
Bytes Reply(uint8_t functionCode, const Bytes& data) {
  Bytes reply{0x01, functionCode, static_cast<uint8_t>(data.size())};
  reply.insert(reply.end(), data.begin(), data.end());
  reply.resize(kReadReplyDataOffset + 256, 0);
  return reply;
}

struct DecodeCase {
  int32_t memoryType;
  int32_t bitNumber;
  int32_t bitWidth;
  uint16_t options;
  Bytes data;
  Bytes slot;  // the 4-byte slot after decoding, from a slot of 0xEE
};

TEST(DecodeReadReply, SingleValues) {
  const DecodeCase cases[] = {
      {4, -1, 16, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0xCD, 0xAB}},
      {516, -1, 16, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0xAB, 0x00}},
      {260, -1, 16, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0xCD, 0x00}},
      {3, -1, 16, 0, {0x80, 0x01}, {0xEE, 0xEE, 0x01, 0x80}},
      {4, 3, 16, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0x01, 0x00}},   // bit 3 of 0xABCD
      {4, 4, 16, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0x00, 0x00}},
      {516, 3, 1, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0x01, 0x00}},  // bit 11
      {516, 2, 1, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0x00, 0x00}},  // bit 10
      {260, 2, 1, 0, {0xAB, 0xCD}, {0xEE, 0xEE, 0x01, 0x00}},  // bit 2
      {3, 15, 1, 0, {0x80, 0x00}, {0xEE, 0xEE, 0x01, 0x00}},
      {0, -1, 1, 0, {0x03}, {0xEE, 0xEE, 0x01, 0x00}},
      {1, -1, 1, 0, {0x02}, {0xEE, 0xEE, 0x00, 0x00}},
      {8, -1, 32, 0, {0x12, 0x34, 0x56, 0x78}, {0x78, 0x56, 0x34, 0x12}},
      {8, -1, 32, kOptionSwap, {0x12, 0x34, 0x56, 0x78}, {0x34, 0x12, 0x78, 0x56}},
      {8, -1, 32, kOptionFloatSwap, {0x12, 0x34, 0x56, 0x78}, {0x78, 0x56, 0x34, 0x12}},
      {6, -1, 32, kOptionSwap, {0x12, 0x34, 0x56, 0x78}, {0x34, 0x12, 0x78, 0x56}},
      {7, -1, 32, 0, {0x00, 0x00, 0x3F, 0x80}, {0x80, 0x3F, 0x00, 0x00}},
      {7, -1, 32, kOptionFloatSwap, {0x00, 0x00, 0x3F, 0x80}, {0x00, 0x00, 0x80, 0x3F}},
      {5, -1, 32, kOptionSwap, {0x00, 0x00, 0x3F, 0x80}, {0x80, 0x3F, 0x00, 0x00}},
  };
  for (const DecodeCase& c : cases) {
    uint8_t slot[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    GateIo gate{};
    gate.memoryType = c.memoryType;
    gate.bitNumber = c.bitNumber;
    gate.bitWidth = c.bitWidth;
    gate.elementCount = 1;
    gate.value = slot;
    const GateIo before = gate;
    const Bytes reply = Reply(0x03, c.data);
    EXPECT_EQ(DecodeReadReply(gate, reply.data(), c.options, kReadModeSingle), 0);
    EXPECT_EQ(Take(slot, 4), c.slot) << "type " << c.memoryType << " bit " << c.bitNumber << " options "
                                     << c.options;
    EXPECT_EQ(std::memcmp(&gate, &before, sizeof gate), 0);  // the record itself is not changed
  }
}

TEST(DecodeReadReply, ReadingAHighByteBitTwiceReadsTheSameBit) {
  uint8_t slot[4] = {};
  GateIo gate{};
  gate.memoryType = 516;
  gate.bitNumber = 3;
  gate.bitWidth = 1;
  gate.elementCount = 1;
  gate.value = slot;
  const Bytes reply = Reply(0x03, {0x08, 0x00});  // bit 11 set, bit 3 clear
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(DecodeReadReply(gate, reply.data(), 0, kReadModeSingle), 0);
    EXPECT_EQ(LoadSlot16(slot), 1);
  }
}

TEST(DecodeReadReply, UnknownWidthsWriteNothing) {
  for (int32_t width : {0, 8, 17, -1}) {
    for (int mode : {kReadModeSingle, kReadModeBlock}) {
      uint8_t slot[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
      GateIo gate{};
      gate.memoryType = 4;
      gate.bitNumber = -1;
      gate.bitWidth = width;
      gate.elementCount = 1;
      gate.value = slot;
      const Bytes reply = Reply(0x03, {0x12, 0x34});
      EXPECT_EQ(DecodeReadReply(gate, reply.data(), 0, mode), 1);
      EXPECT_EQ(Take(slot, 8), Bytes(8, 0xEE));
    }
  }
}

TEST(DecodeReadReply, Blocks) {
  GateIo gate{};
  gate.bitNumber = -1;
  uint8_t host[260];

  // 10 coils: two bytes exactly as they came, nothing more.
  std::memset(host, 0xEE, sizeof host);
  gate.memoryType = 0;
  gate.bitWidth = 1;
  gate.elementCount = 10;
  gate.value = host;
  Bytes reply = Reply(0x01, {0xA5, 0x03});
  ASSERT_EQ(DecodeReadReply(gate, reply.data(), 0, kReadModeBlock), 0);
  EXPECT_EQ(Take(host, 3), (Bytes{0xA5, 0x03, 0xEE}));

  // Registers, high-byte and low-byte gates.
  struct Case {
    int32_t memoryType;
    Bytes expected;
  };
  const Case registers[] = {{4, {0xCD, 0xAB, 0x02, 0x01, 0xEE}},
                            {516, {0xAB, 0x00, 0x01, 0x00, 0xEE}},
                            {260, {0xCD, 0x00, 0x02, 0x00, 0xEE}}};
  for (const Case& c : registers) {
    std::memset(host, 0xEE, sizeof host);
    gate.memoryType = c.memoryType;
    gate.bitWidth = 16;
    gate.elementCount = 2;
    gate.bitNumber = 5;  // not looked at in a block
    reply = Reply(0x03, {0xAB, 0xCD, 0x01, 0x02});
    ASSERT_EQ(DecodeReadReply(gate, reply.data(), 0, kReadModeBlock), 0);
    EXPECT_EQ(Take(host, 5), c.expected) << c.memoryType;
  }

  // 32-bit values, with and without the word swap.
  gate.bitNumber = -1;
  gate.memoryType = 8;
  gate.bitWidth = 32;
  gate.elementCount = 2;
  reply = Reply(0x03, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0});
  std::memset(host, 0xEE, sizeof host);
  ASSERT_EQ(DecodeReadReply(gate, reply.data(), 0, kReadModeBlock), 0);
  EXPECT_EQ(Take(host, 9), (Bytes{0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A, 0xEE}));
  ASSERT_EQ(DecodeReadReply(gate, reply.data(), kOptionSwap, kReadModeBlock), 0);
  EXPECT_EQ(Take(host, 8), (Bytes{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE}));

  // The largest blocks: 125 registers and 62 32-bit values fill 250 and 248 bytes.
  Bytes data(250);
  for (int i = 0; i < 250; ++i) data[i] = static_cast<uint8_t>(i);
  reply = Reply(0x03, data);
  gate.memoryType = 4;
  gate.bitWidth = 16;
  gate.elementCount = 125;
  std::memset(host, 0xEE, sizeof host);
  ASSERT_EQ(DecodeReadReply(gate, reply.data(), 0, kReadModeBlock), 0);
  EXPECT_EQ(host[248], 249);
  EXPECT_EQ(host[249], 248);
  EXPECT_EQ(host[250], 0xEE);
  gate.memoryType = 7;
  gate.bitWidth = 32;
  gate.elementCount = 62;
  std::memset(host, 0xEE, sizeof host);
  ASSERT_EQ(DecodeReadReply(gate, reply.data(), 0, kReadModeBlock), 0);
  EXPECT_EQ(Take(host + 244, 5), (Bytes{247, 246, 245, 244, 0xEE}));
}

}  // namespace
}  // namespace toldex
