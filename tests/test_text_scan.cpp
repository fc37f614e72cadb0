// The driver's formatted-input scanner against the C library's sscanf: the
// same count and the same values for every form the driver uses, on texts
// that stay inside the 32-bit range (beyond it the C library is undefined).
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "driver/text_scan.h"

namespace toldex {
namespace {

const char* const kTexts[] = {
    "",
    " ",
    "\n",
    "SWAP = YES\n",
    "SWAP=YE",
    "swap = yes",
    "  SWAP\t=\tNO\r\n",
    "SWAP =\n",
    "SWAP = N",
    "SWAP = NOPE",
    "SWAPS = YES",
    "SWAP == YES",
    "FLOATSWAP = YES",
    "BUS=M,D\n",
    "BUS = J,H",
    "BUS=J , L",
    "BUS=M,",
    "BUS=M,\n",
    "BUS= M,D",
    "BUS=,,,",
    "BUS=X,D",
    " \tBUS=J,H",
    "LONGADDR=NO",
    "PARITY_ADDR_CHECKING = YES",
    "RECEIVED_FRAMES_CHECKING=no",
    "127.0.0.10",
    "127 . 0 . 0 . 1 503",
    "127.0.0",
    "127.0.0.",
    "127.-1.0.1",
    "+12.3.4.5",
    "0130001",
    "01300012",
    "1A3FFFF",
    "0A30001",
    "4130001",
    "-130001",
    "+7BACKUP",
    " 7BACKUP",
    "0x5",
    "0x",
    "-",
    "- 5",
    "12x",
    "FF",
    "ff",
    "7",
    "NUMCOMMS:07",
    "NUMCOMMS:1F",
    "NUMCOMMS: 7",
    "NUMCOMMS:-1",
    "NUMCOMMS:",
    "NUMSUCCESS:07",
    "ST_ONLINE:FF",
    "ST_ONLINE:0x",
    "ERRORS:123",
    "\x80\xff=YES",
    "SWAP = \x01\x02\x03",
};

TEST(ScanText, CharacterFormsMatchTheCLibrary) {
  const char* const forms[] = {" SWAP = %1c%1c%1c", " FLOATSWAP = %1c%1c%1c", " BUS=%1c , %1c",
                               " LONGADDR = %1c%1c%1c", " RECEIVED_FRAMES_CHECKING = %1c%1c%1c"};
  for (const char* form : forms) {
    for (const char* text : kTexts) {
      char mine[3] = {'?', '?', '?'};
      char theirs[3] = {'?', '?', '?'};
      const int count = ScanText(text, form, {&mine[0], &mine[1], &mine[2]});
      int expected = std::sscanf(text, form, &theirs[0], &theirs[1], &theirs[2]);
      if (expected < 0) expected = 0;
      ASSERT_EQ(count, expected) << "form '" << form << "' text '" << text << "'";
      EXPECT_EQ(std::string(mine, 3), std::string(theirs, 3)) << form << " / " << text;
    }
  }
}

TEST(ScanText, NumberFormsMatchTheCLibrary) {
  const char* const forms[] = {"%d",
                               "%2d",
                               "%02d",
                               "%04d",
                               "%05d",
                               "%02x",
                               "%04x",
                               "%01x",
                               "%d . %d . %d . %d",
                               "NUMCOMMS:%02d",
                               "NUMCOMMS:%02x",
                               "ST_ONLINE:%02x",
                               "%02dBACKUP"};
  for (const char* form : forms) {
    for (const char* text : kTexts) {
      int32_t mine[4] = {-7, -7, -7, -7};
      int theirs[4] = {-7, -7, -7, -7};
      const int count = ScanText(text, form, {&mine[0], &mine[1], &mine[2], &mine[3]});
      int expected = std::sscanf(text, form, &theirs[0], &theirs[1], &theirs[2], &theirs[3]);
      if (expected < 0) expected = 0;
      ASSERT_EQ(count, expected) << "form '" << form << "' text '" << text << "'";
      for (int i = 0; i < 4; ++i) EXPECT_EQ(mine[i], theirs[i]) << form << " / " << text;
    }
  }
}

TEST(ScanText, NumbersBeyondThirtyTwoBitsReadAsTheNearestLimit) {
  int32_t value = 0;
  EXPECT_EQ(ScanText("99999999999", "%d", {&value}), 1);
  EXPECT_EQ(value, INT32_MAX);
  EXPECT_EQ(ScanText("-99999999999999999999999", "%d", {&value}), 1);
  EXPECT_EQ(value, INT32_MIN);
  EXPECT_EQ(ScanText("2147483647", "%d", {&value}), 1);
  EXPECT_EQ(value, INT32_MAX);
  EXPECT_EQ(ScanText("-2147483648", "%d", {&value}), 1);
  EXPECT_EQ(value, INT32_MIN);
}

TEST(ScanText, NeverReadsPastTheEndOfTheText) {
  // A text without room after its NUL: the scanner must stop at the NUL.
  char text[] = {'1', '2', '\0'};
  int32_t value = 0;
  char c = 0;
  EXPECT_EQ(ScanText(text, "%d%1c", {&value, &c}), 1);
  EXPECT_EQ(value, 12);
  EXPECT_EQ(c, 0);
}

TEST(BoundedLength, StopsAtTheLimit) {
  EXPECT_EQ(BoundedLength("", 256), 0);
  EXPECT_EQ(BoundedLength("abc", 256), 3);
  const std::string longText(300, 'x');
  EXPECT_EQ(BoundedLength(longText.c_str(), 256), 256);
}

}  // namespace
}  // namespace toldex
