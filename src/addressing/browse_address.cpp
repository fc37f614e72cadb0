// BrowseAddress: the "Tag Format" form that builds a gate address for the
// host's tag editor.
#include "addressing/browse_address.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "addressing/browse_form.h"
#include "config/init_file.h"
#include "driver/instance.h"
#include "driver/operations.h"
#include "platform/dialog.h"
#include "platform/host_library.h"
#include "platform/thread.h"

namespace toldex {
namespace {

constexpr char kProtocolModbus = 'M';       // what ColdStart presets before reading the file
constexpr char kClientNameFormat[] = "ToldexBr%02u";
constexpr std::size_t kClientNameSize = 32;
constexpr uint8_t kUnregisteredClientId = ' ';
constexpr int32_t kClientArgumentOne = 1;   // the host library's own arguments
constexpr int32_t kClientArgumentZero = 0;
constexpr std::size_t kVersionTextSize = 100;

// Keeps a second form away while one is open, from any thread or instance,
// and lets the next one in once it has closed.
std::atomic_flag g_browseBusy = ATOMIC_FLAG_INIT;

class BusyRelease {
 public:
  BusyRelease() = default;
  ~BusyRelease() { g_browseBusy.clear(std::memory_order_release); }
  BusyRelease(const BusyRelease&) = delete;
  BusyRelease& operator=(const BusyRelease&) = delete;
};

}  // namespace

char BrowseAddressBase(int32_t driverNumber) {
  // The record holds every station and lock: too large for a host thread's stack.
  std::unique_ptr<InstanceRecord> scratch(new (std::nothrow) InstanceRecord());
  if (!scratch) return 0;
  scratch->protocol = kProtocolModbus;
  ReadInitFile(*scratch, driverNumber);
  return scratch->base;
}

uint16_t HostLibraryVersion() {
  const platform::HostFunctions& host = platform::Host();
  char clientName[kClientNameSize];
  std::snprintf(clientName, sizeof clientName, kClientNameFormat,
                static_cast<unsigned>(platform::CurrentThreadId()));
  uint8_t clientId = kUnregisteredClientId;
  uint16_t version = 0;
  char versionText[kVersionTextSize] = {};
  if (host.QirMkClient(clientName, kClientArgumentOne, kClientArgumentZero, &clientId) == 0) {
    host.QirGetQirproVer(clientId, &version, versionText);
    host.QirRmClient(clientId);
  }
  return version;
}

int32_t BrowseAddress(DriverRequest* request) {
  if (g_browseBusy.test_and_set(std::memory_order_acquire)) return kStatusNoAddress;
  BusyRelease release;

  const char base = BrowseAddressBase(request->driverNumber);
  if (base == 0) return kStatusNoAddress;
  BrowseParams& params = ParamsOf<BrowseParams>(request);
  void* owner = browse::OwnerWindowFor(HostLibraryVersion(), params.ownerWindow);

  platform::TagFormFields fields{};
  const platform::TagFormRules rules = browse::TagFormatRules(base);
  if (platform::ShowTagFormatForm(rules, owner, fields) != platform::FormResult::kAccepted) {
    return kStatusNoAddress;
  }
  char address[browse::kComposedAddressSize];
  const std::size_t length = browse::ComposeAddress(base, fields, address);
  std::memcpy(params.addressBuffer, address, length + 1);
  return kStatusOk;
}

}  // namespace toldex
