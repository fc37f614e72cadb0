// Diagnostic gates: '$', a key, ':' and a station number in two digits
// (hexadecimal in base 'H'), as "$NUMCOMMS:07". They name a station's
// counters and online state, which the driver serves from memory.
#include "addressing/gate_address.h"
#include "driver/log.h"
#include "driver/text_scan.h"

namespace toldex {
namespace {

struct DiagnosticKey {
  const char* decimalForm;
  const char* hexForm;
  int32_t memoryType;
  int32_t gateType;  // the one host gate type it takes
};

// Tried in this order; the first whose number can be read decides.
constexpr DiagnosticKey kDiagnosticKeys[] = {
    {"NUMCOMMS:%02d", "NUMCOMMS:%02x", kMemNumComms, kGateTypeUnsigned32},
    {"NUMSUCCESS:%02d", "NUMSUCCESS:%02x", kMemNumSuccess, kGateTypeUnsigned32},
    {"NUMFAILS:%02d", "NUMFAILS:%02x", kMemNumFails, kGateTypeUnsigned32},
    {"ERRORS:%02d", "ERRORS:%02x", kMemErrors, kGateTypeUnsigned32},
    {"COMMFAILS:%02d", "COMMFAILS:%02x", kMemCommFails, kGateTypeUnsigned32},
    {"ST_ONLINE:%02d", "ST_ONLINE:%02x", kMemStOnline, kGateTypeDigital},
};

}  // namespace

int ParseDiagnosticGate(const InstanceRecord& instance, GateAddress& gate, const char* text) {
  const bool hexadecimal = instance.base == 'H';
  for (const DiagnosticKey& key : kDiagnosticKeys) {
    int32_t station = 0;
    // Whatever follows the number is ignored.
    if (ScanText(text + 1, hexadecimal ? key.hexForm : key.decimalForm, {&station}) != 1) continue;
    gate.plcNumber = station;
    if (station < 0) continue;
    if (gate.gateType != key.gateType) {
      if (key.gateType == kGateTypeDigital) {
        LOG(kLogEvent, "TOLDEX: Parse failed. Tag '%s'. Type must be 'Digital'", text);
      } else {
        LOG(kLogEvent, "TOLDEX: Parse failed. Tag '%s'. Type must be 'Unsigned 32'", text);
      }
      return kStatusRequestFailed;
    }
    gate.memoryType = key.memoryType;
    gate.plcNumber += kDiagnosticMarker;
    return kStatusOk;
  }
  LOG(kLogEvent, "TOLDEX: Parse failed. Invalid Tag address '%s'", text);
  return kStatusRequestFailed;
}

}  // namespace toldex
