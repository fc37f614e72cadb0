// The records that cross the boundary between the host and the driver.
//
// Their byte layout belongs to the host: on 32-bit builds every offset and size
// is checked at compile time against the host's layout. On 64-bit Linux the same
// declarations, in the same field order, take their natural alignment, so a host
// built from this header agrees with the driver there too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace toldex {

// Status codes of every operation.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusRequestFailed = 1;
constexpr int32_t kStatusCommFailure = 2;
constexpr int32_t kStatusNoAddress = 53;  // BrowseAddress produced no address

// Operation codes of DriverRequest::op.
enum OperationCode : int32_t {
  kOpColdStart = 1,
  kOpWarmStart = 2,
  kOpSingleAddressParser = 3,
  kOpBlockAddressParser = 4,
  kOpSingleRead = 5,
  kOpBlockRead = 6,
  kOpSingleWrite = 7,
  kOpBlockWrite = 10,
  kOpEndVpi = 11,
  kOpCloseCom = 12,
  kOpReOpenCom = 13,
  kOpGetVpiInfo = 14,
  kOpChangeVpiParams = 15,
  kOpBrowseAddress = 16,
};

struct DriverRequest {
  void* instance;        // the instance's InstanceRecord, in the host's block
  int32_t op;            // operation code, 1 to 16
  int32_t driverNumber;  // the host's number for this driver instance
  int32_t unused12;
  void* params;          // the operation's parameter record
};

struct DriverInfo {
  int32_t infoValue;
  const char* driverName;
  const char* driverBanner;
  int32_t instanceSize;
  int32_t infoType;
  int16_t infoFlag1;
  int16_t infoFlag2;
  int32_t untouched24;  // left as the host set it
  int32_t infoBits;
};

struct ColdStartParams {
  int32_t unused0;
  int32_t unused4;
  int32_t unused8;
  int32_t startMode;  // 0: installation only
  int32_t timeoutCs;  // socket time-out in hundredths of a second
  int16_t statusWord1;
  int16_t statusWord2;
};

struct WarmStartParams {
  int32_t plcNumber;  // 1..64, or 200000 + station
};

struct GateAddress {
  const char* address;
  int32_t unused4;
  int32_t gateType;
  int32_t blockLength;
  int32_t plcNumber;
  int32_t memoryType;
  int32_t registerAddress;
  int32_t bitNumber;
  int32_t bitWidth;
};

struct GateIo {
  const char* address;
  int32_t unused4;
  int32_t plcNumber;
  int32_t memoryType;
  int32_t registerAddress;
  int32_t bitNumber;
  int32_t bitWidth;
  int32_t unused28;
  int32_t elementCount;
  int32_t gateId;
  void* value;
};

struct ChangeParams {
  const char* portName;
  int32_t unused4;
  int32_t unused8;
  int32_t newTimeoutMs;  // 0 and -1 keep the current time-out
  int32_t unused16;
  int32_t unused20;
};

struct BrowseParams {
  char* addressBuffer;  // receives the composed address, at least 10 bytes
  void* ownerWindow;
};

// What the host library stores when a gate changes.
struct HostMessage {
  uint16_t kind;  // 1: a gate's value changed
  uint16_t reserved2;
  int32_t gateId;
  int32_t reserved8;
  int32_t reserved12;
  double value;
};
constexpr uint16_t kHostMessageGateChanged = 1;

static_assert(offsetof(HostMessage, gateId) == 4);
static_assert(offsetof(HostMessage, value) == 16);
static_assert(sizeof(HostMessage) == 24);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(DriverRequest) == 20);
static_assert(offsetof(DriverRequest, op) == 4);
static_assert(offsetof(DriverRequest, driverNumber) == 8);
static_assert(offsetof(DriverRequest, params) == 16);

static_assert(sizeof(DriverInfo) == 32);
static_assert(offsetof(DriverInfo, driverName) == 4);
static_assert(offsetof(DriverInfo, driverBanner) == 8);
static_assert(offsetof(DriverInfo, instanceSize) == 12);
static_assert(offsetof(DriverInfo, infoType) == 16);
static_assert(offsetof(DriverInfo, infoFlag1) == 20);
static_assert(offsetof(DriverInfo, infoFlag2) == 22);
static_assert(offsetof(DriverInfo, untouched24) == 24);
static_assert(offsetof(DriverInfo, infoBits) == 28);

static_assert(offsetof(ColdStartParams, startMode) == 12);
static_assert(offsetof(ColdStartParams, timeoutCs) == 16);
static_assert(offsetof(ColdStartParams, statusWord1) == 20);
static_assert(offsetof(ColdStartParams, statusWord2) == 22);

static_assert(offsetof(WarmStartParams, plcNumber) == 0);

static_assert(sizeof(GateAddress) == 36);
static_assert(offsetof(GateAddress, gateType) == 8);
static_assert(offsetof(GateAddress, blockLength) == 12);
static_assert(offsetof(GateAddress, plcNumber) == 16);
static_assert(offsetof(GateAddress, memoryType) == 20);
static_assert(offsetof(GateAddress, registerAddress) == 24);
static_assert(offsetof(GateAddress, bitNumber) == 28);
static_assert(offsetof(GateAddress, bitWidth) == 32);

static_assert(sizeof(GateIo) == 44);
static_assert(offsetof(GateIo, plcNumber) == 8);
static_assert(offsetof(GateIo, memoryType) == 12);
static_assert(offsetof(GateIo, registerAddress) == 16);
static_assert(offsetof(GateIo, bitNumber) == 20);
static_assert(offsetof(GateIo, bitWidth) == 24);
static_assert(offsetof(GateIo, elementCount) == 32);
static_assert(offsetof(GateIo, gateId) == 36);
static_assert(offsetof(GateIo, value) == 40);

static_assert(offsetof(ChangeParams, newTimeoutMs) == 12);
static_assert(sizeof(BrowseParams) == 8);
static_assert(offsetof(BrowseParams, ownerWindow) == 4);
#endif

}  // namespace toldex
