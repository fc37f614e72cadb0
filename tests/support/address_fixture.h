// An instance set up for the address operations without a cold start: the
// protocol, base, options and parity check a file would give, and the gate
// address record the host passes, with out-fields preset to a mark so that a
// test sees which fields an operation wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/host_records.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"

namespace toldex::testing {

constexpr int32_t kUntouched = 0x5A5A5A5A;

struct AddressConfig {
  char protocol = 'M';
  char base = 'D';
  uint16_t options = 0;
  int32_t parityAddrChecking = 1;
};

struct AddressResult {
  int32_t status = -1;
  GateAddress gate{};
  std::vector<std::string> log;  // "[level] text", in order
};

class AddressInstance {
 public:
  explicit AddressInstance(const AddressConfig& config = {});
  void Configure(const AddressConfig& config);
  InstanceRecord& record() { return block_.record(); }

  AddressResult Single(const std::string& address, int32_t gateType);
  AddressResult Block(const std::string& address, int32_t blockLength, int32_t gateType = 0);
  // Parse alone, with the plcNumber the caller presets.
  AddressResult ParseOnly(const std::string& address, int32_t gateType, int opCode,
                          int32_t plcOnEntry = kUntouched);

 private:
  enum class Via { kParse, kOperation };
  AddressResult Run(const std::string& address, int32_t gateType, int32_t blockLength,
                    int32_t plcOnEntry, Via via, int op);
  InstanceBlock block_;
  LogCapture log_;
};

}  // namespace toldex::testing
