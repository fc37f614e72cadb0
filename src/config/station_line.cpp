// Station lines ("1 127.0.0.10 503,7") and backup lines ("BACKUP_3 = 5") of
// the initialisation file.
#include <cstdio>
#include <cstring>

#include "config/init_file.h"
#include "driver/log.h"
#include "driver/text_scan.h"

namespace toldex {
namespace {

constexpr int32_t kMaxStation = kStationCount - 1;
constexpr int32_t kNoUnitIdentifier = -1;
constexpr char kBackupKey[] = "BACKUP_";
constexpr int kBackupKeyLength = sizeof kBackupKey - 1;
constexpr int kAddressParts = 4;

bool IsPlcNumber(int32_t number) { return number >= 1 && number <= kPlcCount; }

// What follows the address: "503", ",503", " 503,7", ", 503, 7", " ,7". The
// separator is the first blank after the address or, when there is none, the
// first comma.
void ReadPortAndUnit(const char* position, int32_t& port, int32_t& unit) {
  const char* separator = std::strchr(position, ' ');
  if (separator == nullptr) separator = std::strchr(position, ',');
  if (separator == nullptr) return;
  const char* rest = separator + 1;
  if (std::strchr(rest, ',') == nullptr) {
    ScanText(SkipToDigit(rest), "%d", {&port});
    return;
  }
  const char* number = SkipToDigit(rest);
  if (std::strchr(number, ',') != nullptr) {
    ScanText(number, "%d", {&port});
    ScanText(SkipToDigit(SkipDigits(number)), "%d", {&unit});
  } else {
    ScanText(number, "%d", {&unit});
  }
}

}  // namespace

const char* SkipToDigit(const char* text) {
  while (*text != '\0' && !IsDecimalDigit(*text)) ++text;
  return text;
}

const char* SkipDigits(const char* text) {
  while (IsDecimalDigit(*text)) ++text;
  return text;
}

int StoreStationLine(InstanceRecord& instance, const char* line, int32_t lineNumber) {
  int32_t stationNumber = 0;
  if (ScanText(line, "%d", {&stationNumber}) != 1) return 1;
  if (stationNumber > kMaxStation) {
    LOG(kLogEvent, "TOLDEX: InitFile: station number too big, line: %d", lineNumber);
    return 1;
  }
  if (stationNumber < 0) {
    LOG(kLogEvent, "TOLDEX: InitFile illegal line, line: %d", lineNumber);
    return 1;
  }

  // The address starts at the first digit after the station number; blanks
  // around its dots are allowed ("10 . 0 . 0 . 1").
  char ip[kIpTextSize] = "";
  const char* position = SkipToDigit(SkipDigits(SkipToDigit(line)));
  int32_t part[kAddressParts];
  if (ScanText(position, "%d . %d . %d . %d", {&part[0], &part[1], &part[2], &part[3]}) ==
      kAddressParts) {
    std::snprintf(ip, sizeof ip, "%d.%d.%d.%d", part[0], part[1], part[2], part[3]);
    for (int i = 0; i < kAddressParts; ++i) position = SkipDigits(SkipToDigit(position));
  }

  int32_t port = kDefaultPort;
  int32_t unit = kNoUnitIdentifier;
  ReadPortAndUnit(position, port, unit);

  if (ip[0] == '\0') {
    LOG(kLogEvent, "TOLDEX: InitFile illegal line, line: %d", lineNumber);
    return 1;
  }
  StationRecord& station = instance.stations[stationNumber];
  std::snprintf(station.ip, sizeof station.ip, "%s", ip);
  station.port = static_cast<uint16_t>(port);
  station.force_address = static_cast<int16_t>(unit);
  if (unit == kNoUnitIdentifier) {
    LOG(kLogEvent, "\tStation: %d   IP: %s ,port = %d", stationNumber, station.ip,
        static_cast<int>(station.port));
  } else {
    LOG(kLogEvent, "\tStation: %d   IP: %s ,port = %d, force_address = %d", stationNumber,
        station.ip, static_cast<int>(station.port), static_cast<int>(station.force_address));
  }
  return 0;
}

int StationLine(DriverRequest* request, const char* line, int32_t lineNumber) {
  return StoreStationLine(InstanceOf(request), line, lineNumber);
}

void BackupLine(InstanceRecord& instance, const char* line) {
  const char* key = std::strstr(line, kBackupKey);
  if (key == nullptr) return;
  int32_t plc = 0;
  const bool plcRead = ScanText(key + kBackupKeyLength, "%d", {&plc}) == 1;
  const char* equals = std::strchr(line, '=');
  if (equals == nullptr) {
    LOG(kLogEvent, "TOLDEX: Illegal line in init file : %s", line);
    return;
  }
  int32_t backup = 0;
  const bool backupRead = ScanText(equals + 1, "%d", {&backup}) == 1;
  if (!plcRead || !backupRead || !IsPlcNumber(plc) || !IsPlcNumber(backup)) {
    LOG(kLogEvent, "TOLDEX: Illegal PLC number: %s", line);
    return;
  }
  LOG(kLogEvent, "TOLDEX: ============================");
  LOG(kLogEvent, "TOLDEX:  PLC # %d Backup is PLC # %d", plc, backup);
  LOG(kLogEvent, "TOLDEX: ============================");
  instance.backups[plc].backupPlc = static_cast<uint16_t>(backup);
}

}  // namespace toldex
