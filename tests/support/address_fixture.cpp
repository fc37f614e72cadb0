#include "support/address_fixture.h"

#include "addressing/gate_address.h"
#include "driver/instance.h"

namespace toldex::testing {

AddressInstance::AddressInstance(const AddressConfig& config) {
  InitRuntimeState(record());
  Configure(config);
}

void AddressInstance::Configure(const AddressConfig& config) {
  record().protocol = config.protocol;
  record().base = config.base;
  record().options = config.options;
  record().parityAddrChecking = config.parityAddrChecking;
}

AddressResult AddressInstance::Single(const std::string& address, int32_t gateType) {
  return Run(address, gateType, kUntouched, kUntouched, Via::kOperation, kOpSingleAddressParser);
}

AddressResult AddressInstance::Block(const std::string& address, int32_t blockLength,
                                     int32_t gateType) {
  return Run(address, gateType, blockLength, kUntouched, Via::kOperation, kOpBlockAddressParser);
}

AddressResult AddressInstance::ParseOnly(const std::string& address, int32_t gateType, int opCode,
                                         int32_t plcOnEntry) {
  return Run(address, gateType, kUntouched, plcOnEntry, Via::kParse, opCode);
}

AddressResult AddressInstance::Run(const std::string& address, int32_t gateType,
                                   int32_t blockLength, int32_t plcOnEntry, Via via, int op) {
  AddressResult result;
  GateAddress& gate = result.gate;
  gate.address = address.c_str();
  gate.unused4 = kUntouched;
  gate.gateType = gateType;
  gate.blockLength = blockLength;
  gate.plcNumber = plcOnEntry;
  gate.memoryType = kUntouched;
  gate.registerAddress = kUntouched;
  gate.bitNumber = kUntouched;
  gate.bitWidth = kUntouched;
  log_.Clear();
  if (via == Via::kParse) {
    result.status = Parse(record(), gate, op);
  } else {
    result.status = block_.Call(op, &gate);
  }
  gate.address = nullptr;  // the text dies with the call
  for (const LogLine& line : log_.Lines()) {
    result.log.push_back("[" + std::to_string(line.level) + "] " + line.text);
  }
  return result;
}

}  // namespace toldex::testing
