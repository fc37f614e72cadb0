// Reading the initialisation file: finding it, the key lines and the summary.
// Station and backup lines are in station_line.cpp.
#include "config/init_file.h"

#include <cstdio>

#include "driver/log.h"
#include "driver/text_scan.h"

namespace toldex {
namespace {

constexpr char kFileBaseName[] = "TOLDEX";
constexpr int kFileNameSize = 32;  // "TOLDEX" and any 32-bit driver number

// Every line is tried against the key forms in this order; blanks in a form
// match any white space, each %1c takes the next character whatever it is.
constexpr char kBusForm[] = " BUS=%1c , %1c";

struct YesNoKey {
  const char* form;
  const char* checkMessage;  // second line of the complaint about a bad value
  bool onWhenIllegal;        // the setting a bad value leaves
  void (*apply)(InstanceRecord& instance, bool on);
};

void SetOption(InstanceRecord& instance, uint16_t bit, bool on) {
  if (on) {
    instance.options = static_cast<uint16_t>(instance.options | bit);
  } else {
    instance.options = static_cast<uint16_t>(instance.options & ~bit);
  }
}

const YesNoKey kYesNoKeys[] = {
    {" SWAP = %1c%1c%1c", "TOLDEX: Check for SWAP = in your int file. Assuming NO swap", false,
     [](InstanceRecord& instance, bool on) { SetOption(instance, kOptionSwap, on); }},
    {" FLOATSWAP = %1c%1c%1c", "TOLDEX: Check for FLOATSWAP = in your int file. Assuming NO swap",
     false, [](InstanceRecord& instance, bool on) { SetOption(instance, kOptionFloatSwap, on); }},
    {" LONGADDR = %1c%1c%1c",
     "TOLDEX: Check for LONGADDR = in your int file. Assuming NO switching", false,
     [](InstanceRecord& instance, bool on) { SetOption(instance, kOptionLongAddr, on); }},
    {" PARITY_ADDR_CHECKING = %1c%1c%1c",
     "TOLDEX: Check for PARITY_ADDR_CHECKING = in your int file. Assuming Parity Checking enabled",
     true, [](InstanceRecord& instance, bool on) { instance.parityAddrChecking = on ? 1 : 0; }},
    {" RECEIVED_FRAMES_CHECKING = %1c%1c%1c",
     "TOLDEX: Check for RECEIVED_FRAMES_CHECKING = in your int file. Assuming Received Frames "
     "Checking enabled",
     true, [](InstanceRecord& instance, bool on) { instance.receivedFramesChecking = on ? 1 : 0; }},
};

void ResetInstance(InstanceRecord& instance) {
  instance.base = 'D';
  instance.options = 0;
  instance.parityAddrChecking = 1;
  instance.receivedFramesChecking = 1;
  for (BackupEntry& entry : instance.backups) entry = BackupEntry{};
  for (StationRecord& station : instance.stations) {
    station = StationRecord{};
    station.socket = platform::kNoSocket;
  }
}

std::FILE* OpenInitFile(int32_t driverNumber, char (&name)[kFileNameSize]) {
  std::snprintf(name, sizeof name, "%s%02d.INT", kFileBaseName, driverNumber);
  if (std::FILE* file = std::fopen(name, "r")) return file;
  std::snprintf(name, sizeof name, "%s%01d.INT", kFileBaseName, driverNumber);
  if (std::FILE* file = std::fopen(name, "r")) return file;
  std::snprintf(name, sizeof name, "%s.INT", kFileBaseName);
  return std::fopen(name, "r");
}

void UpperCase(char* line) {
  for (; *line != '\0'; ++line) {
    if (*line >= 'a' && *line <= 'z') *line = static_cast<char>(*line - 'a' + 'A');
  }
}

bool IsProtocolLetter(char c) { return c == 'M' || c == 'J'; }
bool IsBaseLetter(char c) { return c == 'D' || c == 'H' || c == 'L'; }

bool BusLine(InstanceRecord& instance, const char* line) {
  char protocol = 0;
  char base = 0;
  if (ScanText(line, kBusForm, {&protocol, &base}) != 2) return false;
  if (IsProtocolLetter(protocol) && IsBaseLetter(base)) {
    instance.protocol = protocol;
    instance.base = base;
  } else {
    LOG(kLogEvent, "TOLDEX: Illegal format of Int File! - ");
    LOG(kLogEvent, "TOLDEX: Default values used: Protocol=Modbus Base=Decimal");
  }
  return true;
}

// Two or three characters after the "=" make the line this key's. NO is
// judged on the first two of them, YES on all three.
bool YesNoLine(InstanceRecord& instance, const YesNoKey& key, const char* line) {
  char value[3] = {0, 0, 0};
  const int read = ScanText(line, key.form, {&value[0], &value[1], &value[2]});
  if (read < 2) return false;
  if (value[0] == 'N' && value[1] == 'O') {
    key.apply(instance, false);
  } else if (read == 3 && value[0] == 'Y' && value[1] == 'E' && value[2] == 'S') {
    key.apply(instance, true);
  } else {
    key.apply(instance, key.onWhenIllegal);
    LOG(kLogEvent, "TOLDEX: Illegal format of Int File:");
    LOG(kLogEvent, "%s", key.checkMessage);
  }
  return true;
}

void ReadLine(InstanceRecord& instance, const char* line, int32_t lineNumber) {
  if (BusLine(instance, line)) return;
  for (const YesNoKey& key : kYesNoKeys) {
    if (YesNoLine(instance, key, line)) return;
  }
  StoreStationLine(instance, line, lineNumber);
  BackupLine(instance, line);
}

const char* YesNo(bool on) { return on ? "YES" : "NO"; }

void LogSummary(const InstanceRecord& instance) {
  if (instance.protocol == 'M') {
    LOG(kLogDetail, "TOLDEX: Protocol = Modbus");
  } else {
    LOG(kLogDetail, "TOLDEX: Protocol = J-Bus");
  }
  switch (instance.base) {
    case 'D': LOG(kLogDetail, "TOLDEX: Base = Decimal"); break;
    case 'H': LOG(kLogDetail, "TOLDEX: Base = Hexadecimal"); break;
    case 'L': LOG(kLogDetail, "TOLDEX: Base = Long Decimal"); break;
    default: break;
  }
  LOG(kLogDetail, "TOLDEX: Word swap of int 32bit gates = %s",
      YesNo((instance.options & kOptionSwap) != 0));
  LOG(kLogDetail, "TOLDEX: Word swap of float gates = %s",
      YesNo((instance.options & kOptionFloatSwap) != 0));
  LOG(kLogDetail, "TOLDEX: Long word addres mapping = %s",
      YesNo((instance.options & kOptionLongAddr) != 0));
  LOG(kLogDetail, "TOLDEX: Analog 32 bits tags parity address checking = %s",
      YesNo(instance.parityAddrChecking != 0));
  LOG(kLogDetail, "TOLDEX: Received Frames Checking = %s",
      YesNo(instance.receivedFramesChecking != 0));
}

}  // namespace

int32_t ReadInitFile(InstanceRecord& instance, int32_t driverNumber) {
  char name[kFileNameSize];
  // Text mode: the Windows C library turns CR LF into LF and ends the file at
  // a Ctrl-Z; other C libraries hand both through as they are.
  std::FILE* file = OpenInitFile(driverNumber, name);
  ReadInitStream(instance, file, name);
  if (file != nullptr) std::fclose(file);
  return 0;
}

int32_t ReadInitStream(InstanceRecord& instance, std::FILE* file, const char* name) {
  ResetInstance(instance);
  if (file == nullptr) {
    LOG(kLogEvent, "TOLDEX: ColdStart() no initfile found, defaults used");
  } else {
    LOG(kLogDetail, "TOLDEX: ColdStart() reading initfile '%s'", name);
    char line[kInitLineSize];
    int32_t lineNumber = 0;
    while (std::fgets(line, sizeof line, file) != nullptr) {
      ++lineNumber;
      UpperCase(line);
      ReadLine(instance, line, lineNumber);
    }
  }
  LogSummary(instance);
  return 0;
}

int32_t InitFileReader(DriverRequest* request) {
  return ReadInitFile(InstanceOf(request), request->driverNumber);
}

}  // namespace toldex
