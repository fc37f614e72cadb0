// Placeholder until the reader lands: the reset only.
#include "config/init_file.h"

namespace toldex {

int32_t ReadInitFile(InstanceRecord& instance, int32_t) {
  instance.base = 'D';
  instance.options = 0;
  instance.parityAddrChecking = 1;
  instance.receivedFramesChecking = 1;
  for (BackupEntry& entry : instance.backups) entry = BackupEntry{};
  for (StationRecord& station : instance.stations) {
    station = StationRecord{};
    station.socket = -1;
  }
  return 0;
}

int32_t InitFileReader(DriverRequest* request) {
  return ReadInitFile(InstanceOf(request), request->driverNumber);
}

int StationLine(DriverRequest*, const char*, int32_t) { return 1; }

}  // namespace toldex
