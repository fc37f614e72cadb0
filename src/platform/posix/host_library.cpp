// Binding the host library's functions on POSIX: dlopen of the library itself,
// dlsym on that handle only.
#include "platform/host_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace toldex::platform {
namespace {

constexpr char kDefaultLibrary[] = "libqirpro.so";
constexpr uint16_t kNoHost = 1;

int NoErr(int, const char*, ...) { return 0; }
uint16_t NoMkClient(const char*, int32_t, int32_t, uint8_t*) { return kNoHost; }
uint16_t NoGetQirproVer(uint8_t, uint16_t*, char*) { return kNoHost; }
uint16_t NoRmClient(uint8_t) { return kNoHost; }
uint16_t NoGetGateId(uint8_t, uint8_t, const char*, int32_t*) { return kNoHost; }
uint16_t NoRqGateMsg(uint8_t, int32_t, int32_t*, int32_t) { return kNoHost; }
uint16_t NoWaitMsg(uint8_t, HostMessage*, int32_t) { return kHostWaitShutdown; }

HostFunctions g_functions{NoErr,       NoMkClient,  NoGetQirproVer, NoRmClient,
                          NoGetGateId, NoRqGateMsg, NoWaitMsg};
std::once_flag g_bound;

template <typename Fn>
void Take(void* library, const char* name, Fn& slot) {
  if (void* symbol = dlsym(library, name)) slot = reinterpret_cast<Fn>(symbol);
}

void Bind() {
  const char* path = std::getenv("TOLDEX_QIRPRO");
  if (path == nullptr || path[0] == '\0') path = kDefaultLibrary;
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "TOLDEX: host library %s not loaded (%s); logging is off\n", path,
                 dlerror());
    return;
  }
  Take(library, "err", g_functions.err);
  Take(library, "QirMkClient", g_functions.QirMkClient);
  Take(library, "QirGetQirproVer", g_functions.QirGetQirproVer);
  Take(library, "QirRmClient", g_functions.QirRmClient);
  Take(library, "QirGetGateIdByAddressStr", g_functions.QirGetGateIdByAddressStr);
  Take(library, "QirRqGateMsg", g_functions.QirRqGateMsg);
  Take(library, "QirWaitMsg", g_functions.QirWaitMsg);
}

}  // namespace

const HostFunctions& Host() {
  std::call_once(g_bound, Bind);
  return g_functions;
}

}  // namespace toldex::platform
