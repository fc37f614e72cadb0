#include "access/read_path.h"
#include "access/value_codec.h"
#include "addressing/gate_address.h"

namespace toldex {
namespace {

constexpr int kBitsPerByte = 8;
constexpr uint16_t kLowByteMask = 0x00FF;
constexpr int kHighByteBitOffset = 8;

// A whole register as a 16-bit gate of its memory type shows it.
uint16_t RegisterAsGate(uint16_t reg, int32_t memoryType) {
  if (memoryType == kMemHighByte) return static_cast<uint16_t>(reg >> kBitsPerByte);
  if (memoryType == kMemLowByte) return reg & kLowByteMask;
  return reg;
}

void PutHostWord(uint16_t value, uint8_t* at) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> kBitsPerByte);
}

int DecodeSingle(const GateIo& gate, const uint8_t* data, uint16_t options) {
  const bool bitGate = gate.bitNumber != -1;
  if ((gate.bitWidth == kWidthBit || gate.bitWidth == kWidthWord) && bitGate) {
    const int bit = gate.bitNumber + (gate.memoryType == kMemHighByte ? kHighByteBitOffset : 0);
    StoreSlot16(gate.value, ExtractBit(RegisterAt(data), bit));
  } else if (gate.bitWidth == kWidthBit) {
    StoreSlot16(gate.value, data[0] & 1u);
  } else if (gate.bitWidth == kWidthWord) {
    StoreSlot16(gate.value, RegisterAsGate(RegisterAt(data), gate.memoryType));
  } else if (gate.bitWidth == kWidthLong) {
    StoreSlot32(gate.value, RegistersToValue32(data, IsWordSwapped(gate.memoryType, options)));
  } else {
    return 1;
  }
  return 0;
}

int DecodeBlock(const GateIo& gate, const uint8_t* data, uint16_t options) {
  auto* host = static_cast<uint8_t*>(gate.value);
  const int count = gate.elementCount;
  if (gate.bitWidth == kWidthBit) {
    const int bytes = (count + kBitsPerByte - 1) / kBitsPerByte;
    for (int i = 0; i < bytes; ++i) host[i] = data[i];
  } else if (gate.bitWidth == kWidthWord) {
    for (int k = 0; k < count; ++k) {
      const uint16_t value = RegisterAsGate(RegisterAt(data + kBytesPerRegister * k), gate.memoryType);
      PutHostWord(value, host + kBytesPerRegister * k);
    }
  } else if (gate.bitWidth == kWidthLong) {
    const bool swapped = IsWordSwapped(gate.memoryType, options);
    for (int k = 0; k < count; ++k) {
      StoreSlot32(host + kBytesPerLong * k, RegistersToValue32(data + kBytesPerLong * k, swapped));
    }
  } else {
    return 1;
  }
  return 0;
}

}  // namespace

int DecodeReadReply(const GateIo& gate, const uint8_t* reply, uint16_t options, int mode) {
  const uint8_t* data = reply + kReadReplyDataOffset;
  return mode == kReadModeSingle ? DecodeSingle(gate, data, options) : DecodeBlock(gate, data, options);
}

}  // namespace toldex
