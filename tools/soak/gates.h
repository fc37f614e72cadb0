// The host's gates: every kind the driver serves, defined in the host library,
// parsed once by the driver, and what each one must show when read.
//
// Register layout, so that every value read with status 0 can be judged:
// - read-only areas (wire addresses below 3000, and 9000) keep the simulator's
//   start pattern, a fixed function of the address that is the same on a
//   master and its backup; nobody writes them;
// - on each PLC without a backup, host thread t owns the coils and holding
//   registers from kOwnedBase + t * kOwnedStride on: only it writes and reads
//   them, so it knows what they may hold (RegisterModel);
// - on the masters, thread t writes scratch registers from kScratchBase +
//   t * kOwnedStride on without checking them (a master and its backup hold
//   different values there once writes have gone to both).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/host_records.h"
#include "plant.h"
#include "plcsim/start_pattern.h"
#include "register_model.h"

namespace soak {

class HostDriver;

enum class OpKind : uint8_t {
  kReadCoil,
  kReadInput,
  kReadRegister,
  kReadRegisterBit,
  kReadByte,
  kReadFloat,
  kReadInteger,
  kReadCoilBlock,
  kReadInputBlock,
  kReadRegisterBlock,
  kReadByteBlock,
  kReadFloatBlock,
  kReadIntegerBlock,
  kReadScrut,
  kReadDiagnostic,
  kReadSwitch,
  kReadOnline,
  kWriteCoil,
  kWriteCoilBlock,
  kWriteRegister,
  kWriteRegisterBlock,
  kWriteRegisterBit,
  kWriteByte,
  kWriteFloat,
  kWriteInteger,
  kWriteFloatBlock,
  kWriteIntegerBlock,
  kWriteOnline,
  kWarmStart,
  kSwitchPost,
  kCount
};
const char* OpKindName(OpKind kind);

// What one element of a gate is, in PLC terms.
enum class Element : uint8_t { kBit, kRegister, kRegisterBit, kLowByte, kHighByte, kPair };

enum class Check : uint8_t {
  kPattern,     // the start pattern of its address
  kOwned,       // the owner thread's RegisterModel of each element
  kDiagnostic,  // a counter: never smaller than before
  kFlag,        // a switch gate or ST_ONLINE: 0 or 1
  kNone,        // scratch registers: written, not judged
};

struct Gate {
  std::string text;
  int32_t gateType = 0;
  int32_t count = 0;  // 0: a single gate; N: a block of N elements
  int32_t gateId = 0;
  toldex::GateAddress parsed{};

  int plc = 0;            // the PLC (for a _SCRUT gate the station itself)
  bool hasBackup = false; // served by a master/backup pair: two passes
  bool scrut = false;
  bool fromMemory = false;  // answered by the driver without traffic
  Element element = Element::kRegister;
  plcsim::Area area = plcsim::Area::kHoldingRegisters;
  uint16_t wire = 0;  // the first wire address (of the register, for bits in registers)
  int bit = 0;        // the bit in the 16-bit register (high-byte bits included)
  Check check = Check::kPattern;
  int patternStation = 0;  // what register 9000 holds
  int diagnosticKey = 0;   // index of the counter, for kDiagnostic
  bool wide = false;       // a single 32-bit value (bytes 0 to 3 of the slot)
  bool readModifyWrite = false;
  std::vector<RegisterModel*> models;  // kOwned: one per element
  OpKind readKind = OpKind::kReadRegister;
  OpKind writeKind = OpKind::kWriteRegister;
};

constexpr uint16_t kOwnedBase = 4000;
constexpr uint16_t kScratchBase = 6000;
constexpr uint16_t kOwnedStride = 120;
constexpr int kDiagnosticKeys = 5;  // the five counters, without ST_ONLINE

struct Catalogue {
  std::vector<std::unique_ptr<Gate>> gates;
  std::vector<Gate*> pattern;      // read-only, every PLC
  std::vector<Gate*> scrut;        // _SCRUT gates of every station of a pair
  std::vector<Gate*> diagnostic;   // counters of every station
  std::vector<Gate*> online;       // ST_ONLINE of every station
  std::vector<Gate*> switches;     // switch gates of the masters
  std::vector<std::vector<Gate*>> owned;    // per thread
  std::vector<std::vector<Gate*>> scratch;  // per thread
  std::map<int, Gate*> switchOfPlc;
  // Diagnostic gates by station and key (0..4), for the final check.
  std::map<std::pair<int, int>, Gate*> counterOf;
  std::vector<std::unique_ptr<RegisterModel>> models;
};

// Builds every gate, defines it in the host library and parses it through the
// driver; false with a reason when the driver refuses one.
bool BuildCatalogue(const PlantLayout& layout, int threads, uint64_t seed, HostDriver& driver,
                    Catalogue& catalogue, std::string& reason);

// The values of a gate's value buffer after a read, one per element.
uint32_t ElementValue(const Gate& gate, const uint8_t* buffer, int index);
// Puts a value of one element into a write buffer.
void PutElementValue(const Gate& gate, uint8_t* buffer, int index, uint32_t value);
// The buffer size a gate needs.
size_t ValueBufferSize(const Gate& gate);
int ElementCount(const Gate& gate);
// What element `index` of a kPattern gate shows.
uint32_t PatternValue(const Gate& gate, int index);
// What a part element shows of a whole register value.
uint32_t PartOfRegister(const Gate& gate, uint32_t registerValue);
// The register after writing `value` to the part.
uint32_t RegisterWithPart(const Gate& gate, uint32_t registerValue, uint32_t value);

toldex::GateIo MakeGateIo(Gate& gate, uint8_t* buffer);

}  // namespace soak
