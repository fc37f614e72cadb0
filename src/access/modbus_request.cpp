#include "access/modbus_request.h"

#include "access/gate_kind.h"
#include "access/value_codec.h"
#include "addressing/gate_address.h"

namespace toldex {
namespace {

constexpr int kBitsPerByte = 8;
constexpr uint8_t kCoilOn = 0xFF;
constexpr uint16_t kRegistersPerLong = 2;
constexpr uint8_t kLongByteCount = 4;
constexpr uint8_t kFcReadCoils = 0x01;
constexpr uint8_t kFcReadDiscreteInputs = 0x02;

void PutWord(uint16_t value, uint8_t* at) {
  at[0] = static_cast<uint8_t>(value >> kBitsPerByte);
  at[1] = static_cast<uint8_t>(value);
}

uint16_t HostWord(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << kBitsPerByte)); }

uint32_t HostLong(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

int PutHeader(uint8_t unit, uint8_t functionCode, uint16_t start, uint8_t* request) {
  request[0] = unit;
  request[1] = functionCode;
  PutWord(start, request + 2);
  return 4;
}

}  // namespace

uint16_t StartAddress(int32_t registerAddress, int32_t bitWidth, uint16_t options,
                      int32_t parityAddrChecking) {
  const int64_t address = registerAddress;
  int64_t start;
  if (parityAddrChecking == 0 && address >= kOddItemMarker) {
    start = 2 * address - (2 * kOddItemMarker - 1);
  } else if (bitWidth == kWidthLong && (options & kOptionLongAddr) == 0) {
    start = 2 * address;
  } else {
    start = address;
  }
  return static_cast<uint16_t>(start);
}

uint16_t ReadQuantity(int32_t memoryType, int32_t elementCount) {
  const int64_t count = elementCount;
  return static_cast<uint16_t>(IsTwoRegisterMemoryType(memoryType) ? kRegistersPerLong * count : count);
}

int ReadReplyDataBytes(uint8_t functionCode, int64_t quantity) {
  const int64_t bytes = (functionCode == kFcReadCoils || functionCode == kFcReadDiscreteInputs)
                            ? (quantity + kBitsPerByte - 1) / kBitsPerByte
                            : kBytesPerRegister * quantity;
  return bytes > INT32_MAX ? INT32_MAX : static_cast<int>(bytes);
}

uint8_t UnitIdentifier(const StationRecord& station, int stationNumber) {
  return static_cast<uint8_t>(station.force_address != -1 ? station.force_address : stationNumber);
}

int PutReadRequest(uint8_t unit, uint8_t functionCode, uint16_t start, uint16_t quantity,
                   uint8_t* request) {
  PutHeader(unit, functionCode, start, request);
  PutWord(quantity, request + 4);
  return kReadRequestSize;
}

int PutWriteSingleCoil(uint8_t unit, uint16_t start, bool on, uint8_t* request) {
  PutHeader(unit, kFcWriteSingleCoil, start, request);
  request[4] = on ? kCoilOn : 0x00;
  request[5] = 0x00;
  return kWriteSingleRequestSize;
}

int PutWriteSingleRegister(uint8_t unit, uint16_t start, uint16_t value, uint8_t* request) {
  PutHeader(unit, kFcWriteSingleRegister, start, request);
  PutWord(value, request + 4);
  return kWriteSingleRequestSize;
}

int PutWriteLong(uint8_t unit, uint16_t start, uint32_t value, bool wordSwapped, uint8_t* request) {
  PutHeader(unit, kFcWriteMultipleRegisters, start, request);
  PutWord(kRegistersPerLong, request + 4);
  request[6] = kLongByteCount;
  Value32ToRegisters(value, wordSwapped, request + 7);
  return kWriteLongRequestSize;
}

int64_t BlockWriteDataBytes(int32_t bitWidth, int64_t elementCount) {
  if (elementCount < 1) return -1;
  switch (bitWidth) {
    case kWidthBit:
      return (elementCount + kBitsPerByte - 1) / kBitsPerByte;
    case kWidthWord:
      return kBytesPerRegister * elementCount;
    case kWidthLong:
      return kBytesPerLong * elementCount;
    default:
      return -1;
  }
}

int PutBlockWrite(uint8_t unit, uint16_t start, int32_t bitWidth, int32_t elementCount,
                  const uint8_t* hostValues, bool wordSwapped, uint8_t* request) {
  const int dataBytes = static_cast<int>(BlockWriteDataBytes(bitWidth, elementCount));
  const bool coils = bitWidth == kWidthBit;
  PutHeader(unit, coils ? kFcWriteMultipleCoils : kFcWriteMultipleRegisters, start, request);
  const int64_t quantity = bitWidth == kWidthLong ? int64_t{kRegistersPerLong} * elementCount : elementCount;
  PutWord(static_cast<uint16_t>(quantity), request + 4);
  request[6] = static_cast<uint8_t>(dataBytes);
  uint8_t* data = request + kBlockWriteHeaderSize;
  if (coils) {
    for (int i = 0; i < dataBytes; ++i) data[i] = hostValues[i];
  } else if (bitWidth == kWidthWord) {
    for (int k = 0; k < elementCount; ++k) {
      PutWord(HostWord(hostValues + kBytesPerRegister * k), data + kBytesPerRegister * k);
    }
  } else {
    for (int k = 0; k < elementCount; ++k) {
      Value32ToRegisters(HostLong(hostValues + kBytesPerLong * k), wordSwapped, data + kBytesPerLong * k);
    }
  }
  return kBlockWriteHeaderSize + dataBytes;
}

}  // namespace toldex
