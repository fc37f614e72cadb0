#include "access/gate_kind.h"
#include "access/modbus_request.h"
#include "access/value_codec.h"
#include "access/write_path.h"
#include "addressing/gate_address.h"

namespace toldex {
namespace {

constexpr int32_t kLowByteMask = 0xFF;
constexpr int32_t kByteTypeThreshold = 256;  // 260 and 516 lie above it
constexpr int kHighByteBitOffset = 8;

uint16_t StartOf(const GateIo& gate, const InstanceRecord& instance) {
  return StartAddress(gate.registerAddress, gate.bitWidth, instance.options, instance.parityAddrChecking);
}

// The register a single-register write sends.
uint16_t RegisterToWrite(const GateIo& gate, const SingleWriteValue& value) {
  const bool bitGate = gate.bitNumber != -1;
  if (bitGate && (gate.memoryType & kLowByteMask) == kMemHoldingRegister) {
    return InsertBit(value.registerRead, RegisterBitOf(gate), value.value16);
  }
  if (!bitGate && gate.memoryType == kMemLowByte) return InsertLowByte(value.registerRead, value.value16);
  if (!bitGate && gate.memoryType == kMemHighByte) return InsertHighByte(value.registerRead, value.value16);
  return value.value16;
}

}  // namespace

int RegisterBitOf(const GateIo& gate) {
  if (gate.bitNumber == -1) return -1;
  return gate.bitNumber + (gate.memoryType == kMemHighByte ? kHighByteBitOffset : 0);
}

bool IsReadModifyWrite(const GateIo& gate) {
  return gate.bitNumber != -1 || gate.memoryType > kByteTypeThreshold;
}

int BuildSingleWriteRequest(const GateIo& gate, const SingleWriteValue& value, const InstanceRecord& instance,
                            int station, uint8_t* request) {
  const uint8_t unit = UnitIdentifier(instance.stations[station], station);
  const uint16_t start = StartOf(gate, instance);
  if (gate.bitWidth == kWidthLong) {
    return PutWriteLong(unit, start, value.value32, IsWordSwapped(gate.memoryType, instance.options), request);
  }
  if (gate.memoryType == kMemCoil) return PutWriteSingleCoil(unit, start, value.value16 != 0, request);
  return PutWriteSingleRegister(unit, start, RegisterToWrite(gate, value), request);
}

int BuildBlockWriteRequest(const GateIo& gate, const InstanceRecord& instance, int station, uint8_t* request) {
  return PutBlockWrite(UnitIdentifier(instance.stations[station], station), StartOf(gate, instance), gate.bitWidth,
                       gate.elementCount, static_cast<const uint8_t*>(gate.value),
                       IsWordSwapped(gate.memoryType, instance.options), request);
}

}  // namespace toldex
