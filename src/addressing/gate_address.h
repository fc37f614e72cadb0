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

// Host gate types.
constexpr int32_t kGateTypeUnsigned16 = 0;
constexpr int32_t kGateTypeFloat = 3;
constexpr int32_t kGateTypeInteger32 = 4;
constexpr int32_t kGateTypeUnsigned32 = 5;
constexpr int32_t kGateTypeDigital = 6;

// opCode: 3 from SingleAddressParser, 4 from BlockAddressParser. 0 accepted, 1 rejected.
int Parse(InstanceRecord& instance, GateAddress& gate, int opCode);

}  // namespace toldex
