// The gate address grammar.
//
//   position  0-1  PLC number: 2 decimal digits (base 'D', 'L'), 2 hex digits ('H')
//             2    memory type: 0 1 3 4 5 6 7 8 L H
//             3-6  address: 4 decimal digits ('D'), 4 hex digits ('H'),
//                  5 decimal digits over 3-7 ('L')
//             last bit: one hex digit, or a blank (may be left out)
//
// and the two special forms: "NNBACKUP", the switch gate of PLC NN, and any
// address followed by "_SCRUT", a gate always served by its own station.
#include "addressing/gate_address.h"

#include <cstdio>
#include <cstring>

#include "addressing/registration_queue.h"
#include "driver/log.h"
#include "driver/text_scan.h"

namespace toldex {
namespace {

constexpr int kGasLength = 8;      // bases 'D' and 'H'
constexpr int kLongGasLength = 9;  // base 'L'
constexpr int kMemoryTypePosition = 2;
constexpr int kAddressPosition = 3;
constexpr int kFifthDigitPosition = 7;  // base 'L'
constexpr char kScrutSuffix[] = "_SCRUT";
constexpr int kScrutSuffixLength = sizeof kScrutSuffix - 1;
constexpr int kSwitchTextCompareLength = 9;  // "NNBACKUP" and its NUL: whole texts only
constexpr int32_t kMaxBitInByte = 7;
constexpr int32_t kFirstPlc = 1;

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kHexDigitsOrBlank[] = "0123456789ABCDEF ";
constexpr char kMemoryTypes[] = "01345678LH";

// Row i: the characters admitted at position i.
constexpr const char* kCharacterTable[kLongGasLength] = {
    kHexDigits, kHexDigits, kMemoryTypes,      kHexDigits,        kHexDigits,
    kHexDigits, kHexDigits, kHexDigitsOrBlank, kHexDigitsOrBlank,
};

bool IsHexBase(const InstanceRecord& instance) { return instance.base == 'H'; }
bool IsLongBase(const InstanceRecord& instance) { return instance.base == 'L'; }
bool IsModbus(const InstanceRecord& instance) { return instance.protocol == 'M'; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualIgnoringCase(const char* a, const char* b, int length) {
  for (int i = 0; i < length; ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

// The first reading of the PLC number is decimal in every base. In base 'H'
// the PLC numbers 10 to 15 are written "0A" to "0F", which a decimal reading
// takes for 0: they pass here and are read in hexadecimal further on.
bool PassesPlcPreCheck(const InstanceRecord& instance, const char* work, int32_t plc) {
  if (plc >= kFirstPlc && plc <= kPlcCount) return true;
  return IsHexBase(instance) && work[0] == '0' && work[1] >= 'A' && work[1] <= 'F';
}

int32_t MemoryTypeOf(char c) {
  if (c == 'L') return kMemLowByte;
  if (c == 'H') return kMemHighByte;
  return c - '0';
}

bool IsByteType(int32_t memoryType) {
  return memoryType == kMemLowByte || memoryType == kMemHighByte;
}

bool IsThirtyTwoBitType(int32_t memoryType) {
  return memoryType >= kMemInputFloat && memoryType <= kMemHoldingLong;
}

bool IsBitArea(int32_t memoryType) { return memoryType == kMemCoil || memoryType == kMemInput; }

// "NNBACKUP", the switch gate of PLC NN (decimal in every base). A block
// cannot be a switch gate; a single one must be digital.
enum class SwitchGate { kNo, kAccepted, kRejected };

SwitchGate TrySwitchGate(InstanceRecord& instance, GateAddress& gate, int opCode,
                         const char* address, const char* work, int32_t plc) {
  char switchText[16];
  std::snprintf(switchText, sizeof switchText, "%02dBACKUP", plc);
  if (!EqualIgnoringCase(switchText, work, kSwitchTextCompareLength)) return SwitchGate::kNo;
  if (opCode == kOpBlockAddressParser) return SwitchGate::kRejected;
  if (gate.gateType != kGateTypeDigital) {
    LOG(kLogEvent, "TolDEX : SingleAddressParser tag address %s has to be defined as a binary tag",
        address);
    return SwitchGate::kRejected;
  }
  QueueSwitchRegistration(instance, address, plc);
  gate.plcNumber += kSwitchGateMarker;
  gate.registerAddress = kSwitchGateRegister;
  return SwitchGate::kAccepted;
}

}  // namespace

bool IsAdmittedGasCharacter(int position, char c) {
  if (position < 0 || position >= kLongGasLength || c == '\0') return false;
  return std::strchr(kCharacterTable[position], c) != nullptr;
}

int Parse(InstanceRecord& instance, GateAddress& gate, int opCode) {
  const char* address = gate.address != nullptr ? gate.address : "";
  const int n = IsLongBase(instance) ? kLongGasLength : kGasLength;

  // The address text is handled in buffers of 255 characters and a NUL.
  const int addressLength = BoundedLength(address, kAddressTextSize);
  if (addressLength >= kAddressTextSize) {
    LOG(kLogDetail, "TOLDEX: Parse() Wrong size of gas, '%.255s'", address);
    return 1;
  }
  const bool scrut = std::strstr(address, kScrutSuffix) != nullptr;
  const int gasLength = scrut ? addressLength - kScrutSuffixLength : addressLength;
  if (gasLength != n && gasLength != n - 1) {
    LOG(kLogDetail, "TOLDEX: Parse() Wrong size of gas, '%s'", address);
    return 1;
  }
  char work[kLongGasLength + 1] = {};
  std::memcpy(work, address, static_cast<size_t>(gasLength));

  if (!scrut) {
    gate.plcNumber = 0;
    gate.bitNumber = kSwitchGateBit;
    gate.bitWidth = kWidthWord;
    int32_t plc = 0;
    ScanText(work, "%2d", {&plc});
    gate.plcNumber = plc;
    if (!PassesPlcPreCheck(instance, work, plc)) {
      LOG(kLogEvent,
          "TolDEX : SingleAddressParser tag address %s contains illegal Plc address %d, valids "
          "are 1->64",
          address, plc);
      return 1;
    }
    switch (TrySwitchGate(instance, gate, opCode, address, work, plc)) {
      case SwitchGate::kAccepted: return 0;
      case SwitchGate::kRejected: return 1;
      case SwitchGate::kNo: break;
    }
  }

  // An omitted bit character is a blank.
  for (int i = gasLength; i < n; ++i) work[i] = ' ';

  for (int i = 0; i < n; ++i) {
    if (!IsAdmittedGasCharacter(i, work[i])) {
      LOG(kLogDetail, "TOLDEX: Parse() illegal char #%u, %c in '%s'", static_cast<unsigned>(i),
          work[i], work);
      return 1;
    }
  }
  const char bitCharacter = work[n - 1];
  // Base 'L': a bit needs all five address digits.
  if (IsLongBase(instance) && work[kFifthDigitPosition] == ' ' && bitCharacter != ' ') {
    LOG(kLogDetail, "TOLDEX: Parse() illegal GAS:'%s'", work);
    return 1;
  }
  // Coils and inputs are bits already.
  if (IsBitArea(MemoryTypeOf(work[kMemoryTypePosition])) && bitCharacter != ' ') {
    LOG(kLogDetail, "TOLDEX: Parse() illegal GAS:'%s'", work);
    return 1;
  }
  if (!IsHexBase(instance)) {
    for (int i = 0; i < n - 1; ++i) {
      if (i != kMemoryTypePosition && !IsDecimalDigit(work[i])) {
        LOG(kLogDetail, "TOLDEX: Parse() illegal GAS:'%s' for decimal base ", work);
        return 1;
      }
    }
  }

  int32_t plc = 0;
  if (ScanText(work, IsHexBase(instance) ? "%02x" : "%02d", {&plc}) != 1 || plc < 0 ||
      plc > kPlcCount) {
    LOG(kLogDetail, "TOLDEX: Parse() illegal PLC address, '%s'", work);
    return 1;
  }
  gate.plcNumber = scrut ? gate.plcNumber + plc : plc;

  const char* addressForm = IsHexBase(instance) ? "%04x" : IsLongBase(instance) ? "%05d" : "%04d";
  int32_t registerAddress = 0;
  if (ScanText(work + kAddressPosition, addressForm, {&registerAddress}) != 1 ||
      registerAddress < 0) {
    LOG(kLogDetail, "TOLDEX: Parse() illegal address, '%s'", work);
    return 1;
  }
  if (IsModbus(instance)) {
    // Modbus addresses count from 1, J-BUS addresses from 0.
    if (registerAddress == 0) {
      LOG(kLogDetail, "TOLDEX: Parse() illegal addr. 0 for Modbus, '%s'", work);
      return 1;
    }
    --registerAddress;
  }
  gate.registerAddress = registerAddress;

  const int32_t memoryType = MemoryTypeOf(work[kMemoryTypePosition]);
  gate.memoryType = memoryType;

  gate.bitNumber = kNoBit;
  if (bitCharacter != ' ') {
    int32_t bit = 0;
    if (ScanText(work + n - 1, "%01x", {&bit}) != 1 || bit < 0 ||
        (IsByteType(memoryType) && bit > kMaxBitInByte)) {
      LOG(kLogDetail, "TOLDEX: Parse() illegal bitnumber in '%s'", work);
      return 1;
    }
    gate.bitNumber = bit;
  }

  gate.bitWidth = kWidthWord;
  if (IsThirtyTwoBitType(memoryType)) {
    gate.bitWidth = kWidthLong;
    // Long word mapping numbers the items themselves.
    if (instance.options & kOptionLongAddr) return 0;
    // Otherwise the register becomes an item number: two registers an item.
    if (gate.registerAddress % 2 == 0) {
      gate.registerAddress /= 2;
    } else if (instance.parityAddrChecking != 0) {
      if (IsModbus(instance)) {
        LOG(kLogEvent, "TOLDEX: Parse() 32 bit gates must have ODD address for MODBUS");
      } else {
        LOG(kLogEvent, "TOLDEX: Parse() 32 bit gates must have EVEN address for J-BUS");
      }
      return 1;
    } else {
      gate.registerAddress = gate.registerAddress / 2 + kOddItemMarker;
    }
  } else if (IsBitArea(memoryType) || gate.bitNumber != kNoBit) {
    gate.bitWidth = kWidthBit;
  }
  return 0;
}

}  // namespace toldex
