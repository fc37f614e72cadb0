// The read operations' inner routines, reached by the write path's register
// read and by the tests.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

constexpr int kReadModeSingle = 1;
constexpr int kReadModeBlock = 2;

// The first data byte of a read reply, counted from its unit identifier
// (unit, function code, byte count, data).
constexpr int kReadReplyDataOffset = 3;

int32_t DoBlockRead(DriverRequest* request, int mode);
// The 6-byte read request of the gate for the station that serves it; returns 6.
int BuildReadRequest(const GateIo& gate, uint8_t* request, const InstanceRecord& instance, int station);
// Converts the reply (from its unit identifier on) into the gate's value
// buffer: one value in its slot (mode 1) or a block. 0, or 1 for a width the
// driver does not know (nothing written).
int DecodeReadReply(const GateIo& gate, const uint8_t* reply, uint16_t options, int mode);

}  // namespace toldex
