// The two address operations through VpiMain: SingleAddressParser with its
// type checks, diagnostic gates and _SCRUT hand-over, BlockAddressParser with
// its size and span checks, the hand-over of switch and _SCRUT gates to the
// notification thread, and the checked examples of docs/gate-addresses.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "addressing/gate_address.h"
#include "addressing/registration_queue.h"
#include "driver/instance.h"
#include "driver/operations.h"
#include "support/address_fixture.h"
#include "support/doc_examples.h"

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
const AddressConfig kHex{'M', 'H', 0, 1};
const AddressConfig kHexJbus{'J', 'H', 0, 1};
const AddressConfig kLong{'M', 'L', 0, 1};
const AddressConfig kLongJbus{'J', 'L', 0, 1};

const std::string kSingleExit = "[8] TOLDEX: SingleAddressParser() exited #1, 1";
const std::string kBlockExit = "[8] TOLDEX: BlockAddressParser() exited #1, 1";

std::string TypeMessage(const std::string& type) {
  return "[32] TOLDEX: SingleParse() gate type should be " + type;
}

// ---------------------------------------------------------------------------
// SingleParse: gate types against memory types

TEST(SingleAddressParser, GateTypesAgainstMemoryTypes) {
  struct Case {
    std::string address;
    std::vector<int32_t> accepted;  // of the types 0 to 6
    std::string message;            // for every other type
  };
  const std::string digital = TypeMessage("DIGITAL");
  const std::string integer16 = TypeMessage("16-bit INTEGER");
  const std::string floating = TypeMessage("FLOAT");
  const std::string integer32 = TypeMessage("32-bit INTEGER");
  const std::string longArea =
      "[32] TOLDEX: SingleParse() no digital gates allowed from long memory area";
  const Case cases[] = {
      {"0100001", {6}, digital},
      {"0110001", {6}, digital},
      {"0130001", {0, 1, 2}, integer16},
      {"0140001", {0, 1, 2}, integer16},
      {"0150001", {3}, floating},
      {"0170001", {3}, floating},
      {"0160001", {4, 5}, integer32},
      {"0180001", {4, 5}, integer32},
      {"01300013", {6}, digital},
      {"01400013", {6}, digital},
      {"01L00017", {6}, digital},
      {"01H00010", {6}, digital},
      {"07BACKUP", {6}, ""},  // Parse refuses the others
  };
  for (const Case& c : cases) {
    AddressInstance instance;
    for (int32_t type = 0; type <= 6; ++type) {
      SCOPED_TRACE(c.address + " type " + std::to_string(type));
      const AddressResult r = instance.Single(c.address, type);
      const bool accepted =
          std::find(c.accepted.begin(), c.accepted.end(), type) != c.accepted.end();
      EXPECT_EQ(r.status, accepted ? 0 : 1);
      if (accepted) {
        EXPECT_TRUE(r.log.empty()) << r.log[0];
      } else if (!c.message.empty()) {
        const bool longDigital = type == 6 && (c.address[2] >= '5' && c.address[2] <= '8');
        EXPECT_EQ(r.log, std::vector<std::string>{longDigital ? longArea : c.message});
      }
    }
  }
}

TEST(SingleAddressParser, BytesTakeUnsigned16Only) {
  AddressInstance instance;
  for (const char* address : {"01L0001", "01H0001"}) {
    EXPECT_EQ(instance.Single(address, 0).status, 0);
    for (int32_t type : {1, 2}) {
      const AddressResult r = instance.Single(address, type);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.log, std::vector<std::string>{TypeMessage("UNSIGNED 16")});
    }
    for (int32_t type : {3, 4, 5, 6, 7, -1}) {
      const AddressResult r = instance.Single(address, type);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.log, std::vector<std::string>{TypeMessage("16-bit INTEGER")});
    }
  }
}

TEST(SingleAddressParser, WidthsAfterTheTypeCheck) {
  AddressInstance instance;
  // A bit of a holding register stays 16 bits wide; of an input register it is 1.
  AddressResult r = instance.Single("01400013", 6);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.gate.bitNumber, 3);
  EXPECT_EQ(r.gate.bitWidth, 16);
  r = instance.Single("01300013", 6);
  EXPECT_EQ(r.gate.bitNumber, 3);
  EXPECT_EQ(r.gate.bitWidth, 1);
  r = instance.Single("01L00013", 6);
  EXPECT_EQ(r.gate.bitWidth, 1);
  r = instance.Single("07BACKUP", 6);
  EXPECT_EQ(r.gate.bitWidth, 16);
  EXPECT_EQ(r.gate.memoryType, kUntouched);
}

TEST(SingleAddressParser, ParseRejectionsAddTheExitLine) {
  AddressInstance instance;
  AddressResult r = instance.Single("0140000", 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "[8] TOLDEX: Parse() illegal addr. 0 for Modbus, '0140000 '", kSingleExit}));
  r = instance.Single("6530001", 0);
  EXPECT_EQ(r.log, (std::vector<std::string>{"[32] TolDEX : SingleAddressParser tag address "
                                             "6530001 contains illegal Plc address 65, valids "
                                             "are 1->64",
                                             kSingleExit}));
}

TEST(SingleAddressParser, UnderscoresOutsideSuffixAndDiagnosticsAreRefused) {
  AddressInstance instance;
  for (const char* address : {"01_30001", "_", "0130001_", "0130001_scrut"}) {
    const AddressResult r = instance.Single(address, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.log, std::vector<std::string>{"[32] TOLDEX: Parse faild. Tag " +
                                              std::string(address) + " is invalid."});
  }
  Registration taken[kScrutRegistrationCapacity];
  EXPECT_EQ(TakeScrutRegistrations(instance.record(), taken), 0);
}

TEST(SingleAddressParser, TextsLongerThan255CharactersAreRefusedByTheirSize) {
  AddressInstance instance;
  for (const std::string& address :
       {"0130001_SCRUT" + std::string(250, 'x'), "$NUMCOMMS:07" + std::string(300, ' '),
        std::string(256, '_'), std::string(100000, '0')}) {
    const AddressResult r = instance.Single(address, 5);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.log, (std::vector<std::string>{
                         "[8] TOLDEX: Parse() Wrong size of gas, '" + address.substr(0, 255) + "'",
                         kSingleExit}));
    EXPECT_EQ(r.gate.plcNumber, kUntouched);
  }
  Registration taken[kScrutRegistrationCapacity];
  EXPECT_EQ(TakeScrutRegistrations(instance.record(), taken), 0);
  // 255 characters are still examined as usual.
  const std::string longest = "0130001_SCRUT" + std::string(242, 'x');
  ASSERT_EQ(longest.size(), 255u);
  const AddressResult r = instance.Single(longest, 0);
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "[8] TOLDEX: Parse() Wrong size of gas, '" + longest + "'", kSingleExit}));
  ASSERT_EQ(TakeScrutRegistrations(instance.record(), taken), 1);
  EXPECT_STREQ(taken[0].text, longest.c_str());
}

TEST(SingleAddressParser, ANullAddressIsAnEmptyOne) {
  AddressInstance instance;
  GateAddress gate{};
  gate.address = nullptr;
  gate.gateType = 0;
  DriverRequest request{};
  request.instance = &instance.record();
  request.op = kOpSingleAddressParser;
  request.params = &gate;
  EXPECT_EQ(SingleAddressParser(&request), 1);
  request.op = kOpBlockAddressParser;
  EXPECT_EQ(BlockAddressParser(&request), 1);
}

// ---------------------------------------------------------------------------
// Diagnostic gates

TEST(SingleAddressParser, DiagnosticGates) {
  struct Case {
    AddressConfig config;
    std::string address;
    int32_t gateType;
    int32_t status;
    int32_t plcNumber;
    int32_t memoryType;
    std::string message;
  };
  const std::string unsigned32 = "Type must be 'Unsigned 32'";
  const std::string digital = "Type must be 'Digital'";
  const Case cases[] = {
      {kDecimal, "$NUMCOMMS:07", 5, 0, 1007, 1000, ""},
      {kDecimal, "$NUMSUCCESS:07", 5, 0, 1007, 1001, ""},
      {kDecimal, "$NUMFAILS:07", 5, 0, 1007, 1002, ""},
      {kDecimal, "$ERRORS:07", 5, 0, 1007, 1004, ""},
      {kDecimal, "$COMMFAILS:07", 5, 0, 1007, 1005, ""},
      {kDecimal, "$ST_ONLINE:07", 6, 0, 1007, 1003, ""},
      {kDecimal, "$NUMCOMMS:00", 5, 0, 1000, 1000, ""},
      {kDecimal, "$NUMCOMMS:99", 5, 0, 1099, 1000, ""},
      {kDecimal, "$NUMCOMMS:7", 5, 0, 1007, 1000, ""},
      {kDecimal, "$NUMCOMMS: 7", 5, 0, 1007, 1000, ""},
      {kDecimal, "$NUMCOMMS:123", 5, 0, 1012, 1000, ""},  // two digits; the rest is ignored
      {kDecimal, "$NUMCOMMS:07 spare", 5, 0, 1007, 1000, ""},
      {kDecimal, "$NUMCOMMS:1F", 5, 0, 1001, 1000, ""},  // decimal base: "1" and a rest
      {kLong, "$ERRORS:64", 5, 0, 1064, 1004, ""},
      {kHex, "$NUMCOMMS:1F", 5, 0, 1031, 1000, ""},
      {kHex, "$ERRORS:FF", 5, 0, 1255, 1004, ""},
      {kHex, "$ERRORS:ff", 5, 0, 1255, 1004, ""},
      {kHex, "$ST_ONLINE:0A", 6, 0, 1010, 1003, ""},
      {kDecimal, "$NUMCOMMS:07", 6, 1, 7, kUntouched,
       "[32] TOLDEX: Parse failed. Tag '$NUMCOMMS:07'. " + unsigned32},
      {kDecimal, "$COMMFAILS:07", 4, 1, 7, kUntouched,
       "[32] TOLDEX: Parse failed. Tag '$COMMFAILS:07'. " + unsigned32},
      {kDecimal, "$ST_ONLINE:07", 5, 1, 7, kUntouched,
       "[32] TOLDEX: Parse failed. Tag '$ST_ONLINE:07'. " + digital},
      {kDecimal, "$NUMBER:07", 5, 1, kUntouched, kUntouched,
       "[32] TOLDEX: Parse failed. Invalid Tag address '$NUMBER:07'"},
      {kDecimal, "$numcomms:07", 5, 1, kUntouched, kUntouched,
       "[32] TOLDEX: Parse failed. Invalid Tag address '$numcomms:07'"},
      {kDecimal, "$NUMCOMMS:", 5, 1, kUntouched, kUntouched,
       "[32] TOLDEX: Parse failed. Invalid Tag address '$NUMCOMMS:'"},
      {kDecimal, "$NUMCOMMS:-1", 5, 1, -1, kUntouched,
       "[32] TOLDEX: Parse failed. Invalid Tag address '$NUMCOMMS:-1'"},
      {kDecimal, "$", 5, 1, kUntouched, kUntouched,
       "[32] TOLDEX: Parse failed. Invalid Tag address '$'"},
      {kDecimal, "$ST_ONLINE:07_SCRUT", 6, 0, 1007, 1003, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address + " base " + c.config.base);
    AddressInstance instance(c.config);
    const AddressResult r = instance.Single(c.address, c.gateType);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.gate.plcNumber, c.plcNumber);
    EXPECT_EQ(r.gate.memoryType, c.memoryType);
    EXPECT_EQ(r.gate.registerAddress, kUntouched);
    EXPECT_EQ(r.gate.bitNumber, kUntouched);
    EXPECT_EQ(r.gate.bitWidth, kUntouched);
    if (c.message.empty()) {
      EXPECT_TRUE(r.log.empty()) << r.log[0];
    } else {
      EXPECT_EQ(r.log, std::vector<std::string>{c.message});
    }
  }
}

TEST(BlockAddressParser, DiagnosticGatesAreNoBlocks) {
  AddressInstance instance;
  const AddressResult r = instance.Block("$NUMCOMMS:07", 1, 5);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "[8] TOLDEX: Parse() Wrong size of gas, '$NUMCOMMS:07'", kBlockExit}));
}

// ---------------------------------------------------------------------------
// _SCRUT gates

TEST(SingleAddressParser, ScrutGatesAreHandedOverBeforeAnyCheck) {
  struct Case {
    AddressConfig config;
    std::string address;
    int32_t gateType;
    int32_t status;
    int32_t plcNumber;
    int32_t queuedNumber;  // -1: not queued
  };
  const Case cases[] = {
      {kDecimal, "0130001_SCRUT", 0, 0, 200001, 1},
      {kDecimal, "0030001_SCRUT", 0, 0, 200000, 0},
      {kDecimal, "6440001_SCRUT", 1, 0, 200064, 64},
      {kHex, "1A30001_SCRUT", 0, 0, 200026, 26},
      {kHex, "0A30001_SCRUT", 0, 0, 200010, 10},
      {kLong, "01300001_SCRUT", 0, 0, 200001, 1},
      {kDecimal, "0130001_SCRUT", 6, 1, 200001, 1},   // refused by the type check
      {kDecimal, "6530001_SCRUT", 0, 1, 200000, 65},  // refused by Parse, still handed over
      {kHex, "FF30001_SCRUT", 0, 1, 200000, 255},
      {kDecimal, "XX30001_SCRUT", 0, 1, 200000, -1},  // no station number: nothing to register
      {kDecimal, "-130001_SCRUT", 0, 1, 200000, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    AddressInstance instance(c.config);
    const AddressResult r = instance.Single(c.address, c.gateType);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.gate.plcNumber, c.plcNumber);
    Registration taken[kScrutRegistrationCapacity];
    const int count = TakeScrutRegistrations(instance.record(), taken);
    if (c.queuedNumber < 0) {
      EXPECT_EQ(count, 0);
    } else {
      ASSERT_EQ(count, 1);
      EXPECT_STREQ(taken[0].text, c.address.c_str());
      EXPECT_EQ(taken[0].number, c.queuedNumber);
    }
  }
}

TEST(SingleAddressParser, ScrutGatesGiveTheOrdinaryResultOnTheirOwnStation) {
  AddressInstance instance;
  const AddressResult plain = instance.Single("0170003", 3);
  const AddressResult scrut = instance.Single("0170003_SCRUT", 3);
  EXPECT_EQ(scrut.status, 0);
  EXPECT_EQ(scrut.gate.plcNumber, 200000 + plain.gate.plcNumber);
  EXPECT_EQ(scrut.gate.memoryType, plain.gate.memoryType);
  EXPECT_EQ(scrut.gate.registerAddress, plain.gate.registerAddress);
  EXPECT_EQ(scrut.gate.bitNumber, plain.gate.bitNumber);
  EXPECT_EQ(scrut.gate.bitWidth, plain.gate.bitWidth);
}

TEST(BlockAddressParser, ScrutBlocksArePresetLikeSingleOnes) {
  for (int32_t leftByHost : {0, kUntouched, 200000, -5}) {
    AddressInstance instance;
    GateAddress gate{};
    const std::string address = "0540001_SCRUT";
    gate.address = address.c_str();
    gate.blockLength = 10;
    gate.plcNumber = leftByHost;
    DriverRequest request{};
    request.instance = &instance.record();
    request.op = kOpBlockAddressParser;
    request.params = &gate;
    EXPECT_EQ(BlockAddressParser(&request), 0);
    EXPECT_EQ(gate.plcNumber, 200005);
    EXPECT_EQ(gate.registerAddress, 0);
    Registration taken[kScrutRegistrationCapacity];
    EXPECT_EQ(TakeScrutRegistrations(instance.record(), taken), 0);
  }
}

// ---------------------------------------------------------------------------
// Blocks

TEST(BlockAddressParser, SizeAndSpan) {
  struct Case {
    AddressConfig config;
    std::string address;
    int32_t blockLength;
    std::string message;  // empty: accepted
  };
  const std::string tooLong = "[32] TOLDEX: BlockParse(): Block length is too long";
  const std::string overlap =
      "[32] TOLDEX: BlockParse(): Block length is too long, the start address + the block "
      "length is overlapping the maximum adress that can be reached";
  const Case cases[] = {
      {kDecimal, "0140001", 125, ""},
      {kDecimal, "0140001", 126, tooLong},
      {kDecimal, "0130001", 125, ""},
      {kDecimal, "01L0001", 125, ""},
      {kDecimal, "01L0001", 126, tooLong},
      {kDecimal, "0100001", 2000, ""},
      {kDecimal, "0100001", 2001, tooLong},
      {kDecimal, "0110001", 2000, ""},
      {kDecimal, "0170001", 62, ""},
      {kDecimal, "0170001", 63, tooLong},
      {kDecimal, "0180001", 62, ""},
      {kDecimal, "0149990", 10, ""},
      {kDecimal, "0149990", 11, overlap},
      {kDecimal, "0179997", 1, ""},  // registers 9997 and 9998
      {kDecimal, "0179999", 1, overlap},
      {kDecimal, "0109999", 1, ""},
      {kDecimal, "0109999", 2, overlap},
      {kDecimal, "0140001", 0, ""},  // an empty block fits
      {kDecimal, "0140001", -1, overlap},
      {kDecimal, "0140001", INT32_MIN, overlap},
      {kDecimal, "0140001", INT32_MAX, tooLong},
      {kDecimal, "0100001", INT32_MAX, tooLong},
      {kDecimal, "0170001", 1 << 30, tooLong},
      {kDecimalJbus, "0149999", 1, ""},
      {kDecimalJbus, "0149999", 2, overlap},
      {kDecimalJbus, "0170000", 62, ""},
      {kDecimalJbus, "0179998", 1, ""},
      {kDecimalJbus, "0179998", 2, overlap},
      {kDecimalNoParity, "0179998", 1, ""},  // odd start: registers 9998 and 9999
      {kDecimalNoParity, "0179998", 2, overlap},
      {kDecimalNoParity, "0170002", 62, ""},
      {kDecimalLongAddr, "0179999", 1, ""},  // one address per value
      {kDecimalLongAddr, "0179999", 2, overlap},
      {kDecimalLongAddr, "0170001", 62, ""},
      {kDecimalLongAddr, "0170001", 63, tooLong},
      {kHex, "014FFFF", 1, ""},
      {kHex, "014FFFF", 2, overlap},
      {kHex, "014FF83", 125, ""},
      {kHexJbus, "014FFFF", 1, ""},
      {kHexJbus, "014FFFF", 2, overlap},
      {kLong, "01499999", 1, ""},
      {kLong, "01499999", 2, overlap},
      {kLong, "01099999", 1, ""},
      {kLongJbus, "01499999", 1, ""},
      {kLongJbus, "01499998", 3, overlap},
      {kDecimal, "01400013", 1, "[32] TOLDEX: BlockParse() no spec. digital gates as block!"},
      {kDecimal, "01L00013", 1, "[32] TOLDEX: BlockParse() no spec. digital gates as block!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address + " x " + std::to_string(c.blockLength) + " base " + c.config.base +
                 " protocol " + c.config.protocol);
    AddressInstance instance(c.config);
    const AddressResult r = instance.Block(c.address, c.blockLength, 3);  // no type check
    EXPECT_EQ(r.status, c.message.empty() ? 0 : 1);
    if (c.message.empty()) {
      EXPECT_TRUE(r.log.empty()) << r.log[0];
    } else {
      EXPECT_EQ(r.log, std::vector<std::string>{c.message});
    }
  }
}

TEST(BlockAddressParser, SwitchGatesAreRefusedWithOnlyTheExitLine) {
  AddressInstance instance;
  const AddressResult r = instance.Block("07BACKUP", 1, 6);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.log, std::vector<std::string>{kBlockExit});
  Registration taken[kSwitchRegistrationCapacity];
  EXPECT_EQ(TakeSwitchRegistrations(instance.record(), taken), 0);
}

TEST(BlockAddressParser, ParseRejectionsAddTheExitLine) {
  AddressInstance instance;
  const AddressResult r = instance.Block("0140000", 1);
  EXPECT_EQ(r.log, (std::vector<std::string>{
                       "[8] TOLDEX: Parse() illegal addr. 0 for Modbus, '0140000 '", kBlockExit}));
  // No '_' test on this path: Parse refuses such a text like any other.
  const AddressResult underscore = instance.Block("01_30001", 1);
  EXPECT_EQ(underscore.log,
            (std::vector<std::string>{"[8] TOLDEX: Parse() illegal char #2, _ in '01_30001'",
                                      kBlockExit}));
}

// ---------------------------------------------------------------------------
// The hand-over to the notification thread

TEST(Registrations, SixtyFourSwitchGatesAndAHundredScrutGatesInARow) {
  AddressInstance instance;
  std::vector<std::string> scrutTexts;
  for (int plc = 1; plc <= 64; ++plc) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dBACKUP", plc);
    ASSERT_EQ(instance.Single(text, 6).status, 0) << text;
  }
  for (int i = 0; i < 100; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d4%04d_SCRUT", i % 64 + 1, i + 1);
    scrutTexts.push_back(text);
    ASSERT_EQ(instance.Single(text, 0).status, 0) << text;
  }

  Registration switches[kSwitchRegistrationCapacity];
  ASSERT_EQ(TakeSwitchRegistrations(instance.record(), switches), 64);
  for (int plc = 1; plc <= 64; ++plc) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dBACKUP", plc);
    EXPECT_STREQ(switches[plc - 1].text, text);
    EXPECT_EQ(switches[plc - 1].number, plc);
  }
  Registration scruts[kScrutRegistrationCapacity];
  ASSERT_EQ(TakeScrutRegistrations(instance.record(), scruts), 100);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(scruts[i].text, scrutTexts[i]);
    EXPECT_EQ(scruts[i].number, i % 64 + 1);
  }
  // Taken means gone.
  EXPECT_EQ(TakeSwitchRegistrations(instance.record(), switches), 0);
  EXPECT_EQ(TakeScrutRegistrations(instance.record(), scruts), 0);
}

TEST(Registrations, AGateAlreadyWaitingIsNotQueuedTwice) {
  AddressInstance instance;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(instance.Single("07BACKUP", 6).status, 0);
    EXPECT_EQ(instance.Single("0130001_SCRUT", 0).status, 0);
  }
  Registration taken[kScrutRegistrationCapacity];
  EXPECT_EQ(TakeSwitchRegistrations(instance.record(), taken), 1);
  EXPECT_EQ(TakeScrutRegistrations(instance.record(), taken), 1);
  // Once taken, parsing it again hands it over again.
  EXPECT_EQ(instance.Single("07BACKUP", 6).status, 0);
  EXPECT_EQ(TakeSwitchRegistrations(instance.record(), taken), 1);
}

TEST(Registrations, AFullQueueRefusesNewGatesButTheAddressStaysAccepted) {
  AddressInstance instance;
  for (int plc = 1; plc <= 64; ++plc) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dBACKUP", plc);
    ASSERT_EQ(instance.Single(text, 6).status, 0);
  }
  const AddressResult r = instance.Single("07backup", 6);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.gate.plcNumber, 100007);
  ASSERT_EQ(r.log.size(), 1u);
  EXPECT_EQ(r.log[0].rfind("[32] ", 0), 0u) << r.log[0];
  Registration taken[kSwitchRegistrationCapacity];
  ASSERT_EQ(TakeSwitchRegistrations(instance.record(), taken), 64);
  EXPECT_STREQ(taken[6].text, "07BACKUP");  // nothing overwritten
}

TEST(Registrations, GatesParsedOnSeveralThreadsAtOnceAllArrive) {
  AddressInstance instance;
  DriverRequest base{};
  base.instance = &instance.record();
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 16; ++i) {
        const int plc = t * 16 + i + 1;
        char switchText[32];
        std::snprintf(switchText, sizeof switchText, "%02dBACKUP", plc);
        char scrutText[32];
        std::snprintf(scrutText, sizeof scrutText, "%02d30001_SCRUT", plc);
        for (const char* text :
             {static_cast<const char*>(switchText), static_cast<const char*>(scrutText)}) {
          GateAddress gate{};
          gate.address = text;
          gate.gateType = text == switchText ? 6 : 0;
          DriverRequest request = base;
          request.op = kOpSingleAddressParser;
          request.params = &gate;
          EXPECT_EQ(SingleAddressParser(&request), 0);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  Registration taken[kScrutRegistrationCapacity];
  std::set<int32_t> numbers;
  ASSERT_EQ(TakeSwitchRegistrations(instance.record(), taken), 64);
  for (int i = 0; i < 64; ++i) numbers.insert(taken[i].number);
  EXPECT_EQ(numbers.size(), 64u);
  numbers.clear();
  ASSERT_EQ(TakeScrutRegistrations(instance.record(), taken), 64);
  for (int i = 0; i < 64; ++i) numbers.insert(taken[i].number);
  EXPECT_EQ(numbers.size(), 64u);
}

// ---------------------------------------------------------------------------
// The examples of docs/gate-addresses.md. The name of each checked table says
// how the instance is set up: base, protocol and options.

AddressConfig ConfigOf(const std::string& name) {
  AddressConfig config;
  if (name.find("hexadecimal") != std::string::npos) config.base = 'H';
  if (name.find("long-") != std::string::npos) config.base = 'L';
  if (name.find("jbus") != std::string::npos) config.protocol = 'J';
  if (name.find("noparity") != std::string::npos) config.parityAddrChecking = 0;
  if (name.find("longaddr") != std::string::npos) config.options = kOptionLongAddr;
  return config;
}

int32_t FieldOf(const std::string& cell) {
  const std::string text = testing::Unquoted(cell);
  return text == "—" ? kUntouched : static_cast<int32_t>(testing::CellNumber(text));
}

class GateAddressDocument : public ::testing::Test {
 protected:
  std::string document_ = testing::ReadDocument("gate-addresses.md");
};

TEST_F(GateAddressDocument, AcceptedAddresses) {
  const auto names = testing::MarkersOf(document_, "accepted-");
  EXPECT_GE(names.size(), 6u);
  for (const std::string& name : names) {
    AddressInstance instance(ConfigOf(name));
    for (const auto& row : testing::TableAfter(document_, name)) {
      ASSERT_EQ(row.size(), 8u);
      const std::string address = testing::Unquoted(row[0]);
      SCOPED_TRACE(name + ": " + address);
      const AddressResult r = instance.Single(address, FieldOf(row[1]));
      EXPECT_EQ(r.status, 0);
      EXPECT_TRUE(r.log.empty()) << r.log[0];
      EXPECT_EQ(r.gate.plcNumber, FieldOf(row[2]));
      EXPECT_EQ(r.gate.memoryType, FieldOf(row[3]));
      EXPECT_EQ(r.gate.registerAddress, FieldOf(row[4]));
      EXPECT_EQ(r.gate.bitNumber, FieldOf(row[5]));
      EXPECT_EQ(r.gate.bitWidth, FieldOf(row[6]));
    }
  }
}

TEST_F(GateAddressDocument, DiagnosticGates) {
  const auto names = testing::MarkersOf(document_, "diagnostic-");
  EXPECT_EQ(names.size(), 2u);
  for (const std::string& name : names) {
    AddressInstance instance(ConfigOf(name));
    for (const auto& row : testing::TableAfter(document_, name)) {
      ASSERT_EQ(row.size(), 4u);
      const std::string address = testing::Unquoted(row[0]);
      SCOPED_TRACE(name + ": " + address);
      const AddressResult r = instance.Single(address, FieldOf(row[1]));
      EXPECT_EQ(r.status, 0);
      EXPECT_TRUE(r.log.empty()) << r.log[0];
      EXPECT_EQ(r.gate.plcNumber, FieldOf(row[2]));
      EXPECT_EQ(r.gate.memoryType, FieldOf(row[3]));
    }
  }
}

TEST_F(GateAddressDocument, RefusedAddresses) {
  const auto names = testing::MarkersOf(document_, "refused-");
  EXPECT_EQ(names.size(), 2u);
  for (const std::string& name : names) {
    AddressInstance instance(ConfigOf(name));
    for (const auto& row : testing::TableAfter(document_, name)) {
      ASSERT_EQ(row.size(), 3u);
      const std::string address = testing::Unquoted(row[0]);
      SCOPED_TRACE(name + ": " + address);
      const AddressResult r = instance.Single(address, FieldOf(row[1]));
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.log, testing::CellLines(row[2]));
    }
  }
}

TEST_F(GateAddressDocument, Blocks) {
  const auto names = testing::MarkersOf(document_, "block-");
  EXPECT_EQ(names.size(), 1u);
  for (const std::string& name : names) {
    AddressInstance instance(ConfigOf(name));
    for (const auto& row : testing::TableAfter(document_, name)) {
      ASSERT_EQ(row.size(), 3u);
      const std::string address = testing::Unquoted(row[0]);
      SCOPED_TRACE(name + ": " + address + " x " + row[1]);
      const AddressResult r = instance.Block(address, FieldOf(row[1]));
      const auto messages = testing::CellLines(row[2]);
      EXPECT_EQ(r.status, messages.empty() ? 0 : 1);
      EXPECT_EQ(r.log, messages);
    }
  }
}

}  // namespace
}  // namespace toldex
