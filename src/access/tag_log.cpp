#include "access/tag_log.h"

#include "driver/log.h"

namespace toldex {

TagText CopyTagText(const char* address) {
  TagText tag{};
  if (address == nullptr) return tag;
  for (int i = 0; i < kAddressTextSize - 1 && address[i] != '\0'; ++i) tag.text[i] = address[i];
  return tag;
}

int BlockSizeOf(const GateIo& gate) { return static_cast<uint16_t>(gate.elementCount); }

int32_t RefuseGate(const char* operation, const char* tagText, const GateIo& gate) {
  LOG(kLogEvent,
      "TOLDEX: %s() refused tag '%s': plc %d, memory type %d, bit %d, width %d, Blocksize %d "
      "out of range",
      operation, tagText, gate.plcNumber, gate.memoryType, gate.bitNumber, gate.bitWidth,
      gate.elementCount);
  return kStatusRequestFailed;
}

}  // namespace toldex
