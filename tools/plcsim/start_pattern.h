// The register contents every simulated station starts with, so that a value
// read through the driver tells by itself where it came from.
//
//   coils               address a is 1 when a is odd (bytes read 0xAA)
//   discrete inputs     address a is 1 when a is a multiple of three
//                       (bytes read 0x49 0x92 0x24 and again)
//   holding registers   register r holds r, except:
//                         1000..1999  32-bit floats: the pair starting at the
//                                     even register r holds r + 0.5
//                         2000..2999  32-bit integers: the pair starting at the
//                                     even register r holds -r
//                         9000        the station's number
//   input registers     register r holds (0x4000 + r) mod 65536, except:
//                         1000..1999  floats: the pair at even r holds -(r + 0.5)
//                         2000..2999  integers: the pair at even r holds 1000000 + r
//                         9000        the station's number
//
// A 32-bit value is stored high word first (the first register holds bits
// 31..16); outside the two regions a pair at even r reads (r << 16) | (r + 1).
#pragma once

#include <cstdint>

namespace plcsim {

enum class Area : uint8_t { kCoils, kDiscreteInputs, kHoldingRegisters, kInputRegisters };

// Every address of every area exists.
constexpr uint32_t kAddressCount = 65536;

constexpr uint16_t kFloatRegionStart = 1000;
constexpr uint16_t kIntegerRegionStart = 2000;
constexpr uint16_t kRegionsEnd = 3000;
constexpr uint16_t kStationNumberRegister = 9000;
constexpr uint16_t kInputRegisterOffset = 0x4000;
constexpr int32_t kInputIntegerBase = 1000000;
constexpr float kFloatFraction = 0.5f;

bool IsBitArea(Area area);

bool StartBit(Area area, uint16_t address);
uint16_t StartRegister(Area area, uint16_t address, int stationNumber);

// The values the pairs of the two regions start with; `first` is the even
// register that starts the pair.
float StartFloat(Area area, uint16_t first);
int32_t StartInteger(Area area, uint16_t first);

// Big-endian word order helpers: the first register holds the high word.
uint32_t JoinWords(uint16_t high, uint16_t low);
uint32_t FloatBits(float value);
float FloatFromBits(uint32_t bits);

}  // namespace plcsim
