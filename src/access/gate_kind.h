// How the read and write paths tell a gate apart by the markers of its parsed
// address, and which of the host's numbers they accept before they index a
// table or send anything.
#pragma once

#include <cstdint>

namespace toldex {

enum class GateKind {
  kOrdinary,    // a gate of PLC 1..64, served by its master or its backup
  kScrut,       // a _SCRUT gate: always served by station n itself
  kSwitch,      // a PLC's switch gate, answered from the PLC's switch value
  kDiagnostic,  // a station's counter or online flag, answered from memory
  kInvalid,     // names no PLC or station of the driver
};

struct GateTarget {
  GateKind kind;
  int number;  // the PLC (ordinary, switch) or the station (_SCRUT, diagnostic)
};

constexpr int32_t kSwitchMarkerLast = 199999;
constexpr int kDiagnosticStationLast = 255;

// Any number a switch gate marker may carry, whether it names a PLC or not.
inline bool IsSwitchMarker(int32_t plcNumber) {
  return plcNumber >= 100000 && plcNumber <= kSwitchMarkerLast;
}

// The kind of a gate that no diagnostic memory type marks: switch, _SCRUT,
// ordinary or invalid, by its plcNumber alone.
GateTarget ClassifyPlcNumber(int32_t plcNumber);
// The switch marker decides before anything else (a switch gate has no memory
// type of its own), then the diagnostic memory types, then the _SCRUT marker.
GateTarget ClassifyGate(int32_t plcNumber, int32_t memoryType);

bool IsDiagnosticMemoryType(int32_t memoryType);
// The memory types a gate served by a PLC can have: 0, 1, 3 to 8, 260, 516.
bool IsPlcMemoryType(int32_t memoryType);
// Input bits, input registers, input floats and input 32-bit integers.
bool IsInputMemoryType(int32_t memoryType);
// Two registers per element: 5, 6, 7 and 8.
bool IsTwoRegisterMemoryType(int32_t memoryType);
// -1 (none), or a bit of the register (0..15) or of the byte (0..7).
bool IsBitNumberValid(int32_t memoryType, int32_t bitNumber);
// A read stays within one reply: at least one element, and at most 250 data
// bytes counted both from the host's elements and from what the PLC sends.
bool ReadSizeAllowed(int32_t memoryType, int32_t bitWidth, int32_t elementCount);
// A block write of more than 246 bytes (elements times width / 8, as a real number).
bool BlockWriteTooLong(int32_t bitWidth, int32_t elementCount);
// The Modbus read function code of a PLC memory type (260 and 516 read like 4).
uint8_t ReadFunctionCode(int32_t memoryType);

}  // namespace toldex
