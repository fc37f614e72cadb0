// The gate address grammar: turns a gate address text into the parsed address
// the host keeps and hands back with every read and write.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// Memory-type codes of a parsed address.
constexpr int32_t kMemCoil = 0;
constexpr int32_t kMemInput = 1;
constexpr int32_t kMemInputRegister = 3;
constexpr int32_t kMemHoldingRegister = 4;
constexpr int32_t kMemInputFloat = 5;
constexpr int32_t kMemInputLong = 6;
constexpr int32_t kMemHoldingFloat = 7;
constexpr int32_t kMemHoldingLong = 8;
constexpr int32_t kMemLowByte = 260;
constexpr int32_t kMemHighByte = 516;
constexpr int32_t kMemNumComms = 1000;
constexpr int32_t kMemNumSuccess = 1001;
constexpr int32_t kMemNumFails = 1002;
constexpr int32_t kMemStOnline = 1003;
constexpr int32_t kMemErrors = 1004;
constexpr int32_t kMemCommFails = 1005;
// The low eight bits of a memory type name its Modbus area (260 and 516 are
// holding registers).
constexpr int32_t kMemAreaMask = 0xFF;

// Host gate types.
constexpr int32_t kGateTypeUnsigned16 = 0;
constexpr int32_t kGateTypeInteger16 = 1;
constexpr int32_t kGateTypeOther16 = 2;
constexpr int32_t kGateTypeFloat = 3;
constexpr int32_t kGateTypeInteger32 = 4;
constexpr int32_t kGateTypeUnsigned32 = 5;
constexpr int32_t kGateTypeDigital = 6;

// Element widths in bits (bitWidth).
constexpr int32_t kWidthBit = 1;
constexpr int32_t kWidthWord = 16;
constexpr int32_t kWidthLong = 32;

// Parsed-address values besides the markers of instance.h.
constexpr int32_t kNoBit = -1;
constexpr int32_t kSwitchGateBit = 255;          // bitNumber of a switch gate
constexpr int32_t kSwitchGateRegister = 100000;  // registerAddress of a switch gate

// The gate address text ("0140010", "07BACKUP", "0130001_SCRUT"): opCode 3
// from SingleAddressParser, 4 from BlockAddressParser. 0 accepted (the parsed
// address written into gate), 1 rejected with a log line. A _SCRUT gate adds
// its number to the plcNumber it finds, which the callers preset to 200000.
int Parse(InstanceRecord& instance, GateAddress& gate, int opCode);

// Whether character c may stand at position i of a gate address (after an
// omitted bit character has been filled in as a blank).
bool IsAdmittedGasCharacter(int position, char c);

// The checks of the two address operations on what Parse accepted.
int SingleParse(GateAddress& gate);
int BlockParse(const InstanceRecord& instance, const GateAddress& gate);

// A diagnostic gate "$NUMCOMMS:07"; `text` is the address without _SCRUT.
// 0 accepted, 1 rejected with a log line.
int ParseDiagnosticGate(const InstanceRecord& instance, GateAddress& gate, const char* text);

}  // namespace toldex
