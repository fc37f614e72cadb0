// The two address operations: SingleAddressParser (operation 3) for gates of
// one value and BlockAddressParser (operation 4) for blocks, each Parse and
// then its own checks.
#include <cstdio>
#include <cstring>

#include "addressing/gate_address.h"
#include "addressing/registration_queue.h"
#include "driver/log.h"
#include "driver/operations.h"
#include "driver/text_scan.h"

namespace toldex {
namespace {

constexpr char kScrutSuffix[] = "_SCRUT";
constexpr int kScrutSuffixLength = sizeof kScrutSuffix - 1;
constexpr char kDiagnosticPrefix = '$';
constexpr double kMaxBlockBytes = 250.0;  // one Modbus request's data
constexpr double kBitsPerByte = 8.0;
constexpr int64_t kOddItemOffset = 2LL * kOddItemMarker - 1;  // 2 x item - this = odd register

// The highest address a gate address can name, in its own numbering.
constexpr uint32_t kMaxDecimalAddress = 9999;
constexpr uint32_t kMaxHexAddress = 0xFFFF;
constexpr uint32_t kMaxLongDecimalAddress = 99999;

bool FitsWorkText(const char* address) {
  return BoundedLength(address, kAddressTextSize) < kAddressTextSize;
}

// A _SCRUT gate is handed to the notification thread with its station number
// read as the parser reads PLC numbers (hexadecimal in base 'H'). A number
// that names no station cannot be registered; Parse refuses such a gate.
void HandOverScrutGate(InstanceRecord& instance, const char* address) {
  int32_t station = -1;
  ScanText(address, instance.base == 'H' ? "%02x" : "%02d", {&station});
  if (station >= 0 && station < kStationCount) QueueScrutRegistration(instance, address, station);
}

int Reject(const char* message) {
  LOG(kLogEvent, "%s", message);
  return kStatusRequestFailed;
}

uint32_t MaxAddress(const InstanceRecord& instance) {
  if (instance.base == 'H') return kMaxHexAddress;
  if (instance.base == 'L') return kMaxLongDecimalAddress;
  return kMaxDecimalAddress;
}

}  // namespace

int SingleParse(GateAddress& gate) {
  const int32_t type = gate.gateType;
  if (type == kGateTypeDigital && gate.bitWidth == kWidthLong) {
    return Reject("TOLDEX: SingleParse() no digital gates allowed from long memory area");
  }
  if (gate.memoryType == kMemHoldingRegister) gate.bitWidth = kWidthWord;
  if (gate.bitNumber != kNoBit) {
    if (type == kGateTypeDigital) return kStatusOk;
    return Reject("TOLDEX: SingleParse() gate type should be DIGITAL");
  }
  const bool sixteenBitType =
      type == kGateTypeUnsigned16 || type == kGateTypeInteger16 || type == kGateTypeOther16;
  switch (gate.memoryType & kMemAreaMask) {
    case kMemCoil:
    case kMemInput:
      if (type == kGateTypeDigital) return kStatusOk;
      return Reject("TOLDEX: SingleParse() gate type should be DIGITAL");
    case kMemInputRegister:
    case kMemHoldingRegister:
      if (gate.memoryType != kMemInputRegister && gate.memoryType != kMemHoldingRegister) {
        // A byte of a holding register holds no sign.
        if (type == kGateTypeUnsigned16) return kStatusOk;
        if (sixteenBitType) {
          return Reject("TOLDEX: SingleParse() gate type should be UNSIGNED 16");
        }
        return Reject("TOLDEX: SingleParse() gate type should be 16-bit INTEGER");
      }
      if (sixteenBitType) return kStatusOk;
      return Reject("TOLDEX: SingleParse() gate type should be 16-bit INTEGER");
    case kMemInputFloat:
    case kMemHoldingFloat:
      if (type == kGateTypeFloat) return kStatusOk;
      return Reject("TOLDEX: SingleParse() gate type should be FLOAT");
    case kMemInputLong:
    case kMemHoldingLong:
      if (type == kGateTypeInteger32 || type == kGateTypeUnsigned32) return kStatusOk;
      return Reject("TOLDEX: SingleParse() gate type should be 32-bit INTEGER");
    default: return kStatusRequestFailed;
  }
}

int BlockParse(const InstanceRecord& instance, const GateAddress& gate) {
  if (gate.bitNumber != kNoBit) {
    return Reject("TOLDEX: BlockParse() no spec. digital gates as block!");
  }
  // 64-bit arithmetic: blockLength is the host's and may be anything.
  const int64_t bits = static_cast<int64_t>(gate.blockLength) * gate.bitWidth;
  if (static_cast<double>(bits) / kBitsPerByte > kMaxBlockBytes) {
    return Reject("TOLDEX: BlockParse(): Block length is too long");
  }
  const bool twoRegistersAnItem =
      gate.bitWidth == kWidthLong && (instance.options & kOptionLongAddr) == 0;
  const int64_t span = twoRegistersAnItem ? 2LL * gate.blockLength : gate.blockLength;
  int64_t first = gate.registerAddress;
  if (instance.parityAddrChecking == 0 && gate.registerAddress >= kOddItemMarker) {
    first = 2LL * gate.registerAddress - kOddItemOffset;
  } else if (twoRegistersAnItem) {
    first = 2LL * gate.registerAddress;
  }
  if (instance.protocol == 'M') ++first;  // back to the numbering of the address text
  const uint32_t last = static_cast<uint32_t>(first + span - 1);
  if (last > MaxAddress(instance)) {
    return Reject(
        "TOLDEX: BlockParse(): Block length is too long, the start address + the block length is "
        "overlapping the maximum adress that can be reached");
  }
  return kStatusOk;
}

int32_t SingleAddressParser(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  GateAddress& gate = ParamsOf<GateAddress>(request);
  const char* address = gate.address != nullptr ? gate.address : "";

  // A text too long for the work text goes straight to Parse, which refuses it.
  if (FitsWorkText(address)) {
    char work[kAddressTextSize];
    std::snprintf(work, sizeof work, "%s", address);
    if (std::strstr(work, kScrutSuffix) != nullptr) {
      work[std::strlen(work) - kScrutSuffixLength] = '\0';
      // Handed over before any check: a _SCRUT gate refused later stays registered.
      HandOverScrutGate(instance, address);
      gate.plcNumber = kScrutGateMarker;
    } else if (std::strchr(work, '_') != nullptr && work[0] != kDiagnosticPrefix) {
      LOG(kLogEvent, "TOLDEX: Parse faild. Tag %s is invalid.", work);
      return kStatusRequestFailed;
    }
    if (work[0] == kDiagnosticPrefix) return ParseDiagnosticGate(instance, gate, work);
  }

  const int status = Parse(instance, gate, kOpSingleAddressParser);
  if (status != 0) {
    LOG(kLogDetail, "TOLDEX: SingleAddressParser() exited #1, %d", status);
    return status;
  }
  return SingleParse(gate);
}

int32_t BlockAddressParser(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  GateAddress& gate = ParamsOf<GateAddress>(request);
  const char* address = gate.address != nullptr ? gate.address : "";

  // A _SCRUT block is served by its own station, as a single _SCRUT gate.
  if (FitsWorkText(address) && std::strstr(address, kScrutSuffix) != nullptr) {
    gate.plcNumber = kScrutGateMarker;
  }
  const int status = Parse(instance, gate, kOpBlockAddressParser);
  if (status != 0) {
    LOG(kLogDetail, "TOLDEX: BlockAddressParser() exited #1, %d", status);
    return status;
  }
  return BlockParse(instance, gate);
}

}  // namespace toldex
