// The gate address grammar (Parse): every base and protocol, 32-bit items and
// their parity, bits and bytes, switch gates and _SCRUT gates, and every
// rejection with its exact log line and level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addressing/gate_address.h"
#include "addressing/registration_queue.h"
#include "driver/instance.h"
#include "support/address_fixture.h"

namespace toldex {
namespace {

using testing::AddressConfig;
using testing::AddressInstance;
using testing::AddressResult;
using testing::kUntouched;

const AddressConfig kDecimal{};
const AddressConfig kDecimalJbus{'J', 'D', 0, 1};
const AddressConfig kDecimalNoParity{'M', 'D', 0, 0};
const AddressConfig kDecimalLongAddr{'M', 'D', kOptionLongAddr, 1};
const AddressConfig kDecimalJbusNoParity{'J', 'D', 0, 0};
const AddressConfig kHex{'M', 'H', 0, 1};
const AddressConfig kHexJbus{'J', 'H', 0, 1};
const AddressConfig kLong{'M', 'L', 0, 1};
const AddressConfig kLongJbus{'J', 'L', 0, 1};

constexpr int kSingle = kOpSingleAddressParser;
constexpr int kBlock = kOpBlockAddressParser;

struct Accepted {
  AddressConfig config;
  std::string address;
  int32_t gateType;
  int32_t plcNumber;
  int32_t memoryType;  // kUntouched: not written
  int32_t registerAddress;
  int32_t bitNumber;
  int32_t bitWidth;
  int32_t plcOnEntry = kUntouched;
};

TEST(Parse, AcceptedAddresses) {
  const Accepted cases[] = {
      // Base 'D', Modbus: addresses count from 1.
      {kDecimal, "0130001", 0, 1, 3, 0, -1, 16},
      {kDecimal, "01300012", 6, 1, 3, 0, 2, 1},
      {kDecimal, "0130001 ", 0, 1, 3, 0, -1, 16},
      {kDecimal, "0140010", 0, 1, 4, 9, -1, 16},
      {kDecimal, "0149999", 0, 1, 4, 9998, -1, 16},
      {kDecimal, "0149999F", 6, 1, 4, 9998, 15, 1},
      {kDecimal, "0100001", 6, 1, 0, 0, -1, 1},
      {kDecimal, "6410001", 6, 64, 1, 0, -1, 1},
      {kDecimal, "0170001", 3, 1, 7, 0, -1, 32},
      {kDecimal, "0150003", 3, 1, 5, 1, -1, 32},
      {kDecimal, "0160005", 4, 1, 6, 2, -1, 32},
      {kDecimal, "0180005", 4, 1, 8, 2, -1, 32},
      {kDecimal, "0170001A", 6, 1, 7, 0, 10, 32},  // Parse takes it; SingleParse refuses it
      {kDecimal, "01L0001", 0, 1, 260, 0, -1, 16},
      {kDecimal, "01L00017", 6, 1, 260, 0, 7, 1},
      {kDecimal, "01H0001", 0, 1, 516, 0, -1, 16},
      {kDecimal, "01H00010", 6, 1, 516, 0, 0, 1},
      // J-BUS: addresses count from 0.
      {kDecimalJbus, "0140000", 0, 1, 4, 0, -1, 16},
      {kDecimalJbus, "0149999", 0, 1, 4, 9999, -1, 16},
      {kDecimalJbus, "0180004", 4, 1, 8, 2, -1, 32},
      {kDecimalJbus, "0170000", 3, 1, 7, 0, -1, 32},
      // 32-bit items without parity checking, and with long word mapping.
      {kDecimalNoParity, "0170002", 3, 1, 7, 100000, -1, 32},
      {kDecimalNoParity, "0179998", 3, 1, 7, 104998, -1, 32},
      {kDecimalNoParity, "0170003", 3, 1, 7, 1, -1, 32},
      {kDecimalJbusNoParity, "0180003", 4, 1, 8, 100001, -1, 32},
      {kDecimalLongAddr, "0170002", 3, 1, 7, 1, -1, 32},
      {kDecimalLongAddr, "0170001", 3, 1, 7, 0, -1, 32},
      {kDecimalLongAddr, "0189999", 4, 1, 8, 9998, -1, 32},
      // Base 'H'.
      {kHex, "1A3FFFF", 0, 26, 3, 0xFFFE, -1, 16},
      {kHex, "0140010", 0, 1, 4, 0xF, -1, 16},
      {kHex, "404ABCD", 0, 64, 4, 0xABCC, -1, 16},
      {kHex, "0A30001", 0, 10, 3, 0, -1, 16},  // PLCs 10 to 15 ("0A" to "0F")
      {kHex, "0F30001", 0, 15, 3, 0, -1, 16},
      {kHex, "2F40001C", 6, 47, 4, 0, 12, 1},
      {kHex, "01L00107", 6, 1, 260, 0xF, 7, 1},
      {kHex, "017000B", 3, 1, 7, 5, -1, 32},
      {kHexJbus, "013FFFF", 0, 1, 3, 0xFFFF, -1, 16},
      {kHexJbus, "0130000", 0, 1, 3, 0, -1, 16},
      // Base 'L': five address digits.
      {kLong, "01312345", 0, 1, 3, 12344, -1, 16},
      {kLong, "014999995", 6, 1, 4, 99998, 5, 1},
      {kLong, "01312345 ", 0, 1, 3, 12344, -1, 16},
      {kLong, "01700011", 3, 1, 7, 5, -1, 32},
      {kLongJbus, "01499999", 0, 1, 4, 99999, -1, 16},
      // _SCRUT gates add their number to what the caller preset.
      {kDecimal, "0130001_SCRUT", 0, 200001, 3, 0, -1, 16, 200000},
      {kDecimal, "0030001_SCRUT", 0, 200000, 3, 0, -1, 16, 200000},  // station 0
      {kDecimal, "6430001_SCRUT", 0, 200064, 3, 0, -1, 16, 200000},
      {kDecimal, "01300012_SCRUT", 6, 200001, 3, 0, 2, 1, 200000},
      {kDecimal, "0130001_SCRUT", 0, 1, 3, 0, -1, 16, 0},
      {kHex, "1A30001_SCRUT", 0, 200026, 3, 0, -1, 16, 200000},
      {kLong, "01312345_SCRUT", 0, 200001, 3, 12344, -1, 16, 200000},
      // Switch gates: the PLC number in two decimal digits and BACKUP, digital.
      {kDecimal, "07BACKUP", 6, 100007, kUntouched, 100000, 255, 16},
      {kDecimal, "07backup", 6, 100007, kUntouched, 100000, 255, 16},
      {kDecimal, "64BaCkUp", 6, 100064, kUntouched, 100000, 255, 16},
      {kHex, "26BACKUP", 6, 100026, kUntouched, 100000, 255, 16},
      {kLong, "07BACKUP", 6, 100007, kUntouched, 100000, 255, 16},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE("'" + c.address + "' base " + c.config.base + " protocol " + c.config.protocol);
    AddressInstance instance(c.config);
    const AddressResult r = instance.ParseOnly(c.address, c.gateType, kSingle, c.plcOnEntry);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.log.empty()) << r.log[0];
    EXPECT_EQ(r.gate.plcNumber, c.plcNumber);
    EXPECT_EQ(r.gate.memoryType, c.memoryType);
    EXPECT_EQ(r.gate.registerAddress, c.registerAddress);
    EXPECT_EQ(r.gate.bitNumber, c.bitNumber);
    EXPECT_EQ(r.gate.bitWidth, c.bitWidth);
    EXPECT_EQ(r.gate.gateType, c.gateType);
    EXPECT_EQ(r.gate.blockLength, kUntouched);
  }
}

struct Rejected {
  AddressConfig config;
  std::string address;
  int32_t gateType;
  int opCode;
  std::vector<std::string> log;  // Parse's own lines
};

// Parse's log lines, by the check that fails.
std::string WrongSize(const std::string& address) {
  return "[8] TOLDEX: Parse() Wrong size of gas, '" + address + "'";
}
std::string IllegalPlc(const std::string& address, int value) {
  return "[32] TolDEX : SingleAddressParser tag address " + address +
         " contains illegal Plc address " + std::to_string(value) + ", valids are 1->64";
}
std::string NotBinary(const std::string& address) {
  return "[32] TolDEX : SingleAddressParser tag address " + address +
         " has to be defined as a binary tag";
}
std::string IllegalChar(int position, char c, const std::string& work) {
  return "[8] TOLDEX: Parse() illegal char #" + std::to_string(position) + ", " + c + " in '" +
         work + "'";
}
std::string IllegalGas(const std::string& work) {
  return "[8] TOLDEX: Parse() illegal GAS:'" + work + "'";
}
std::string NotDecimal(const std::string& work) {
  return "[8] TOLDEX: Parse() illegal GAS:'" + work + "' for decimal base ";
}
std::string IllegalPlcAddress(const std::string& work) {
  return "[8] TOLDEX: Parse() illegal PLC address, '" + work + "'";
}
std::string AddressZero(const std::string& work) {
  return "[8] TOLDEX: Parse() illegal addr. 0 for Modbus, '" + work + "'";
}
std::string IllegalBit(const std::string& work) {
  return "[8] TOLDEX: Parse() illegal bitnumber in '" + work + "'";
}
const std::string kOddForModbus =
    "[32] TOLDEX: Parse() 32 bit gates must have ODD address for MODBUS";
const std::string kEvenForJbus =
    "[32] TOLDEX: Parse() 32 bit gates must have EVEN address for J-BUS";

TEST(Parse, RejectedAddresses) {
  // clang-format off
  const Rejected cases[] = {
      // Size.
      {kDecimal, "013000", 0, kSingle, {WrongSize("013000")}},
      {kDecimal, "013000012", 0, kSingle, {WrongSize("013000012")}},
      {kDecimal, "", 0, kSingle, {WrongSize("")}},
      {kLong, "0130001", 0, kSingle, {WrongSize("0130001")}},
      {kDecimal, "01_SCRUT", 0, kSingle, {WrongSize("01_SCRUT")}},
      {kDecimal, "013000123_SCRUT", 0, kSingle, {WrongSize("013000123_SCRUT")}},
      // PLC number, first reading: decimal in every base.
      {kDecimal, "6530001", 0, kSingle, {IllegalPlc("6530001", 65)}},
      {kDecimal, "0030001", 0, kSingle, {IllegalPlc("0030001", 0)}},
      {kDecimal, "XX30001", 0, kSingle, {IllegalPlc("XX30001", 0)}},
      {kDecimal, "0A30001", 0, kSingle, {IllegalPlc("0A30001", 0)}},
      {kDecimal, "-130001", 0, kSingle, {IllegalPlc("-130001", -1)}},
      {kDecimal, "-1BACKUP", 6, kSingle, {IllegalPlc("-1BACKUP", -1)}},
      {kDecimal, "65BACKUP", 6, kSingle, {IllegalPlc("65BACKUP", 65)}},
      {kDecimal, "6530001", 0, kBlock, {IllegalPlc("6530001", 65)}},
      {kHex, "FF30001", 0, kSingle, {IllegalPlc("FF30001", 0)}},
      {kHex, "0a30001", 0, kSingle, {IllegalPlc("0a30001", 0)}},
      {kHex, "0030001", 0, kSingle, {IllegalPlc("0030001", 0)}},
      // Switch gates.
      {kDecimal, "07BACKUP", 0, kSingle, {NotBinary("07BACKUP")}},
      {kDecimal, "07BACKUP", 6, kBlock, {}},
      {kDecimal, "7BACKUP", 6, kSingle, {IllegalChar(2, 'A', "7BACKUP ")}},
      {kLong, "07BACKUPS", 6, kSingle, {IllegalChar(2, 'B', "07BACKUPS")}},
      {kHex, "0ABACKUP", 6, kSingle, {IllegalChar(2, 'B', "0ABACKUP")}},
      // Characters.
      {kDecimal, "01h0001", 0, kSingle, {IllegalChar(2, 'h', "01h0001 ")}},
      {kDecimal, "0120001", 0, kSingle, {IllegalChar(2, '2', "0120001 ")}},
      {kDecimal, "013000 1", 0, kSingle, {IllegalChar(6, ' ', "013000 1")}},
      {kDecimal, "0130001g", 0, kSingle, {IllegalChar(7, 'g', "0130001g")}},
      {kDecimal, "0130001_SCRUTX", 0, kSingle, {IllegalChar(7, '_', "0130001_")}},
      {kHex, "1G30001", 0, kSingle, {IllegalChar(1, 'G', "1G30001 ")}},
      // Bits where none may be, fifth digit in base 'L'.
      {kDecimal, "01000011", 6, kSingle, {IllegalGas("01000011")}},
      {kDecimal, "0110001F", 6, kSingle, {IllegalGas("0110001F")}},
      {kLong, "0130001 5", 6, kSingle, {IllegalGas("0130001 5")}},
      // Decimal bases take decimal digits only (the bit stays hexadecimal).
      {kDecimal, "013000A", 0, kSingle, {NotDecimal("013000A ")}},
      {kDecimal, "1A30001", 0, kSingle, {NotDecimal("1A30001 ")}},
      {kLong, "0130001  ", 0, kSingle, {NotDecimal("0130001  ")}},
      // PLC number, second reading.
      {kHex, "4130001", 0, kSingle, {IllegalPlcAddress("4130001 ")}},
      {kDecimal, "6530001_SCRUT", 0, kSingle, {IllegalPlcAddress("6530001 ")}},
      {kHex, "FF30001_SCRUT", 0, kSingle, {IllegalPlcAddress("FF30001 ")}},
      // Address.
      {kDecimal, "0140000", 0, kSingle, {AddressZero("0140000 ")}},
      {kHex, "0140000", 0, kSingle, {AddressZero("0140000 ")}},
      {kLong, "01300000", 0, kSingle, {AddressZero("01300000 ")}},
      // Bits.
      {kDecimal, "01L0001A", 6, kSingle, {IllegalBit("01L0001A")}},
      {kDecimal, "01H00018", 6, kSingle, {IllegalBit("01H00018")}},
      // 32-bit items on the wrong register.
      {kDecimal, "0170002", 3, kSingle, {kOddForModbus}},
      {kDecimal, "0180010", 4, kBlock, {kOddForModbus}},
      {kHex, "017000A", 3, kSingle, {kOddForModbus}},
      {kDecimalJbus, "0180003", 4, kSingle, {kEvenForJbus}},
      {kLongJbus, "01600011", 4, kSingle, {kEvenForJbus}},
  };
  // clang-format on
  for (const Rejected& c : cases) {
    SCOPED_TRACE("'" + c.address + "' base " + c.config.base + " op " + std::to_string(c.opCode));
    AddressInstance instance(c.config);
    const AddressResult r = instance.ParseOnly(c.address, c.gateType, c.opCode, 200000);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.log, c.log);
  }
}

TEST(Parse, TextsLongerThan255CharactersAreRefusedByTheirSize) {
  AddressInstance instance;
  for (const size_t length : {255u, 256u, 300u, 5000u}) {
    const std::string address = "0130001_SCRUT" + std::string(length - 13, 'x');
    const AddressResult r = instance.ParseOnly(address, 0, kSingle, 200000);
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.log.size(), 1u);
    // At most 255 characters of the text are shown.
    EXPECT_EQ(r.log[0], "[8] TOLDEX: Parse() Wrong size of gas, '" + address.substr(0, 255) + "'");
    EXPECT_EQ(r.gate.plcNumber, 200000);  // nothing written
  }
}

TEST(Parse, CharacterTable) {
  const std::string hex = "0123456789ABCDEF";
  for (int c = 1; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool isHex = hex.find(ch) != std::string::npos;
    for (int position : {0, 1, 3, 4, 5, 6}) EXPECT_EQ(IsAdmittedGasCharacter(position, ch), isHex);
    for (int position : {7, 8}) {
      EXPECT_EQ(IsAdmittedGasCharacter(position, ch), isHex || ch == ' ');
    }
    EXPECT_EQ(IsAdmittedGasCharacter(2, ch),
              std::string("01345678LH").find(ch) != std::string::npos);
  }
  EXPECT_FALSE(IsAdmittedGasCharacter(0, '\0'));
  EXPECT_FALSE(IsAdmittedGasCharacter(9, '0'));
  EXPECT_FALSE(IsAdmittedGasCharacter(-1, '0'));
}

TEST(Parse, EveryPlcNumberInEveryBase) {
  for (const AddressConfig& config : {kDecimal, kHex, kLong}) {
    AddressInstance instance(config);
    for (int plc = 0; plc <= 0xFF; ++plc) {
      char text[16];
      if (config.base == 'H') {
        std::snprintf(text, sizeof text, "%02X30001", plc);
      } else if (plc <= 99) {
        std::snprintf(text, sizeof text, config.base == 'L' ? "%02d300001" : "%02d30001", plc);
      } else {
        continue;
      }
      const AddressResult r = instance.ParseOnly(text, 0, kSingle);
      SCOPED_TRACE(text);
      EXPECT_EQ(r.status, plc >= 1 && plc <= 64 ? 0 : 1);
      if (r.status == 0) {
        EXPECT_EQ(r.gate.plcNumber, plc);
      }
      ASSERT_LE(r.log.size(), 1u);
    }
  }
}

TEST(Parse, SwitchGatesAreQueuedWithTheirDecimalPlcNumber) {
  for (const AddressConfig& config : {kDecimal, kHex, kLong}) {
    AddressInstance instance(config);
    EXPECT_EQ(instance.ParseOnly("26BACKUP", 6, kSingle).status, 0);
    EXPECT_EQ(instance.ParseOnly("26BACKUP", 0, kSingle).status, 1);  // not queued
    EXPECT_EQ(instance.ParseOnly("27BACKUP", 6, kBlock).status, 1);   // not queued
    Registration taken[kSwitchRegistrationCapacity];
    ASSERT_EQ(TakeSwitchRegistrations(instance.record(), taken), 1);
    EXPECT_STREQ(taken[0].text, "26BACKUP");
    EXPECT_EQ(taken[0].number, 26);
    // Parse hands over no _SCRUT gate: that is the single operation's.
    const std::string scrut = config.base == 'L' ? "01300001_SCRUT" : "0130001_SCRUT";
    EXPECT_EQ(instance.ParseOnly(scrut, 0, kSingle, 200000).status, 0);
    EXPECT_EQ(TakeScrutRegistrations(instance.record(), taken), 0);
  }
}

}  // namespace
}  // namespace toldex
