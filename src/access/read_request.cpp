#include "access/gate_kind.h"
#include "access/modbus_request.h"
#include "access/read_path.h"

namespace toldex {

int BuildReadRequest(const GateIo& gate, uint8_t* request, const InstanceRecord& instance, int station) {
  const uint8_t unit = UnitIdentifier(instance.stations[station], station);
  const uint16_t start =
      StartAddress(gate.registerAddress, gate.bitWidth, instance.options, instance.parityAddrChecking);
  return PutReadRequest(unit, ReadFunctionCode(gate.memoryType), start,
                        ReadQuantity(gate.memoryType, gate.elementCount), request);
}

}  // namespace toldex
