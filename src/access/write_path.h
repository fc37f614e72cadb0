// The write operations' inner routines: the requests of single and block
// writes, and one write transaction.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// What a single write puts on the wire: the host's value (32-bit or 16-bit),
// and for a bit or byte gate the register as read before.
struct SingleWriteValue {
  uint32_t value32;
  uint16_t value16;
  uint16_t registerRead;  // bit and byte gates only
};

// The bit a bit gate writes: its bitNumber, 8 higher in a high-byte gate.
int RegisterBitOf(const GateIo& gate);
// A bit or byte gate: written by reading the register and writing it back.
bool IsReadModifyWrite(const GateIo& gate);

// The request of a single write for the station that serves it: Write Multiple
// Registers for 32-bit gates, Write Single Coil for coils, Write Single
// Register otherwise. Returns its length (11 or 6).
int BuildSingleWriteRequest(const GateIo& gate, const SingleWriteValue& value, const InstanceRecord& instance,
                            int station, uint8_t* request);
// The request of a block write from the host's values; the caller has checked
// the width (1, 16 or 32) and the size (at most 246 value bytes).
int BuildBlockWriteRequest(const GateIo& gate, const InstanceRecord& instance, int station, uint8_t* request);

// One write transaction of the request bytes on the station: framed with a
// new transaction identifier, one pass, the closing bookkeeping, and the
// failover of the gate's PLC after a communication failure.
int32_t DoWrite(DriverRequest* request, int station, const uint8_t* bytes, int length);

}  // namespace toldex
