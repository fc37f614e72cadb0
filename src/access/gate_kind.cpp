#include "access/gate_kind.h"

#include "access/modbus_request.h"
#include "addressing/gate_address.h"
#include "driver/instance.h"

namespace toldex {
namespace {

constexpr int kLowByteMask = 0xFF;
constexpr int kHighestRegisterBit = 15;
constexpr int kHighestByteBit = 7;
constexpr uint8_t kNoFunctionCode = 0xFF;

// Read function codes by the low eight bits of the memory type, codes 0 to 8.
constexpr uint8_t kReadFunctionCodes[] = {0x01, 0x02, kNoFunctionCode, 0x04, 0x03,
                                          0x04, 0x04, 0x03, 0x03};

bool IsPlcNumber(int number) { return number >= 1 && number <= kPlcCount; }

}  // namespace

GateTarget ClassifyPlcNumber(int32_t plcNumber) {
  if (IsSwitchMarker(plcNumber)) {
    const int plc = plcNumber - kSwitchGateMarker;
    return IsPlcNumber(plc) ? GateTarget{GateKind::kSwitch, plc} : GateTarget{GateKind::kInvalid, 0};
  }
  if (plcNumber >= kScrutGateMarker) {
    const int64_t station = static_cast<int64_t>(plcNumber) - kScrutGateMarker;
    if (station >= 1 && station <= kPlcCount) return GateTarget{GateKind::kScrut, static_cast<int>(station)};
    return GateTarget{GateKind::kInvalid, 0};
  }
  if (IsPlcNumber(plcNumber)) return GateTarget{GateKind::kOrdinary, plcNumber};
  return GateTarget{GateKind::kInvalid, 0};
}

GateTarget ClassifyGate(int32_t plcNumber, int32_t memoryType) {
  if (!IsSwitchMarker(plcNumber) && IsDiagnosticMemoryType(memoryType)) {
    const int64_t station = static_cast<int64_t>(plcNumber) - kDiagnosticMarker;
    if (station >= 0 && station <= kDiagnosticStationLast) {
      return GateTarget{GateKind::kDiagnostic, static_cast<int>(station)};
    }
    return GateTarget{GateKind::kInvalid, 0};
  }
  return ClassifyPlcNumber(plcNumber);
}

bool IsDiagnosticMemoryType(int32_t memoryType) {
  return memoryType >= kMemNumComms && memoryType <= kMemCommFails;
}

bool IsPlcMemoryType(int32_t memoryType) {
  switch (memoryType) {
    case kMemCoil:
    case kMemInput:
    case kMemInputRegister:
    case kMemHoldingRegister:
    case kMemInputFloat:
    case kMemInputLong:
    case kMemHoldingFloat:
    case kMemHoldingLong:
    case kMemLowByte:
    case kMemHighByte:
      return true;
    default:
      return false;
  }
}

bool IsInputMemoryType(int32_t memoryType) {
  return memoryType == kMemInput || memoryType == kMemInputRegister ||
         memoryType == kMemInputFloat || memoryType == kMemInputLong;
}

bool IsTwoRegisterMemoryType(int32_t memoryType) {
  return memoryType >= kMemInputFloat && memoryType <= kMemHoldingLong;
}

bool IsBitNumberValid(int32_t memoryType, int32_t bitNumber) {
  if (bitNumber == -1) return true;
  const bool byteType = memoryType == kMemLowByte || memoryType == kMemHighByte;
  return bitNumber >= 0 && bitNumber <= (byteType ? kHighestByteBit : kHighestRegisterBit);
}

namespace {

constexpr double kBitsPerByte = 8.0;

bool HostBytesExceed(int32_t bitWidth, int32_t elementCount, int limit) {
  return static_cast<double>(static_cast<int64_t>(elementCount) * bitWidth) / kBitsPerByte > limit;
}

}  // namespace

bool ReadSizeAllowed(int32_t memoryType, int32_t bitWidth, int32_t elementCount) {
  if (elementCount < 1 || HostBytesExceed(bitWidth, elementCount, kMaxReadDataBytes)) return false;
  const int64_t quantity = IsTwoRegisterMemoryType(memoryType) ? int64_t{2} * elementCount : elementCount;
  return ReadReplyDataBytes(ReadFunctionCode(memoryType), quantity) <= kMaxReadDataBytes;
}

bool BlockWriteTooLong(int32_t bitWidth, int32_t elementCount) {
  return HostBytesExceed(bitWidth, elementCount, kMaxWriteDataBytes);
}

uint8_t ReadFunctionCode(int32_t memoryType) {
  const int index = memoryType & kLowByteMask;
  if (index >= static_cast<int>(sizeof kReadFunctionCodes)) return kNoFunctionCode;
  return kReadFunctionCodes[index];
}

}  // namespace toldex
