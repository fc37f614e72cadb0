// What the "Tag Format" form decides, apart from any window or terminal: the
// choices it offers, the spin step of the PLC number, the checks made on OK
// with their messages, and the gate address composed from accepted fields.
// The platform's form (platform/dialog.h) shows the controls and calls these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dialog.h"

namespace toldex::browse {

// Address bases of the initialisation file.
constexpr char kBaseDecimal = 'D';
constexpr char kBaseHexadecimal = 'H';
constexpr char kBaseLongDecimal = 'L';

constexpr int kMemoryTypeChoiceCount = 8;
constexpr int kBitChoiceCount = 17;
extern const char* const kMemoryTypeChoices[kMemoryTypeChoiceCount];
extern const char* const kBitChoices[kBitChoiceCount];  // "None", then "0" to "F"

constexpr char kInitialPlcText[] = "01";
constexpr char kErrorCaption[] = "Error";
constexpr char kMissingValueMessage[] = "missing value!";

// The longest composed address (9 characters) and its NUL.
constexpr std::size_t kComposedAddressSize = 10;

// The host library version from which the dialog gets the host's window as owner.
constexpr uint16_t kOwnerWindowMinimumVersion = 820;

bool IsHexadecimalBase(char base);
// Digits of the address: 5 in base 'L', 4 otherwise.
int AddressDigitCount(char base);
// Whether `c` is a digit of the base (hexadecimal digits in either case).
bool IsBaseDigit(char base, char c);

// One step of the spin arrows, as platform::TagFormRules::spinPlcNumber.
void SpinPlcNumber(char base, const char* plcText, platform::SpinDirection direction,
                   char (&next)[platform::kFormSpinTextSize]);

// nullptr when accepted, else the message to show.
const char* CheckAddress(char base, const char* addressText);
const char* CheckPlcNumber(char base, const char* plcText);
// The checks made on OK, in their order: every field present, then the
// address, then the PLC number. As platform::TagFormRules::checkFields.
const char* CheckFields(char base, const platform::TagFormFields& fields);

// The gate address of accepted fields: PLC number, memory-type code, the
// address digits of the base and the bit character unless the bit is "None".
// Returns its length (7 to 9).
std::size_t ComposeAddress(char base, const platform::TagFormFields& fields,
                           char (&address)[kComposedAddressSize]);

// The window that owns the dialog: the host's only from a recent host library.
void* OwnerWindowFor(uint16_t hostLibraryVersion, void* hostWindow);

// Everything the platform's form needs for this base.
platform::TagFormRules TagFormatRules(char base);

}  // namespace toldex::browse
