// The decisions of the "Tag Format" form: spin arrows, checks and their
// messages, the composed address, the choices offered, the owner window and
// the host library version.
#include <gtest/gtest.h>
#include <qirpro.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "addressing/browse_address.h"
#include "addressing/browse_form.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

using platform::SpinDirection;
using platform::TagFormFields;

constexpr auto kUp = SpinDirection::kUp;
constexpr auto kDown = SpinDirection::kDown;

std::string Spin(char base, const char* text, SpinDirection direction) {
  char next[platform::kFormSpinTextSize];
  std::memset(next, '#', sizeof next);
  browse::SpinPlcNumber(base, text, direction, next);
  return next;
}

TEST(TagFormSpin, StepsWithinTheRangeOfTheBase) {
  struct Case {
    char base;
    const char* text;
    SpinDirection direction;
    const char* expected;
  };
  const Case cases[] = {
      {'D', "01", kUp, "02"},   {'D', "01", kDown, "01"}, {'D', "99", kUp, "99"},
      {'D', "98", kUp, "99"},   {'D', "10", kDown, "09"}, {'D', "09", kUp, "10"},
      {'L', "99", kUp, "99"},   {'L', "42", kDown, "41"}, {'H', "FE", kUp, "FF"},
      {'H', "FF", kUp, "FF"},   {'H', "09", kUp, "0A"},   {'H', "10", kDown, "0F"},
      {'H', "99", kUp, "9A"},   {'H', "01", kDown, "01"}, {'H', "1f", kDown, "1E"},
      {'H', "0a", kUp, "0B"},   {'D', "5", kUp, "06"},    {'H', "F", kUp, "10"},
      // Zero is below the range: a step of either way lands on the lowest number.
      {'D', "00", kDown, "01"}, {'D', "00", kUp, "01"},   {'H', "00", kDown, "01"},
      // Only the first two characters count.
      {'D', "123", kUp, "13"},  {'D', "05x", kDown, "04"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Spin(c.base, c.text, c.direction), c.expected)
        << "base " << c.base << " text '" << c.text << "' "
        << (c.direction == kUp ? "up" : "down");
  }
}

TEST(TagFormSpin, TextThatIsNoNumberOfTheBaseStartsAtOne) {
  struct Case {
    char base;
    const char* text;
    SpinDirection direction;
    const char* expected;
  };
  const Case cases[] = {
      {'D', "0A", kUp, "02"},  {'L', "0A", kUp, "02"},   {'D', "", kUp, "02"},
      {'D', "", kDown, "01"},  {'H', "", kUp, "02"},     {'H', "G1", kUp, "02"},
      {'D', " 5", kUp, "02"},  {'D', "-1", kUp, "02"},   {'D', "+9", kUp, "02"},
      {'H', "0x", kUp, "02"},  {'D', "AB", kDown, "01"}, {'D', "1F", kUp, "02"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Spin(c.base, c.text, c.direction), c.expected)
        << "base " << c.base << " text '" << c.text << "'";
  }
}

TEST(TagFormCheck, AddressNeedsExactlyTheDigitsOfTheBase) {
  constexpr const char* kDecimal = "Wrong address! (4 decimal digits)";
  constexpr const char* kHexadecimal = "Wrong address! (4 hexadecimal digits)";
  constexpr const char* kLong = "Wrong address! (5 decimal digits)";
  struct Case {
    char base;
    const char* text;
    const char* expected;  // nullptr: accepted
  };
  const Case cases[] = {
      {'D', "0100", nullptr},   {'D', "0000", nullptr},  {'D', "9999", nullptr},
      {'D', "12", kDecimal},    {'D', "123", kDecimal},  {'D', "12345", kDecimal},
      {'D', "01A0", kDecimal},  {'D', " 100", kDecimal}, {'D', "0100 ", kDecimal},
      {'D', "", kDecimal},      {'D', "-100", kDecimal}, {'H', "00FF", nullptr},
      {'H', "00ff", nullptr},   {'H', "AbCd", nullptr},  {'H', "0000", nullptr},
      {'H', "00FG", kHexadecimal}, {'H', "0FF", kHexadecimal}, {'H', "000FF", kHexadecimal},
      {'H', "0x1F", kHexadecimal}, {'L', "12345", nullptr}, {'L', "00000", nullptr},
      {'L', "1234", kLong},     {'L', "123456", kLong},  {'L', "1234A", kLong},
  };
  for (const Case& c : cases) {
    const char* got = browse::CheckAddress(c.base, c.text);
    if (c.expected == nullptr) {
      EXPECT_EQ(got, nullptr) << "base " << c.base << " '" << c.text << "': " << got;
    } else {
      ASSERT_NE(got, nullptr) << "base " << c.base << " '" << c.text << "'";
      EXPECT_STREQ(got, c.expected) << "base " << c.base << " '" << c.text << "'";
    }
  }
}

TEST(TagFormCheck, PlcNumberNeedsExactlyTwoDigitsOfTheBaseAndNoRange) {
  constexpr const char* kDecimal = "Wrong PLC number! (2 decimal digits)";
  constexpr const char* kHexadecimal = "Wrong PLC number! (2 hexadecimal digits)";
  struct Case {
    char base;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {'D', "05", nullptr},  {'D', "00", nullptr},       {'D', "99", nullptr},
      {'L', "64", nullptr},  {'D', "5", kDecimal},        {'D', "005", kDecimal},
      {'D', "1F", kDecimal}, {'L', "0A", kDecimal},       {'D', "", kDecimal},
      {'D', " 5", kDecimal}, {'H', "1F", nullptr},        {'H', "1f", nullptr},
      {'H', "FF", nullptr},  {'H', "00", nullptr},        {'H', "1G", kHexadecimal},
      {'H', "F", kHexadecimal}, {'H', "0FF", kHexadecimal},
  };
  for (const Case& c : cases) {
    const char* got = browse::CheckPlcNumber(c.base, c.text);
    if (c.expected == nullptr) {
      EXPECT_EQ(got, nullptr) << "base " << c.base << " '" << c.text << "': " << got;
    } else {
      ASSERT_NE(got, nullptr) << "base " << c.base << " '" << c.text << "'";
      EXPECT_STREQ(got, c.expected) << "base " << c.base << " '" << c.text << "'";
    }
  }
}

TagFormFields Fields(const char* plc, const char* memoryType, const char* address,
                     const char* bit) {
  TagFormFields fields;
  std::memset(&fields, 0, sizeof fields);
  std::snprintf(fields.plcText, sizeof fields.plcText, "%s", plc);
  std::snprintf(fields.memoryTypeText, sizeof fields.memoryTypeText, "%s", memoryType);
  std::snprintf(fields.addressText, sizeof fields.addressText, "%s", address);
  std::snprintf(fields.bitText, sizeof fields.bitText, "%s", bit);
  return fields;
}

TEST(TagFormCheck, MissingFieldsThenAddressThenPlcNumber) {
  struct Case {
    const char* plc;
    const char* memoryType;
    const char* address;
    const char* bit;
    const char* expected;
  };
  const Case cases[] = {
      {"05", "4:", "0100", "None", nullptr},
      {"05", "", "0100", "None", "missing value!"},
      {"", "4:", "0100", "None", "missing value!"},
      {"05", "4:", "", "None", "missing value!"},
      {"05", "4:", "0100", "", "missing value!"},
      // A missing field is reported before any wrong one.
      {"5", "", "12", "None", "missing value!"},
      {"5", "4:", "0100", "None", "Wrong PLC number! (2 decimal digits)"},
      {"05", "4:", "12", "None", "Wrong address! (4 decimal digits)"},
      {"5", "4:", "12", "A", "Wrong address! (4 decimal digits)"},
  };
  for (const Case& c : cases) {
    const char* got = browse::CheckFields('D', Fields(c.plc, c.memoryType, c.address, c.bit));
    const std::string where = std::string("plc '") + c.plc + "' type '" + c.memoryType +
                              "' address '" + c.address + "' bit '" + c.bit + "'";
    if (c.expected == nullptr) {
      EXPECT_EQ(got, nullptr) << where << ": " << got;
    } else {
      ASSERT_NE(got, nullptr) << where;
      EXPECT_STREQ(got, c.expected) << where;
    }
  }
}

TEST(TagFormCompose, BuildsTheAddressOfTheBase) {
  struct Case {
    char base;
    const char* plc;
    const char* memoryType;
    const char* address;
    const char* bit;
    const char* expected;
  };
  const Case cases[] = {
      {'D', "05", "4:", "0100", "None", "0540100"},
      {'D', "05", "4:", "0100", "A", "0540100A"},
      {'D', "05", "4:", "0100", "0", "05401000"},
      {'L', "05", "3:", "12345", "3", "053123453"},
      {'L', "05", "3:", "12345", "None", "05312345"},
      {'H', "1F", "7:", "00FF", "None", "1F700FF"},
      {'H', "1F", "8:", "ABCD", "F", "1F8ABCDF"},
      {'D', "64", "0:", "9999", "None", "6409999"},
  };
  for (const Case& c : cases) {
    char address[browse::kComposedAddressSize];
    std::memset(address, '#', sizeof address);
    const std::size_t length =
        browse::ComposeAddress(c.base, Fields(c.plc, c.memoryType, c.address, c.bit), address);
    EXPECT_STREQ(address, c.expected) << "base " << c.base;
    EXPECT_EQ(length, std::strlen(c.expected));
  }
}

TEST(TagFormChoices, EightMemoryTypesInSortedOrderAndSeventeenBits) {
  const char* const memoryTypes[] = {
      "0: Coils (only for Modicon PLC's)",
      "1: Inputs (only for Modicon PLC's)",
      "3: Input Registers (only for Modicon PLC's)",
      "4: Holding Registers (only for Modicon PLC's)",
      "5: Input Registers (32 bits floating point)",
      "6: Input Registers (32 bits unsigned long)",
      "7: Holding Registers (32 bits floating point)",
      "8: Holding Registers (32 bits unsigned long)",
  };
  for (const char base : {'D', 'H', 'L'}) {
    const platform::TagFormRules rules = browse::TagFormatRules(base);
    EXPECT_EQ(rules.addressBase, base);
    ASSERT_EQ(rules.memoryTypeChoiceCount, 8);
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(rules.memoryTypeChoices[i], memoryTypes[i]);
    // The dialog's list sorts its items: the order must survive that.
    EXPECT_TRUE(std::is_sorted(rules.memoryTypeChoices, rules.memoryTypeChoices + 8,
                               [](const char* a, const char* b) { return std::strcmp(a, b) < 0; }));
    ASSERT_EQ(rules.bitChoiceCount, 17);
    EXPECT_STREQ(rules.bitChoices[0], "None");
    const char* const digits = "0123456789ABCDEF";
    for (int i = 1; i < 17; ++i) {
      EXPECT_EQ(rules.bitChoices[i], std::string(1, digits[i - 1])) << "bit item " << i;
    }
    EXPECT_STREQ(rules.initialPlcText, "01");
    EXPECT_STREQ(rules.errorCaption, "Error");
    EXPECT_EQ(rules.spinPlcNumber, &browse::SpinPlcNumber);
    EXPECT_EQ(rules.checkFields, &browse::CheckFields);
  }
  EXPECT_STREQ(browse::TagFormatRules('D').addressHint, "4 decimal digits");
  EXPECT_STREQ(browse::TagFormatRules('H').addressHint, "4 hexadecimal digits");
  EXPECT_STREQ(browse::TagFormatRules('L').addressHint, "5 decimal digits");
  EXPECT_STREQ(browse::TagFormatRules('L').plcNumberHint, "2 decimal digits");
  EXPECT_STREQ(browse::TagFormatRules('H').plcNumberHint, "2 hexadecimal digits");
}

TEST(TagFormOwner, OnlyARecentHostLibraryGivesTheHostWindow) {
  int window = 0;
  void* host = &window;
  EXPECT_EQ(browse::OwnerWindowFor(0, host), nullptr);
  EXPECT_EQ(browse::OwnerWindowFor(819, host), nullptr);
  EXPECT_EQ(browse::OwnerWindowFor(820, host), host);
  EXPECT_EQ(browse::OwnerWindowFor(0xFFFF, host), host);
}

class HostVersion : public ::testing::Test {
 protected:
  void SetUp() override { QirCtlReset(); }
  void TearDown() override {
    QirCtlSetFailure("QirMkClient", 0);
    QirCtlSetVersion(820);
    QirCtlReset();
  }
};

TEST_F(HostVersion, AskedUnderAClientThatIsRemovedAgain) {
  for (const uint16_t version : {uint16_t{820}, uint16_t{700}, uint16_t{1234}}) {
    QirCtlSetVersion(version);
    EXPECT_EQ(HostLibraryVersion(), version);
    EXPECT_EQ(QirCtlClientCount(), 0);
  }
}

TEST_F(HostVersion, IsZeroWhenTheClientCannotBeRegistered) {
  QirCtlSetVersion(900);
  QirCtlSetFailure("QirMkClient", 3);
  EXPECT_EQ(HostLibraryVersion(), 0);
  EXPECT_EQ(QirCtlClientCount(), 0);
}

TEST(BrowseAddressBase, DecimalWithoutAFile) {
  testing::TempWorkDir folder;
  testing::LogCapture log;
  EXPECT_EQ(BrowseAddressBase(1), 'D');
  EXPECT_TRUE(log.Has("TOLDEX: ColdStart() no initfile found, defaults used", 32)) << log.Dump();
  // The scratch record starts as a cold start does: Modbus unless the file says otherwise.
  EXPECT_TRUE(log.Has("TOLDEX: Protocol = Modbus", 8)) << log.Dump();
}

TEST(BrowseAddressBase, TheBaseOfTheDriversOwnFile) {
  struct Case {
    int32_t driverNumber;
    const char* name;
    const char* content;
    char expected;
  };
  const Case cases[] = {
      {1, "TOLDEX01.INT", "BUS=M,H\n", 'H'},
      {2, "TOLDEX02.INT", "bus=j,l\n", 'L'},
      {3, "TOLDEX3.INT", "BUS=M,D\n", 'D'},
      {4, "TOLDEX.INT", "BUS=M,L\n", 'L'},
      {5, "TOLDEX05.INT", "BUS=M,X\n", 'D'},
  };
  for (const Case& c : cases) {
    testing::TempWorkDir folder;
    folder.WriteFile(c.name, c.content);
    EXPECT_EQ(BrowseAddressBase(c.driverNumber), c.expected) << c.name << ": " << c.content;
  }
}

}  // namespace
}  // namespace toldex
