// Gates as the command-line host handles them: the host's gate types, the
// type a gate gets from its memory type, the meaning of a parsed address, and
// values to and from the host's value buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/host_records.h"

namespace toldex::cli {

// Host gate types, as the address operations check them.
constexpr int32_t kTypeUnsigned16 = 0;
constexpr int32_t kTypeSigned16 = 1;
constexpr int32_t kTypeWord16 = 2;
constexpr int32_t kTypeFloat = 3;
constexpr int32_t kTypeInteger32 = 4;
constexpr int32_t kTypeUnsigned32 = 5;
constexpr int32_t kTypeDigital = 6;
constexpr int32_t kGateTypeCount = 7;

// "u16", "i16", "w16", "float", "i32", "u32", "digital".
const char* GateTypeName(int32_t gateType);
// A name above or its number 0 to 6.
bool GateTypeFromText(const std::string& text, int32_t& gateType);

// The type a host would give the gate from its address: digital for coils,
// inputs, bits, switch gates and $ST_ONLINE; float for 5 and 7; unsigned 32
// for 6, 8 and the counters; unsigned 16 for the other registers and bytes.
// `base` ('D', 'H' or 'L') tells where a bit character sits.
int32_t DefaultGateType(const std::string& address, char base);

enum class GateKind { kOrdinary, kSwitch, kScrut, kDiagnostic };
GateKind KindOf(int32_t plcNumber, int32_t memoryType);
const char* KindName(GateKind kind);
// The PLC (ordinary and switch gates) or station (_SCRUT and diagnostic gates)
// behind a marked plcNumber.
int32_t ReducedNumber(int32_t plcNumber, int32_t memoryType);
// "holding register", "coil", "NUMCOMMS counter" ...
const char* MemoryTypeName(int32_t memoryType);

// The first 0-based Modbus address a read of the gate starts at, by the
// driver's own rule (32-bit items, long addressing, the odd-register marker).
int32_t WireStartAddress(const GateAddress& parsed, bool longAddressing);

// The Modbus read request the driver builds for the gate: function code,
// first 0-based address and quantity (registers, or bits for coils and
// inputs). False for gates answered from memory (switch and diagnostic gates).
struct ReadRequest {
  int functionCode;
  int32_t start;
  int32_t quantity;
};
bool ReadRequestOf(const GateAddress& parsed, int32_t count, bool longAddressing, ReadRequest& request);

// Bytes of the value buffer for a gate: 4 for a single gate, else the block.
size_t ValueBufferSize(int32_t bitWidth, int32_t count);

// A single gate's value slot as text: 16-bit types at bytes 2 and 3, 32-bit
// types at bytes 0 to 3 (little-endian), shown by the gate type.
std::string FormatSingleValue(int32_t gateType, const uint8_t* slot);
// A block as one text per element.
std::vector<std::string> FormatBlockValues(int32_t gateType, int32_t bitWidth, int32_t count,
                                           const uint8_t* buffer);
// True when the formatted value is a plain number (for JSON).
bool IsNumericText(const std::string& text);

// Puts a value given as text into a single gate's slot; false with a reason.
bool EncodeSingleValue(int32_t gateType, const std::string& text, uint8_t* slot, std::string& reason);
// Puts several values into a block buffer of ValueBufferSize(bitWidth, count).
bool EncodeBlockValues(int32_t gateType, int32_t bitWidth, const std::vector<std::string>& texts,
                       uint8_t* buffer, std::string& reason);

// The parsed address carried from the address record into a read or write
// record, as the host does.
GateIo MakeGateIo(const GateAddress& parsed, const char* address, int32_t gateId, int32_t count,
                  void* value);

}  // namespace toldex::cli
