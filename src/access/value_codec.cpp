#include "access/value_codec.h"

#include <cmath>

#include "addressing/gate_address.h"
#include "driver/instance.h"

namespace toldex {
namespace {

constexpr int kBitsPerByte = 8;
constexpr uint16_t kByteMask = 0x00FF;
constexpr uint16_t kHighByteMask = 0xFF00;
constexpr int kSlot16Offset = 2;

uint8_t ByteOf(uint32_t value, int index) { return static_cast<uint8_t>(value >> (kBitsPerByte * index)); }

}  // namespace

bool IsWordSwapped(int32_t memoryType, uint16_t options) {
  if (memoryType == kMemInputLong || memoryType == kMemHoldingLong) return (options & kOptionSwap) != 0;
  if (memoryType == kMemInputFloat || memoryType == kMemHoldingFloat) {
    return (options & kOptionFloatSwap) != 0;
  }
  return false;
}

uint16_t RegisterAt(const uint8_t* wire) {
  return static_cast<uint16_t>((wire[0] << kBitsPerByte) | wire[1]);
}

uint32_t RegistersToValue32(const uint8_t* wire, bool wordSwapped) {
  const uint32_t first = RegisterAt(wire);
  const uint32_t second = RegisterAt(wire + 2);
  return wordSwapped ? (second << 16) | first : (first << 16) | second;
}

void Value32ToRegisters(uint32_t value, bool wordSwapped, uint8_t* wire) {
  const int order[4] = {3, 2, 1, 0};          // high word first
  const int swappedOrder[4] = {1, 0, 3, 2};   // low word first
  const int* bytes = wordSwapped ? swappedOrder : order;
  for (int i = 0; i < 4; ++i) wire[i] = ByteOf(value, bytes[i]);
}

uint16_t InsertBit(uint16_t reg, int bit, uint16_t value) {
  const uint32_t cleared = reg & ~(1u << bit);
  return static_cast<uint16_t>(cleared | (static_cast<uint32_t>(value) << bit));
}

uint16_t InsertLowByte(uint16_t reg, uint16_t value) {
  return static_cast<uint16_t>((reg & kHighByteMask) | (value & kByteMask));
}

uint16_t InsertHighByte(uint16_t reg, uint16_t value) {
  return static_cast<uint16_t>(((value & kByteMask) << kBitsPerByte) | (reg & kByteMask));
}

uint16_t ExtractBit(uint16_t reg, int bit) { return static_cast<uint16_t>((reg >> bit) & 1u); }

void StoreSlot16(void* slot, uint16_t value) {
  auto* bytes = static_cast<uint8_t*>(slot);
  bytes[kSlot16Offset] = ByteOf(value, 0);
  bytes[kSlot16Offset + 1] = ByteOf(value, 1);
}

void StoreSlot32(void* slot, uint32_t value) {
  auto* bytes = static_cast<uint8_t*>(slot);
  for (int i = 0; i < 4; ++i) bytes[i] = ByteOf(value, i);
}

uint16_t LoadSlot16(const void* slot) {
  const auto* bytes = static_cast<const uint8_t*>(slot);
  return static_cast<uint16_t>(bytes[kSlot16Offset] | (bytes[kSlot16Offset + 1] << kBitsPerByte));
}

uint32_t LoadSlot32(const void* slot) {
  const auto* bytes = static_cast<const uint8_t*>(slot);
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << kBitsPerByte) | bytes[i];
  return value;
}

uint16_t SwitchValueAsGate(double switchValue) {
  constexpr double kInt32Limit = 2147483648.0;
  const double truncated = std::trunc(switchValue);
  if (!(truncated > -kInt32Limit - 1.0 && truncated < kInt32Limit)) return 0;
  return static_cast<uint16_t>(static_cast<int32_t>(truncated));
}

}  // namespace toldex
