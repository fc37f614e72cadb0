// The initialisation file: protocol, address base, options, checks, stations
// and backup pairs of one driver instance.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// Reads TOLDEXnn.INT (or TOLDEXn.INT, TOLDEX.INT) from the current directory
// into the request's instance. Never fails: returns 0.
int32_t InitFileReader(DriverRequest* request);
// The same on a given record, for readers that have no request (the browse
// dialog's scratch record).
int32_t ReadInitFile(InstanceRecord& instance, int32_t driverNumber);
// 0 when the line was stored as a station, 1 otherwise.
int StationLine(DriverRequest* request, const char* line, int32_t lineNumber);

}  // namespace toldex
