#include "addressing/browse_form.h"

#include <cstdio>
#include <cstdlib>

namespace toldex::browse {

const char* const kMemoryTypeChoices[kMemoryTypeChoiceCount] = {
    "0: Coils (only for Modicon PLC's)",
    "1: Inputs (only for Modicon PLC's)",
    "3: Input Registers (only for Modicon PLC's)",
    "4: Holding Registers (only for Modicon PLC's)",
    "5: Input Registers (32 bits floating point)",
    "6: Input Registers (32 bits unsigned long)",
    "7: Holding Registers (32 bits floating point)",
    "8: Holding Registers (32 bits unsigned long)",
};

const char* const kBitChoices[kBitChoiceCount] = {
    "None", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F",
};

namespace {

constexpr int kPlcDigitCount = 2;
constexpr int kLongAddressDigitCount = 5;
constexpr int kShortAddressDigitCount = 4;
constexpr int kSpinLowest = 1;
constexpr int kSpinHighestDecimal = 99;
constexpr int kSpinHighestHexadecimal = 0xFF;
constexpr int kDecimalRadix = 10;
constexpr int kHexadecimalRadix = 16;
constexpr char kNoBitMark = 'N';  // "None" is the only bit choice that starts with a letter N

// The form's refusals, letter for letter.
constexpr char kWrongAddressDecimal[] = "Wrong address! (4 decimal digits)";
constexpr char kWrongAddressHexadecimal[] = "Wrong address! (4 hexadecimal digits)";
constexpr char kWrongAddressLong[] = "Wrong address! (5 decimal digits)";
constexpr char kWrongPlcDecimal[] = "Wrong PLC number! (2 decimal digits)";
constexpr char kWrongPlcHexadecimal[] = "Wrong PLC number! (2 hexadecimal digits)";

constexpr char kPlcHintDecimal[] = "2 decimal digits";
constexpr char kPlcHintHexadecimal[] = "2 hexadecimal digits";
constexpr char kAddressHintDecimal[] = "4 decimal digits";
constexpr char kAddressHintHexadecimal[] = "4 hexadecimal digits";
constexpr char kAddressHintLong[] = "5 decimal digits";

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexadecimalDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Exactly `count` digits of the base and nothing else.
bool HasExactDigits(char base, const char* text, int count) {
  int length = 0;
  for (; text[length] != '\0'; ++length) {
    if (length == count || !IsBaseDigit(base, text[length])) return false;
  }
  return length == count;
}

}  // namespace

bool IsHexadecimalBase(char base) { return base == kBaseHexadecimal; }

int AddressDigitCount(char base) {
  return base == kBaseLongDecimal ? kLongAddressDigitCount : kShortAddressDigitCount;
}

bool IsBaseDigit(char base, char c) {
  return IsHexadecimalBase(base) ? IsHexadecimalDigit(c) : IsDecimalDigit(c);
}

void SpinPlcNumber(char base, const char* plcText, platform::SpinDirection direction,
                   char (&next)[platform::kFormSpinTextSize]) {
  // Only the first two characters count, as the form reads no more.
  char digits[kPlcDigitCount + 1] = {};
  int length = 0;
  bool readable = true;
  for (; length < kPlcDigitCount && plcText[length] != '\0'; ++length) {
    digits[length] = plcText[length];
    readable = readable && IsBaseDigit(base, digits[length]);
  }
  readable = readable && length > 0;
  const bool hexadecimal = IsHexadecimalBase(base);
  int value = kSpinLowest;
  if (readable) {
    value = static_cast<int>(
        std::strtol(digits, nullptr, hexadecimal ? kHexadecimalRadix : kDecimalRadix));
  }
  const int highest = hexadecimal ? kSpinHighestHexadecimal : kSpinHighestDecimal;
  if (direction == platform::SpinDirection::kUp) {
    value = value < highest ? value + 1 : highest;
  } else {
    value = value > kSpinLowest ? value - 1 : kSpinLowest;
  }
  std::snprintf(next, sizeof next, hexadecimal ? "%02X" : "%02d", value);
}

const char* CheckAddress(char base, const char* addressText) {
  if (HasExactDigits(base, addressText, AddressDigitCount(base))) return nullptr;
  if (IsHexadecimalBase(base)) return kWrongAddressHexadecimal;
  return base == kBaseLongDecimal ? kWrongAddressLong : kWrongAddressDecimal;
}

const char* CheckPlcNumber(char base, const char* plcText) {
  if (HasExactDigits(base, plcText, kPlcDigitCount)) return nullptr;
  return IsHexadecimalBase(base) ? kWrongPlcHexadecimal : kWrongPlcDecimal;
}

const char* CheckFields(char base, const platform::TagFormFields& fields) {
  if (fields.plcText[0] == '\0' || fields.memoryTypeText[0] == '\0' ||
      fields.addressText[0] == '\0' || fields.bitText[0] == '\0') {
    return kMissingValueMessage;
  }
  if (const char* refusal = CheckAddress(base, fields.addressText)) return refusal;
  return CheckPlcNumber(base, fields.plcText);
}

std::size_t ComposeAddress(char base, const platform::TagFormFields& fields,
                           char (&address)[kComposedAddressSize]) {
  std::size_t length = 0;
  for (int i = 0; i < kPlcDigitCount && fields.plcText[i] != '\0'; ++i) {
    address[length++] = fields.plcText[i];
  }
  if (fields.memoryTypeText[0] != '\0') address[length++] = fields.memoryTypeText[0];
  for (int i = 0; i < AddressDigitCount(base) && fields.addressText[i] != '\0'; ++i) {
    address[length++] = fields.addressText[i];
  }
  if (fields.bitText[0] != '\0' && fields.bitText[0] != kNoBitMark) {
    address[length++] = fields.bitText[0];
  }
  address[length] = '\0';
  return length;
}

void* OwnerWindowFor(uint16_t hostLibraryVersion, void* hostWindow) {
  return hostLibraryVersion >= kOwnerWindowMinimumVersion ? hostWindow : nullptr;
}

platform::TagFormRules TagFormatRules(char base) {
  platform::TagFormRules rules{};
  rules.addressBase = base;
  rules.memoryTypeChoices = kMemoryTypeChoices;
  rules.memoryTypeChoiceCount = kMemoryTypeChoiceCount;
  rules.bitChoices = kBitChoices;
  rules.bitChoiceCount = kBitChoiceCount;
  rules.initialPlcText = kInitialPlcText;
  rules.errorCaption = kErrorCaption;
  rules.plcNumberHint = IsHexadecimalBase(base) ? kPlcHintHexadecimal : kPlcHintDecimal;
  rules.addressHint = IsHexadecimalBase(base)       ? kAddressHintHexadecimal
                      : base == kBaseLongDecimal ? kAddressHintLong
                                                 : kAddressHintDecimal;
  rules.spinPlcNumber = SpinPlcNumber;
  rules.checkFields = CheckFields;
  return rules;
}

}  // namespace toldex::browse
