#include "gates.h"

#include <cstdio>
#include <random>

#include "host_driver.h"
#include "qirpro.h"

namespace soak {
namespace {

constexpr uint8_t kDriverNumber = 1;
constexpr int32_t kTypeUnsigned16 = 0;
constexpr int32_t kTypeFloat = 3;
constexpr int32_t kTypeInteger32 = 4;
constexpr int32_t kTypeUnsigned32 = 5;
constexpr int32_t kTypeDigital = 6;

constexpr int kSamplesPerKind = 6;
constexpr int kBlockSamplesPerKind = 2;
constexpr uint16_t kPlainAreaEnd = 1000;  // wire addresses 0..999 hold the plain pattern
constexpr uint16_t kFloatRegion = plcsim::kFloatRegionStart;
constexpr uint16_t kIntegerRegion = plcsim::kIntegerRegionStart;
constexpr uint16_t kRegionSize = 1000;
constexpr int kBitBlock = 40;
constexpr int kRegisterBlock = 50;
constexpr int kByteBlock = 20;
constexpr int kPairBlock = 10;
constexpr int kScrutSamples = 2;
constexpr int kBitsPerByte = 8;
constexpr int kWordBits = 16;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kHighByteMask = 0xFF00;

// Offsets in an owned area (registers and coils alike).
constexpr int kOwnedSingles = 8;
constexpr int kOwnedBitRegisters = 4;  // singles 0..3 also have bit gates, 4..7 byte gates
constexpr int kOwnedBits[] = {0, 7, 8, 15};
constexpr uint16_t kOwnedRegisterBlockAt = 16;
constexpr int kOwnedRegisterBlock = 8;
constexpr uint16_t kOwnedIntegersAt = 32;
constexpr uint16_t kOwnedIntegerBlockAt = 48;
constexpr uint16_t kOwnedFloatsAt = 64;
constexpr uint16_t kOwnedFloatBlockAt = 80;
constexpr int kOwnedPairs = 8;
constexpr int kOwnedCoils = 16;
constexpr uint16_t kOwnedCoilBlockAt = 16;
constexpr int kOwnedCoilBlock = 32;

const char* const kCounterKeys[kDiagnosticKeys] = {"NUMCOMMS", "NUMSUCCESS", "NUMFAILS", "ERRORS", "COMMFAILS"};

const char* const kOpKindNames[] = {
    "read coil",          "read input",          "read register",       "read bit of register",
    "read byte",          "read float",          "read 32-bit integer", "read coil block",
    "read input block",   "read register block", "read byte block",     "read float block",
    "read integer block", "read _SCRUT",         "read diagnostic",     "read switch gate",
    "read ST_ONLINE",     "write coil",          "write coil block",    "write register",
    "write register block", "write bit of register", "write byte",      "write float",
    "write 32-bit integer", "write float block",   "write integer block", "write ST_ONLINE",
    "warm start",         "switch gate posted"};
static_assert(sizeof kOpKindNames / sizeof kOpKindNames[0] == static_cast<size_t>(OpKind::kCount));

char MemoryChar(plcsim::Area area, Element element) {
  if (element == Element::kLowByte) return 'L';
  if (element == Element::kHighByte) return 'H';
  const bool pair = element == Element::kPair;
  switch (area) {
    case plcsim::Area::kCoils: return '0';
    case plcsim::Area::kDiscreteInputs: return '1';
    case plcsim::Area::kInputRegisters: return pair ? '6' : '3';
    case plcsim::Area::kHoldingRegisters: return pair ? '8' : '4';
  }
  return '4';
}

// Modbus numbering: the text counts from 1.
std::string AddressText(int plc, char memory, uint16_t wire, int bitCharacter) {
  char text[32];
  if (bitCharacter >= 0) {
    std::snprintf(text, sizeof text, "%02d%c%04d%X", plc, memory, wire + 1, bitCharacter);
  } else {
    std::snprintf(text, sizeof text, "%02d%c%04d", plc, memory, wire + 1);
  }
  return text;
}

struct Builder {
  const PlantLayout& layout;
  Catalogue& catalogue;
  std::mt19937_64 random;
  std::map<std::tuple<int, int, int>, RegisterModel*> modelOf;

  Gate& Add(Gate gate) {
    catalogue.gates.push_back(std::make_unique<Gate>(std::move(gate)));
    return *catalogue.gates.back();
  }

  uint16_t Pick(uint16_t from, uint16_t span, bool even) {
    uint16_t wire = static_cast<uint16_t>(from + random() % span);
    if (even) wire &= static_cast<uint16_t>(~1u);
    return wire;
  }

  Gate Ordinary(int plc, plcsim::Area area, Element element, uint16_t wire, int count, bool floats) {
    Gate gate;
    gate.plc = plc;
    gate.hasBackup = layout.BackupOf(plc) != 0;
    gate.area = area;
    gate.element = element;
    gate.wire = wire;
    gate.count = count;
    gate.patternStation = plc;
    char memory = MemoryChar(area, element);
    if (element == Element::kPair && floats) memory = area == plcsim::Area::kInputRegisters ? '5' : '7';
    gate.text = AddressText(plc, memory, wire, -1);
    const bool block = count > 0;
    switch (element) {
      case Element::kBit:
        gate.gateType = kTypeDigital;
        if (area == plcsim::Area::kCoils) {
          gate.readKind = block ? OpKind::kReadCoilBlock : OpKind::kReadCoil;
          gate.writeKind = block ? OpKind::kWriteCoilBlock : OpKind::kWriteCoil;
        } else {
          gate.readKind = block ? OpKind::kReadInputBlock : OpKind::kReadInput;
        }
        break;
      case Element::kRegister:
        gate.gateType = kTypeUnsigned16;
        gate.readKind = block ? OpKind::kReadRegisterBlock : OpKind::kReadRegister;
        gate.writeKind = block ? OpKind::kWriteRegisterBlock : OpKind::kWriteRegister;
        break;
      case Element::kLowByte:
      case Element::kHighByte:
        gate.gateType = kTypeUnsigned16;
        gate.readKind = block ? OpKind::kReadByteBlock : OpKind::kReadByte;
        gate.writeKind = OpKind::kWriteByte;
        gate.readModifyWrite = !block;
        break;
      case Element::kRegisterBit:
        gate.gateType = kTypeDigital;
        gate.readKind = OpKind::kReadRegisterBit;
        gate.writeKind = OpKind::kWriteRegisterBit;
        gate.readModifyWrite = true;
        break;
      case Element::kPair:
        gate.gateType = floats ? kTypeFloat : kTypeInteger32;
        if (floats) {
          gate.readKind = block ? OpKind::kReadFloatBlock : OpKind::kReadFloat;
          gate.writeKind = block ? OpKind::kWriteFloatBlock : OpKind::kWriteFloat;
        } else {
          gate.readKind = block ? OpKind::kReadIntegerBlock : OpKind::kReadInteger;
          gate.writeKind = block ? OpKind::kWriteIntegerBlock : OpKind::kWriteInteger;
        }
        break;
    }
    return gate;
  }

  // A bit of a register (bit 0..15), or of the high byte (memory 'H', bit 0..7).
  Gate RegisterBit(int plc, plcsim::Area area, uint16_t wire, int registerBit, bool viaHighByte) {
    Gate gate = Ordinary(plc, area, Element::kRegisterBit, wire, 0, false);
    gate.bit = registerBit;
    const char memory = viaHighByte ? 'H' : MemoryChar(area, Element::kRegister);
    gate.text = AddressText(plc, memory, wire, viaHighByte ? registerBit - kBitsPerByte : registerBit);
    return gate;
  }

  RegisterModel* ModelFor(int plc, int space, int wire, uint32_t start) {
    auto key = std::make_tuple(plc, space, wire);
    auto found = modelOf.find(key);
    if (found != modelOf.end()) return found->second;
    catalogue.models.push_back(std::make_unique<RegisterModel>(start));
    RegisterModel* model = catalogue.models.back().get();
    modelOf.emplace(key, model);
    return model;
  }

  // The owned gate's models, one per element.
  void AttachModels(Gate& gate) {
    const int elements = gate.count > 0 ? gate.count : 1;
    for (int i = 0; i < elements; ++i) {
      switch (gate.element) {
        case Element::kBit: {
          const uint16_t wire = static_cast<uint16_t>(gate.wire + i);
          gate.models.push_back(ModelFor(gate.plc, 1, wire, plcsim::StartBit(plcsim::Area::kCoils, wire)));
          break;
        }
        case Element::kPair: {
          const uint16_t wire = static_cast<uint16_t>(gate.wire + 2 * i);
          gate.models.push_back(ModelFor(gate.plc, 2, wire, PatternValue(gate, i)));
          break;
        }
        default: {
          const uint16_t wire = static_cast<uint16_t>(gate.wire + (gate.element == Element::kRegisterBit ? 0 : i));
          gate.models.push_back(ModelFor(
              gate.plc, 0, wire, plcsim::StartRegister(plcsim::Area::kHoldingRegisters, wire, gate.plc)));
          break;
        }
      }
    }
  }

  void AddPattern(Gate gate) { catalogue.pattern.push_back(&Add(std::move(gate))); }

  void PatternGates(int plc) {
    using plcsim::Area;
    for (int s = 0; s < kSamplesPerKind; ++s) {
      AddPattern(Ordinary(plc, Area::kCoils, Element::kBit, Pick(0, kPlainAreaEnd, false), 0, false));
      AddPattern(Ordinary(plc, Area::kDiscreteInputs, Element::kBit, Pick(0, kPlainAreaEnd, false), 0, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kRegister, Pick(0, kPlainAreaEnd, false), 0, false));
      AddPattern(Ordinary(plc, Area::kInputRegisters, Element::kRegister, Pick(0, kPlainAreaEnd, false), 0, false));
      AddPattern(RegisterBit(plc, Area::kHoldingRegisters, Pick(0, kPlainAreaEnd, false), static_cast<int>(random() % kWordBits), false));
      AddPattern(RegisterBit(plc, Area::kInputRegisters, Pick(0, kPlainAreaEnd, false), static_cast<int>(random() % kWordBits), false));
      AddPattern(RegisterBit(plc, Area::kHoldingRegisters, Pick(0, kPlainAreaEnd, false), kBitsPerByte + static_cast<int>(random() % kBitsPerByte), true));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kLowByte, Pick(0, kPlainAreaEnd, false), 0, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kHighByte, Pick(0, kPlainAreaEnd, false), 0, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kPair, Pick(kFloatRegion, kRegionSize, true), 0, true));
      AddPattern(Ordinary(plc, Area::kInputRegisters, Element::kPair, Pick(kFloatRegion, kRegionSize, true), 0, true));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kPair, Pick(kIntegerRegion, kRegionSize, true), 0, false));
      AddPattern(Ordinary(plc, Area::kInputRegisters, Element::kPair, Pick(kIntegerRegion, kRegionSize, true), 0, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kPair, Pick(0, kPlainAreaEnd, true), 0, false));
    }
    for (int s = 0; s < kBlockSamplesPerKind; ++s) {
      AddPattern(Ordinary(plc, Area::kCoils, Element::kBit, Pick(0, kPlainAreaEnd - kBitBlock, false), kBitBlock, false));
      AddPattern(Ordinary(plc, Area::kDiscreteInputs, Element::kBit, Pick(0, kPlainAreaEnd - kBitBlock, false), kBitBlock, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kRegister, Pick(0, kPlainAreaEnd - kRegisterBlock, false), kRegisterBlock, false));
      AddPattern(Ordinary(plc, Area::kInputRegisters, Element::kRegister, Pick(0, kPlainAreaEnd - kRegisterBlock, false), kRegisterBlock, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kHighByte, Pick(0, kPlainAreaEnd - kByteBlock, false), kByteBlock, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kLowByte, Pick(0, kPlainAreaEnd - kByteBlock, false), kByteBlock, false));
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kPair, Pick(kFloatRegion, kRegionSize - 2 * kPairBlock, true), kPairBlock, true));
      AddPattern(Ordinary(plc, Area::kInputRegisters, Element::kPair, Pick(kIntegerRegion, kRegionSize - 2 * kPairBlock, true), kPairBlock, false));
    }
    if (layout.BackupOf(plc) == 0) {
      // The station's own number: a gate that shows where its value came from.
      AddPattern(Ordinary(plc, Area::kHoldingRegisters, Element::kRegister, plcsim::kStationNumberRegister, 0, false));
    }
  }

  void ScrutGates(int station) {
    for (int s = 0; s < kScrutSamples; ++s) {
      Gate gate = Ordinary(station, plcsim::Area::kInputRegisters, Element::kRegister, Pick(0, kPlainAreaEnd, false), 0, false);
      gate.text += "_SCRUT";
      gate.scrut = true;
      gate.hasBackup = false;
      gate.readKind = OpKind::kReadScrut;
      catalogue.scrut.push_back(&Add(std::move(gate)));
    }
  }

  void StationGates(int station) {
    char text[32];
    for (int key = 0; key < kDiagnosticKeys; ++key) {
      Gate gate;
      std::snprintf(text, sizeof text, "$%s:%02d", kCounterKeys[key], station);
      gate.text = text;
      gate.gateType = kTypeUnsigned32;
      gate.plc = station;
      gate.fromMemory = true;
      gate.check = Check::kDiagnostic;
      gate.diagnosticKey = key;
      gate.wide = true;
      gate.readKind = OpKind::kReadDiagnostic;
      Gate& added = Add(std::move(gate));
      catalogue.diagnostic.push_back(&added);
      catalogue.counterOf[{station, key}] = &added;
    }
    Gate online;
    std::snprintf(text, sizeof text, "$ST_ONLINE:%02d", station);
    online.text = text;
    online.gateType = kTypeDigital;
    online.plc = station;
    online.fromMemory = true;
    online.check = Check::kFlag;
    online.readKind = OpKind::kReadOnline;
    online.writeKind = OpKind::kWriteOnline;
    catalogue.online.push_back(&Add(std::move(online)));
  }

  void SwitchGate(int plc) {
    char text[32];
    std::snprintf(text, sizeof text, "%02dBACKUP", plc);
    Gate gate;
    gate.text = text;
    gate.gateType = kTypeDigital;
    gate.plc = plc;
    gate.fromMemory = true;
    gate.check = Check::kFlag;
    gate.readKind = OpKind::kReadSwitch;
    Gate& added = Add(std::move(gate));
    catalogue.switches.push_back(&added);
    catalogue.switchOfPlc[plc] = &added;
  }

  void AddOwned(int thread, Gate gate) {
    gate.check = Check::kOwned;
    Gate& added = Add(std::move(gate));
    AttachModels(added);
    catalogue.owned[thread].push_back(&added);
  }

  void OwnedGates(int thread, int plc) {
    using plcsim::Area;
    const uint16_t base = static_cast<uint16_t>(kOwnedBase + thread * kOwnedStride);
    for (int k = 0; k < kOwnedSingles; ++k) {
      const uint16_t wire = static_cast<uint16_t>(base + k);
      AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kRegister, wire, 0, false));
      if (k < kOwnedBitRegisters) {
        for (int bit : kOwnedBits) AddOwned(thread, RegisterBit(plc, Area::kHoldingRegisters, wire, bit, false));
        AddOwned(thread, RegisterBit(plc, Area::kHoldingRegisters, wire, kBitsPerByte + 2 + k, true));
      } else {
        AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kLowByte, wire, 0, false));
        AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kHighByte, wire, 0, false));
      }
    }
    AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kRegister,
                              static_cast<uint16_t>(base + kOwnedRegisterBlockAt), kOwnedRegisterBlock, false));
    for (int k = 0; k < kOwnedPairs; ++k) {
      AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kPair,
                                static_cast<uint16_t>(base + kOwnedIntegersAt + 2 * k), 0, false));
      AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kPair,
                                static_cast<uint16_t>(base + kOwnedFloatsAt + 2 * k), 0, true));
    }
    AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kPair,
                              static_cast<uint16_t>(base + kOwnedIntegerBlockAt), kOwnedPairs, false));
    AddOwned(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kPair,
                              static_cast<uint16_t>(base + kOwnedFloatBlockAt), kOwnedPairs, true));
    for (int k = 0; k < kOwnedCoils; ++k) {
      AddOwned(thread, Ordinary(plc, Area::kCoils, Element::kBit, static_cast<uint16_t>(base + k), 0, false));
    }
    AddOwned(thread, Ordinary(plc, Area::kCoils, Element::kBit, static_cast<uint16_t>(base + kOwnedCoilBlockAt),
                              kOwnedCoilBlock, false));
  }

  void AddScratch(int thread, Gate gate) {
    gate.check = Check::kNone;
    catalogue.scratch[thread].push_back(&Add(std::move(gate)));
  }

  void ScratchGates(int thread, int plc) {
    using plcsim::Area;
    const uint16_t base = static_cast<uint16_t>(kScratchBase + thread * kOwnedStride);
    AddScratch(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kRegister, base, 0, false));
    AddScratch(thread, RegisterBit(plc, Area::kHoldingRegisters, static_cast<uint16_t>(base + 1), 3, false));
    AddScratch(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kLowByte, static_cast<uint16_t>(base + 2), 0, false));
    AddScratch(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kPair, static_cast<uint16_t>(base + 4), 0, false));
    AddScratch(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kPair, static_cast<uint16_t>(base + 6), 0, true));
    AddScratch(thread, Ordinary(plc, Area::kHoldingRegisters, Element::kRegister, static_cast<uint16_t>(base + 8), 8, false));
    AddScratch(thread, Ordinary(plc, Area::kCoils, Element::kBit, base, 0, false));
    AddScratch(thread, Ordinary(plc, Area::kCoils, Element::kBit, static_cast<uint16_t>(base + 8), 16, false));
  }
};

bool ParseGate(Gate& gate, HostDriver& driver, std::string& reason) {
  constexpr int32_t kWideBits = 32;
  gate.gateId = QirCtlDefineGate(kDriverNumber, gate.text.c_str());
  gate.parsed = {};
  gate.parsed.address = gate.text.c_str();
  gate.parsed.gateType = gate.gateType;
  gate.parsed.blockLength = gate.count;
  const int32_t status = gate.count > 0 ? driver.ParseBlock(gate.parsed) : driver.ParseSingle(gate.parsed);
  if (status != toldex::kStatusOk) {
    reason = "the driver refused the gate " + gate.text + " (status " + std::to_string(status) + ")";
    return false;
  }
  if (gate.parsed.bitWidth == kWideBits) gate.wide = true;
  return true;
}

}  // namespace

const char* OpKindName(OpKind kind) { return kOpKindNames[static_cast<size_t>(kind)]; }

bool BuildCatalogue(const PlantLayout& layout, int threads, uint64_t seed, HostDriver& driver,
                    Catalogue& catalogue, std::string& reason) {
  Builder builder{layout, catalogue, std::mt19937_64(seed), {}};
  catalogue.owned.resize(static_cast<size_t>(threads));
  catalogue.scratch.resize(static_cast<size_t>(threads));
  for (int plc : layout.Plcs()) builder.PatternGates(plc);
  for (size_t i = 0; i < layout.masters.size(); ++i) {
    builder.ScrutGates(layout.masters[i]);
    builder.ScrutGates(layout.backups[i]);
    builder.SwitchGate(layout.masters[i]);
  }
  for (int station : layout.Stations()) builder.StationGates(station);
  for (int thread = 0; thread < threads; ++thread) {
    for (int plc : layout.singles) builder.OwnedGates(thread, plc);
    for (int plc : layout.masters) builder.ScratchGates(thread, plc);
  }
  for (auto& gate : catalogue.gates) {
    if (!ParseGate(*gate, driver, reason)) return false;
  }
  return true;
}

int ElementCount(const Gate& gate) { return gate.count > 0 ? gate.count : 1; }

size_t ValueBufferSize(const Gate& gate) {
  constexpr size_t kSlot = 4;
  if (gate.count == 0) return kSlot;
  const size_t count = static_cast<size_t>(gate.count);
  switch (gate.parsed.bitWidth) {
    case 1: return (count + kBitsPerByte - 1) / kBitsPerByte;
    case 32: return 4 * count;
    default: return 2 * count;
  }
}

uint32_t ElementValue(const Gate& gate, const uint8_t* buffer, int index) {
  if (gate.count == 0) {
    if (gate.wide) {
      return buffer[0] | (buffer[1] << 8) | (buffer[2] << 16) | (static_cast<uint32_t>(buffer[3]) << 24);
    }
    return buffer[2] | (buffer[3] << 8);
  }
  const size_t i = static_cast<size_t>(index);
  switch (gate.parsed.bitWidth) {
    case 1: return (buffer[i / kBitsPerByte] >> (i % kBitsPerByte)) & 1u;
    case 32: {
      const uint8_t* p = buffer + 4 * i;
      return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }
    default: return buffer[2 * i] | (buffer[2 * i + 1] << 8);
  }
}

void PutElementValue(const Gate& gate, uint8_t* buffer, int index, uint32_t value) {
  if (gate.count == 0) {
    if (gate.wide) {
      for (int b = 0; b < 4; ++b) buffer[b] = static_cast<uint8_t>(value >> (8 * b));
    } else {
      buffer[2] = static_cast<uint8_t>(value);
      buffer[3] = static_cast<uint8_t>(value >> 8);
    }
    return;
  }
  const size_t i = static_cast<size_t>(index);
  switch (gate.parsed.bitWidth) {
    case 1: {
      const uint8_t mask = static_cast<uint8_t>(1u << (i % kBitsPerByte));
      buffer[i / kBitsPerByte] = static_cast<uint8_t>((buffer[i / kBitsPerByte] & ~mask) | ((value & 1u) ? mask : 0));
      break;
    }
    case 32:
      for (int b = 0; b < 4; ++b) buffer[4 * i + b] = static_cast<uint8_t>(value >> (8 * b));
      break;
    default:
      buffer[2 * i] = static_cast<uint8_t>(value);
      buffer[2 * i + 1] = static_cast<uint8_t>(value >> 8);
      break;
  }
}

uint32_t PatternValue(const Gate& gate, int index) {
  using plcsim::StartRegister;
  const int station = gate.patternStation;
  switch (gate.element) {
    case Element::kBit: return plcsim::StartBit(gate.area, static_cast<uint16_t>(gate.wire + index)) ? 1 : 0;
    case Element::kRegister: return StartRegister(gate.area, static_cast<uint16_t>(gate.wire + index), station);
    case Element::kRegisterBit: return PartOfRegister(gate, StartRegister(gate.area, gate.wire, station));
    case Element::kLowByte:
    case Element::kHighByte:
      return PartOfRegister(gate, StartRegister(gate.area, static_cast<uint16_t>(gate.wire + index), station));
    case Element::kPair: {
      const uint16_t first = static_cast<uint16_t>(gate.wire + 2 * index);
      return plcsim::JoinWords(StartRegister(gate.area, first, station),
                               StartRegister(gate.area, static_cast<uint16_t>(first + 1), station));
    }
  }
  return 0;
}

uint32_t PartOfRegister(const Gate& gate, uint32_t registerValue) {
  switch (gate.element) {
    case Element::kRegisterBit: return (registerValue >> gate.bit) & 1u;
    case Element::kLowByte: return registerValue & kByteMask;
    case Element::kHighByte: return (registerValue >> kBitsPerByte) & kByteMask;
    default: return registerValue;
  }
}

uint32_t RegisterWithPart(const Gate& gate, uint32_t registerValue, uint32_t value) {
  switch (gate.element) {
    case Element::kRegisterBit:
      return (registerValue & ~(1u << gate.bit)) | ((value & 1u) << gate.bit);
    case Element::kLowByte: return (registerValue & kHighByteMask) | (value & kByteMask);
    case Element::kHighByte: return ((value & kByteMask) << kBitsPerByte) | (registerValue & kByteMask);
    default: return value;
  }
}

toldex::GateIo MakeGateIo(Gate& gate, uint8_t* buffer) {
  toldex::GateIo io{};
  io.address = gate.text.c_str();
  io.plcNumber = gate.parsed.plcNumber;
  io.memoryType = gate.parsed.memoryType;
  io.registerAddress = gate.parsed.registerAddress;
  io.bitNumber = gate.parsed.bitNumber;
  io.bitWidth = gate.parsed.bitWidth;
  io.elementCount = gate.count > 0 ? gate.count : 1;
  io.gateId = gate.gateId;
  io.value = buffer;
  return io;
}

}  // namespace soak
