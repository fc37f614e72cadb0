// Fuzzes the address operations: the first bytes choose the configuration
// (protocol, base, options, parity), the operation and the gate type; the rest
// is the address text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "driver/instance.h"
#include "driver/operations.h"
#include "addressing/registration_queue.h"

namespace {

toldex::InstanceRecord& Instance() {
  static std::unique_ptr<toldex::InstanceRecord> instance = [] {
    auto record = std::make_unique<toldex::InstanceRecord>();
    std::memset(record.get(), 0, sizeof *record);
    toldex::InitRuntimeState(*record);
    return record;
  }();
  return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  static const char kBases[] = {'D', 'H', 'L', 'X'};
  toldex::InstanceRecord& instance = Instance();
  instance.protocol = (data[0] & 1) ? 'J' : 'M';
  instance.base = kBases[(data[0] >> 1) & 3];
  instance.options = static_cast<uint16_t>(data[1] & 0x0E);
  instance.parityAddrChecking = data[1] & 1;
  const bool block = data[2] & 1;
  // The text, NUL-terminated, up to any length.
  std::string text(reinterpret_cast<const char*>(data + 4), size - 4);
  toldex::GateAddress gate{};
  gate.address = text.c_str();
  gate.gateType = data[2] >> 1 & 7;
  gate.blockLength = static_cast<int8_t>(data[3]) * 17;
  gate.plcNumber = (data[3] & 1) ? 200000 : 0;
  toldex::DriverRequest request{};
  request.instance = &instance;
  request.op = block ? toldex::kOpBlockAddressParser : toldex::kOpSingleAddressParser;
  request.driverNumber = 1;
  request.params = &gate;
  toldex::Dispatch(&request);
  // Keep the hand-over queues from filling up across runs.
  toldex::ClearRegistrations(instance);
  return 0;
}
