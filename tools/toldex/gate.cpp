#include "gate.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "command_line.h"

namespace toldex::cli {
namespace {

constexpr int32_t kSwitchMarker = 100000;
constexpr int32_t kScrutMarker = 200000;
constexpr int32_t kDiagnosticMarker = 1000;
constexpr int32_t kFirstDiagnosticMemory = 1000;
constexpr int32_t kLastDiagnosticMemory = 1005;
constexpr int32_t kOddItemMarker = 100000;
constexpr char kScrutSuffix[] = "_SCRUT";
constexpr char kSwitchSuffix[] = "BACKUP";
constexpr size_t kPlcDigits = 2;
constexpr size_t kMemoryCharPosition = 2;
constexpr size_t kShortGasLength = 8;  // bases 'D' and 'H' with the bit character
constexpr size_t kLongGasLength = 9;   // base 'L' with the bit character
constexpr int kBitsPerByte = 8;

struct TypeName {
  int32_t type;
  const char* name;
};
constexpr TypeName kTypeNames[] = {
    {kTypeUnsigned16, "u16"}, {kTypeSigned16, "i16"},   {kTypeWord16, "w16"},    {kTypeFloat, "float"},
    {kTypeInteger32, "i32"},  {kTypeUnsigned32, "u32"}, {kTypeDigital, "digital"},
};

bool Is32BitType(int32_t gateType) {
  return gateType == kTypeFloat || gateType == kTypeInteger32 || gateType == kTypeUnsigned32;
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

uint16_t Load16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t Load32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void Store16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value & 0xFF);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

void Store32(uint8_t* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (kBitsPerByte * i));
}

std::string Format16(int32_t gateType, uint16_t raw) {
  char text[32];
  switch (gateType) {
    case kTypeSigned16: std::snprintf(text, sizeof text, "%d", static_cast<int16_t>(raw)); break;
    case kTypeWord16: std::snprintf(text, sizeof text, "0x%04X", raw); break;
    default: std::snprintf(text, sizeof text, "%u", raw); break;
  }
  return text;
}

std::string Format32(int32_t gateType, uint32_t raw) {
  char text[48];
  switch (gateType) {
    case kTypeFloat: {
      float value;
      std::memcpy(&value, &raw, sizeof value);
      std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
      break;
    }
    case kTypeInteger32: std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(raw)); break;
    default: std::snprintf(text, sizeof text, "%u", raw); break;
  }
  return text;
}

bool ReadDigital(const std::string& text, uint16_t& value) {
  const std::string upper = UpperCase(text);
  if (upper == "1" || upper == "ON" || upper == "TRUE") {
    value = 1;
    return true;
  }
  if (upper == "0" || upper == "OFF" || upper == "FALSE") {
    value = 0;
    return true;
  }
  long number = 0;
  if (ReadLong(text, number) && number >= 0 && number <= 0xFFFF) {
    value = static_cast<uint16_t>(number);  // the driver judges other values itself
    return true;
  }
  return false;
}

bool Encode16(int32_t gateType, const std::string& text, uint16_t& raw, std::string& reason) {
  long number = 0;
  if (gateType == kTypeDigital) {
    if (ReadDigital(text, raw)) return true;
    reason = "'" + text + "' is no digital value (0, 1, on, off)";
    return false;
  }
  const long minimum = gateType == kTypeSigned16 ? -32768 : 0;
  const long maximum = gateType == kTypeSigned16 ? 32767 : 65535;
  if (!ReadLong(text, number) || number < minimum || number > maximum) {
    reason = "'" + text + "' is no " + GateTypeName(gateType) + " value (" + std::to_string(minimum) +
             " to " + std::to_string(maximum) + ")";
    return false;
  }
  raw = static_cast<uint16_t>(number & 0xFFFF);
  return true;
}

bool Encode32(int32_t gateType, const std::string& text, uint32_t& raw, std::string& reason) {
  if (gateType == kTypeFloat) {
    double number = 0;
    if (!ReadDouble(text, number)) {
      reason = "'" + text + "' is no float value";
      return false;
    }
    const float value = static_cast<float>(number);
    std::memcpy(&raw, &value, sizeof raw);
    return true;
  }
  long long number = 0;
  char* end = nullptr;
  errno = 0;
  number = std::strtoll(text.c_str(), &end, 0);
  const long long minimum = gateType == kTypeInteger32 ? INT32_MIN : 0;
  const long long maximum = gateType == kTypeInteger32 ? INT32_MAX : UINT32_MAX;
  if (text.empty() || errno != 0 || *end != '\0' || number < minimum || number > maximum) {
    reason = "'" + text + "' is no " + GateTypeName(gateType) + " value (" + std::to_string(minimum) +
             " to " + std::to_string(maximum) + ")";
    return false;
  }
  raw = static_cast<uint32_t>(number & 0xFFFFFFFFLL);
  return true;
}

}  // namespace

const char* GateTypeName(int32_t gateType) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == gateType) return entry.name;
  }
  return "?";
}

bool GateTypeFromText(const std::string& text, int32_t& gateType) {
  const std::string lower = [&] {
    std::string copy = text;
    for (char& c : copy) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return copy;
  }();
  for (const TypeName& entry : kTypeNames) {
    if (lower == entry.name) {
      gateType = entry.type;
      return true;
    }
  }
  long number = 0;
  if (ReadLong(text, number) && number >= 0 && number < kGateTypeCount) {
    gateType = static_cast<int32_t>(number);
    return true;
  }
  return false;
}

int32_t DefaultGateType(const std::string& address, char base) {
  std::string text = address;
  if (auto scrut = text.find(kScrutSuffix); scrut != std::string::npos && text.size() >= std::strlen(kScrutSuffix)) {
    text.resize(text.size() - std::strlen(kScrutSuffix));
  }
  if (!text.empty() && text[0] == '$') {
    return UpperCase(text).find("ST_ONLINE") != std::string::npos ? kTypeDigital : kTypeUnsigned32;
  }
  if (text.size() == kPlcDigits + std::strlen(kSwitchSuffix) && UpperCase(text.substr(kPlcDigits)) == kSwitchSuffix) {
    return kTypeDigital;
  }
  if (text.size() <= kMemoryCharPosition) return kTypeUnsigned16;
  const size_t fullLength = base == 'L' ? kLongGasLength : kShortGasLength;
  const bool bitGiven = text.size() == fullLength && text[fullLength - 1] != ' ';
  switch (text[kMemoryCharPosition]) {
    case '0':
    case '1': return kTypeDigital;
    case '5':
    case '7': return kTypeFloat;
    case '6':
    case '8': return kTypeUnsigned32;
    default: return bitGiven ? kTypeDigital : kTypeUnsigned16;
  }
}

GateKind KindOf(int32_t plcNumber, int32_t memoryType) {
  if (memoryType >= kFirstDiagnosticMemory && memoryType <= kLastDiagnosticMemory &&
      plcNumber >= kDiagnosticMarker && plcNumber < kSwitchMarker) {
    return GateKind::kDiagnostic;
  }
  if (plcNumber >= kScrutMarker) return GateKind::kScrut;
  if (plcNumber > kSwitchMarker) return GateKind::kSwitch;
  return GateKind::kOrdinary;
}

const char* KindName(GateKind kind) {
  switch (kind) {
    case GateKind::kSwitch: return "switch";
    case GateKind::kScrut: return "_SCRUT";
    case GateKind::kDiagnostic: return "diagnostic";
    case GateKind::kOrdinary: break;
  }
  return "gate";
}

int32_t ReducedNumber(int32_t plcNumber, int32_t memoryType) {
  switch (KindOf(plcNumber, memoryType)) {
    case GateKind::kSwitch: return plcNumber - kSwitchMarker;
    case GateKind::kScrut: return plcNumber - kScrutMarker;
    case GateKind::kDiagnostic: return plcNumber - kDiagnosticMarker;
    case GateKind::kOrdinary: break;
  }
  return plcNumber;
}

const char* MemoryTypeName(int32_t memoryType) {
  switch (memoryType) {
    case 0: return "coil";
    case 1: return "discrete input";
    case 3: return "input register";
    case 4: return "holding register";
    case 5: return "input float";
    case 6: return "input 32-bit integer";
    case 7: return "holding float";
    case 8: return "holding 32-bit integer";
    case 260: return "holding low byte";
    case 516: return "holding high byte";
    case 1000: return "NUMCOMMS counter";
    case 1001: return "NUMSUCCESS counter";
    case 1002: return "NUMFAILS counter";
    case 1003: return "ST_ONLINE flag";
    case 1004: return "ERRORS counter";
    case 1005: return "COMMFAILS counter";
    default: break;
  }
  return "?";
}

int32_t WireStartAddress(const GateAddress& parsed, bool longAddressing) {
  constexpr int32_t kWideBits = 32;
  if (parsed.registerAddress >= kOddItemMarker && parsed.bitWidth == kWideBits) {
    return 2 * (parsed.registerAddress - kOddItemMarker) + 1;
  }
  if (parsed.bitWidth == kWideBits && !longAddressing) return 2 * parsed.registerAddress;
  return parsed.registerAddress;
}

bool ReadRequestOf(const GateAddress& parsed, int32_t count, bool longAddressing, ReadRequest& request) {
  const GateKind kind = KindOf(parsed.plcNumber, parsed.memoryType);
  if (kind == GateKind::kSwitch || kind == GateKind::kDiagnostic) return false;
  // By the low eight bits of the memory type: byte gates read like holding registers.
  constexpr int kFunctionByMemory[] = {1, 2, 0, 4, 3, 4, 4, 3, 3};
  constexpr int32_t kMemoryTypeMask = 0xFF;
  const int32_t low = parsed.memoryType & kMemoryTypeMask;
  if (low < 0 || low > 8 || kFunctionByMemory[low] == 0) return false;
  constexpr int32_t kFirstPairType = 5;
  const int32_t elements = count > 0 ? count : 1;
  request.functionCode = kFunctionByMemory[low];
  request.start = WireStartAddress(parsed, longAddressing);
  request.quantity = low >= kFirstPairType ? 2 * elements : elements;
  return true;
}

size_t ValueBufferSize(int32_t bitWidth, int32_t count) {
  constexpr size_t kSlotSize = 4;
  if (count <= 0) return kSlotSize;
  const size_t elements = static_cast<size_t>(count);
  if (bitWidth == 1) return (elements + kBitsPerByte - 1) / kBitsPerByte;
  if (bitWidth == 32) return elements * 4;
  return elements * 2;
}

std::string FormatSingleValue(int32_t gateType, const uint8_t* slot) {
  if (Is32BitType(gateType)) return Format32(gateType, Load32(slot));
  return Format16(gateType, Load16(slot + 2));
}

std::vector<std::string> FormatBlockValues(int32_t gateType, int32_t bitWidth, int32_t count,
                                           const uint8_t* buffer) {
  std::vector<std::string> values;
  for (int32_t k = 0; k < count; ++k) {
    if (bitWidth == 1) {
      values.push_back(((buffer[k / kBitsPerByte] >> (k % kBitsPerByte)) & 1) != 0 ? "1" : "0");
    } else if (bitWidth == 32) {
      const int32_t shown = Is32BitType(gateType) ? gateType : kTypeUnsigned32;
      values.push_back(Format32(shown, Load32(buffer + 4 * k)));
    } else {
      const int32_t shown = Is32BitType(gateType) || gateType == kTypeDigital ? kTypeUnsigned16 : gateType;
      values.push_back(Format16(shown, Load16(buffer + 2 * k)));
    }
  }
  return values;
}

bool IsNumericText(const std::string& text) {
  if (text.empty()) return false;
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return false;
  double ignored = 0;
  return ReadDouble(text, ignored);
}

bool EncodeSingleValue(int32_t gateType, const std::string& text, uint8_t* slot, std::string& reason) {
  if (Is32BitType(gateType)) {
    uint32_t raw = 0;
    if (!Encode32(gateType, text, raw, reason)) return false;
    Store32(slot, raw);
    return true;
  }
  uint16_t raw = 0;
  if (!Encode16(gateType, text, raw, reason)) return false;
  Store16(slot + 2, raw);
  return true;
}

bool EncodeBlockValues(int32_t gateType, int32_t bitWidth, const std::vector<std::string>& texts,
                       uint8_t* buffer, std::string& reason) {
  for (size_t k = 0; k < texts.size(); ++k) {
    if (bitWidth == 1) {
      uint16_t bit = 0;
      if (!ReadDigital(texts[k], bit) || bit > 1) {
        reason = "'" + texts[k] + "' is no bit value (0 or 1)";
        return false;
      }
      if (bit != 0) buffer[k / kBitsPerByte] = static_cast<uint8_t>(buffer[k / kBitsPerByte] | (1u << (k % kBitsPerByte)));
    } else if (bitWidth == 32) {
      uint32_t raw = 0;
      if (!Encode32(Is32BitType(gateType) ? gateType : kTypeUnsigned32, texts[k], raw, reason)) return false;
      Store32(buffer + 4 * k, raw);
    } else {
      uint16_t raw = 0;
      const int32_t used = Is32BitType(gateType) || gateType == kTypeDigital ? kTypeUnsigned16 : gateType;
      if (!Encode16(used, texts[k], raw, reason)) return false;
      Store16(buffer + 2 * k, raw);
    }
  }
  return true;
}

GateIo MakeGateIo(const GateAddress& parsed, const char* address, int32_t gateId, int32_t count, void* value) {
  GateIo io{};
  io.address = address;
  io.plcNumber = parsed.plcNumber;
  io.memoryType = parsed.memoryType;
  io.registerAddress = parsed.registerAddress;
  io.bitNumber = parsed.bitNumber;
  io.bitWidth = parsed.bitWidth;
  io.elementCount = count > 0 ? count : 1;
  io.gateId = gateId;
  io.value = value;
  return io;
}

}  // namespace toldex::cli
