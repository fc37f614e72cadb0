#include "plcsim/start_pattern.h"

#include <bit>

namespace plcsim {
namespace {

constexpr int kWordBits = 16;
constexpr uint32_t kWordMask = 0xFFFF;
constexpr uint16_t kEvenMask = 0xFFFE;
constexpr int kInputStride = 3;

bool InRegion(uint16_t address, uint16_t start, uint16_t end) { return address >= start && address < end; }

// The word of a 32-bit pair value that register `address` holds.
uint16_t WordOfPair(uint32_t pairValue, uint16_t address) {
  const bool first = (address & 1u) == 0;
  return static_cast<uint16_t>(first ? pairValue >> kWordBits : pairValue & kWordMask);
}

}  // namespace

bool IsBitArea(Area area) { return area == Area::kCoils || area == Area::kDiscreteInputs; }

bool StartBit(Area area, uint16_t address) {
  if (area == Area::kCoils) return (address & 1u) != 0;
  return address % kInputStride == 0;
}

float StartFloat(Area area, uint16_t first) {
  const float value = static_cast<float>(first) + kFloatFraction;
  return area == Area::kInputRegisters ? -value : value;
}

int32_t StartInteger(Area area, uint16_t first) {
  return area == Area::kInputRegisters ? kInputIntegerBase + first : -static_cast<int32_t>(first);
}

uint16_t StartRegister(Area area, uint16_t address, int stationNumber) {
  if (address == kStationNumberRegister) return static_cast<uint16_t>(stationNumber);
  const uint16_t first = address & kEvenMask;
  if (InRegion(address, kFloatRegionStart, kIntegerRegionStart)) {
    return WordOfPair(FloatBits(StartFloat(area, first)), address);
  }
  if (InRegion(address, kIntegerRegionStart, kRegionsEnd)) {
    return WordOfPair(static_cast<uint32_t>(StartInteger(area, first)), address);
  }
  if (area == Area::kInputRegisters) return static_cast<uint16_t>(kInputRegisterOffset + address);
  return address;
}

uint32_t JoinWords(uint16_t high, uint16_t low) { return (static_cast<uint32_t>(high) << kWordBits) | low; }

uint32_t FloatBits(float value) { return std::bit_cast<uint32_t>(value); }

float FloatFromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

}  // namespace plcsim
