// The initialisation file: protocol, address base, options, checks, stations
// and backup pairs of one driver instance.
#pragma once

#include <cstdint>
#include <cstdio>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// Lines are read in pieces of at most 255 characters; a longer line is read
// as several lines.
constexpr int kInitLineSize = 256;

// Reads TOLDEXnn.INT (or TOLDEXn.INT, TOLDEX.INT) from the current directory
// into the request's instance. Never fails: returns 0.
int32_t InitFileReader(DriverRequest* request);
// The same on a given record, for readers that have no request (the browse
// dialog's scratch record).
int32_t ReadInitFile(InstanceRecord& instance, int32_t driverNumber);
// The reading itself, on a file already open (nullptr: none was found); `name`
// is shown in the log. The caller closes the file.
int32_t ReadInitStream(InstanceRecord& instance, std::FILE* file, const char* name);

// A station line ("1 127.0.0.10 503,7"): 0 when the line was stored as a
// station, 1 otherwise (with a log line when it names a station but cannot be
// stored).
int StationLine(DriverRequest* request, const char* line, int32_t lineNumber);
int StoreStationLine(InstanceRecord& instance, const char* line, int32_t lineNumber);
// A backup line ("BACKUP_3 = 5"): pairs a PLC with its backup. Lines without
// "BACKUP_" are left alone.
void BackupLine(InstanceRecord& instance, const char* line);

// The two scanners of the station line. Both stop at the end of the text.
const char* SkipToDigit(const char* text);
const char* SkipDigits(const char* text);

}  // namespace toldex
