// The seven functions of the host library, bound by name.
//
// Windows: the driver imports them from QIRPRO.dll. Linux: they are taken with
// dlsym from the host library itself (libqirpro.so as the loader finds it, or
// the file named by TOLDEX_QIRPRO), never from the process's global scope,
// where the C library's own err() would exit the process. When no host library
// can be loaded the driver says so once on stderr and goes on: logging does
// nothing and the other calls report failure.
#pragma once

#include <cstdint>

#include "driver/host_records.h"

#if defined(_WIN32)
#define TOLDEX_HOSTAPI __stdcall
#else
#define TOLDEX_HOSTAPI
#endif

namespace toldex::platform {

using HostErrFn = int (*)(int level, const char* format, ...);
using QirMkClientFn = uint16_t(TOLDEX_HOSTAPI*)(const char* name, int32_t one, int32_t zero,
                                                uint8_t* clientId);
using QirGetQirproVerFn = uint16_t(TOLDEX_HOSTAPI*)(uint8_t clientId, uint16_t* version,
                                                    char* text100);
using QirRmClientFn = uint16_t(TOLDEX_HOSTAPI*)(uint8_t clientId);
using QirGetGateIdByAddressStrFn = uint16_t(TOLDEX_HOSTAPI*)(uint8_t clientId,
                                                             uint8_t driverNumber,
                                                             const char* address,
                                                             int32_t* gateId);
using QirRqGateMsgFn = uint16_t(TOLDEX_HOSTAPI*)(uint8_t clientId, int32_t one,
                                                 int32_t* gateIds, int32_t count);
using QirWaitMsgFn = uint16_t(TOLDEX_HOSTAPI*)(uint8_t clientId, HostMessage* message,
                                               int32_t wait);

// QirWaitMsg results.
constexpr uint16_t kHostWaitMessage = 0x8000;
constexpr uint16_t kHostWaitShutdown = 0;

struct HostFunctions {
  HostErrFn err;
  QirMkClientFn QirMkClient;
  QirGetQirproVerFn QirGetQirproVer;
  QirRmClientFn QirRmClient;
  QirGetGateIdByAddressStrFn QirGetGateIdByAddressStr;
  QirRqGateMsgFn QirRqGateMsg;
  QirWaitMsgFn QirWaitMsg;
};

// Bound on first use, thread-safe; no pointer is ever null.
const HostFunctions& Host();

}  // namespace toldex::platform
