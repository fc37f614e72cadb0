// Conversions between register contents on the wire and the host's values:
// word order of 32-bit values, bits and bytes inside a register, and the value
// slot of a single gate (a 16-bit value in bytes 2 and 3, bytes 0 and 1 left
// alone; a 32-bit value in bytes 0 to 3; little-endian).
#pragma once

#include <cstdint>

namespace toldex {

constexpr int kValueSlotSize = 4;
constexpr int kBytesPerRegister = 2;
constexpr int kBytesPerLong = 4;

// SWAP exchanges the words of 32-bit integers (6, 8), FLOATSWAP those of floats (5, 7).
bool IsWordSwapped(int32_t memoryType, uint16_t options);

// Two registers as they come on the wire; without a swap the first is the high word.
uint32_t RegistersToValue32(const uint8_t* wire, bool wordSwapped);
void Value32ToRegisters(uint32_t value, bool wordSwapped, uint8_t* wire);
uint16_t RegisterAt(const uint8_t* wire);  // high byte first

// The register with bit `bit` replaced by the value shifted to it, 16 bits kept.
uint16_t InsertBit(uint16_t reg, int bit, uint16_t value);
// The register with its low (260) or high (516) byte taken from the value's low byte.
uint16_t InsertLowByte(uint16_t reg, uint16_t value);
uint16_t InsertHighByte(uint16_t reg, uint16_t value);
uint16_t ExtractBit(uint16_t reg, int bit);

void StoreSlot16(void* slot, uint16_t value);
void StoreSlot32(void* slot, uint32_t value);
uint16_t LoadSlot16(const void* slot);
uint32_t LoadSlot32(const void* slot);

// A switch value as a gate shows it: truncated toward zero, low 16 bits. A
// value that no 32-bit integer holds (NaN included) shows as 0.
uint16_t SwitchValueAsGate(double switchValue);

}  // namespace toldex
