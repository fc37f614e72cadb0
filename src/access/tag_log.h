// What the read and write paths keep of a gate for their log lines, and the
// line with which they refuse a record that names no station or is too large.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// The gate's address text, at most 255 characters; empty when there is none.
struct TagText {
  char text[kAddressTextSize];
};
TagText CopyTagText(const char* address);

// The block size as log lines show it: the low 16 bits of elementCount.
int BlockSizeOf(const GateIo& gate);

// Logs the refusal of a record that the address parsers never produce
// (a number that names no PLC or station, an unknown memory type or bit,
// a size beyond one request). The caller returns status 1.
int32_t RefuseGate(const char* operation, const char* tagText, const GateIo& gate);

}  // namespace toldex
