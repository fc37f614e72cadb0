// The small operations that need no station: driver information and the
// serial-line slots, which keep their places and results but open nothing.
#include "driver/instance.h"
#include "driver/log.h"
#include "driver/shared_field.h"
#include "driver/operations.h"

namespace toldex {
namespace {

constexpr int32_t kInfoValue = 80;
constexpr int32_t kInfoType = 3;
constexpr int32_t kInfoBits = 0x00880022;
constexpr char kDriverName[] = "Modicon Modbus TCP/IP";
constexpr char kDriverBanner[] = "ModBus/J-BUS 32 Bit TCP/IP driver Installed.\n";

}  // namespace

int32_t GetVpiInfo(DriverRequest* request) {
  DriverInfo& info = ParamsOf<DriverInfo>(request);
  info.infoValue = kInfoValue;
  info.driverName = kDriverName;
  info.driverBanner = kDriverBanner;
  info.instanceSize = static_cast<int32_t>(sizeof(InstanceRecord));
  info.infoType = kInfoType;
  info.infoFlag1 = 1;
  info.infoFlag2 = 0;
  info.infoBits = kInfoBits;
  return kStatusOk;
}

int32_t CloseCom(DriverRequest*) { return kStatusOk; }

int32_t ReOpenCom(DriverRequest*) { return kStatusOk; }

int32_t ChangeVpiParams(DriverRequest* request) {
  LOG(kLogDetail, "TOLDEX: ChangeVpiParams() entered");
  const int32_t newTimeoutMs = ParamsOf<ChangeParams>(request).newTimeoutMs;
  if (newTimeoutMs != 0 && newTimeoutMs != -1) {
    StoreShared(InstanceOf(request).timeoutMs, newTimeoutMs);
  }
  LOG(kLogEvent, "TOLDEX: ChangeVpiParams() open new COM port failed");
  return kStatusCommFailure;
}

}  // namespace toldex
