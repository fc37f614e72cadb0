// Binding the host library's functions on Windows: the driver imports them
// from QIRPRO.dll by their plain names (the import library is made from
// qirpro_imports.def), so the loader binds them before the driver runs.
#include "platform/host_library.h"

extern "C" {
// Logging keeps the C calling convention; the other six are __stdcall.
__declspec(dllimport) int err(int level, const char* format, ...);
__declspec(dllimport) uint16_t __stdcall QirMkClient(const char* name, int32_t one,
                                                     int32_t zero, uint8_t* clientId);
__declspec(dllimport) uint16_t __stdcall QirGetQirproVer(uint8_t clientId, uint16_t* version,
                                                         char* text100);
__declspec(dllimport) uint16_t __stdcall QirRmClient(uint8_t clientId);
__declspec(dllimport) uint16_t __stdcall QirGetGateIdByAddressStr(uint8_t clientId,
                                                                  uint8_t driverNumber,
                                                                  const char* address,
                                                                  int32_t* gateId);
__declspec(dllimport) uint16_t __stdcall QirRqGateMsg(uint8_t clientId, int32_t one,
                                                      int32_t* gateIds, int32_t count);
__declspec(dllimport) uint16_t __stdcall QirWaitMsg(uint8_t clientId,
                                                    toldex::HostMessage* message, int32_t wait);
}

namespace toldex::platform {

// The table is made on first use, so that it is complete whenever it is read,
// static initialisation order notwithstanding.
const HostFunctions& Host() {
  static const HostFunctions imported{err,         QirMkClient,
                                      QirGetQirproVer, QirRmClient,
                                      QirGetGateIdByAddressStr, QirRqGateMsg,
                                      QirWaitMsg};
  return imported;
}

}  // namespace toldex::platform
