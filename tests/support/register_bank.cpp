#include "support/register_bank.h"

namespace toldex::testing {
namespace {

constexpr size_t kMemorySize = 65536;
constexpr size_t kUnit = 6;
constexpr size_t kFunction = 7;
constexpr size_t kPduData = 8;
constexpr uint8_t kExceptionBit = 0x80;
constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;

uint16_t WordAt(const Bytes& bytes, size_t at) {
  return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

void AppendWord(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value >> 8));
  bytes.push_back(static_cast<uint8_t>(value));
}

// Transaction id, protocol 0, length, unit and function of the request, then the PDU data.
Bytes Frame(const Bytes& request, uint8_t function, const Bytes& data) {
  Bytes reply{request[0], request[1], 0, 0};
  AppendWord(reply, static_cast<uint16_t>(2 + data.size()));
  reply.push_back(request[kUnit]);
  reply.push_back(function);
  reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

Bytes Exception(const Bytes& request, uint8_t code) {
  return Frame(request, static_cast<uint8_t>(request[kFunction] | kExceptionBit), Bytes{code});
}

bool Fits(uint32_t start, uint32_t quantity) { return quantity >= 1 && start + quantity <= kMemorySize; }

}  // namespace

RegisterBank::RegisterBank()
    : holding_(kMemorySize, 0), input_(kMemorySize, 0), coils_(kMemorySize, 0), discrete_(kMemorySize, 0) {}

Responder RegisterBank::AsResponder() {
  return [this](const Bytes& request) { return PeerAction::Reply(Answer(request)); };
}

Bytes RegisterBank::Answer(const Bytes& request) {
  if (request.size() < kPduData + 4) return {};
  std::lock_guard<std::mutex> guard(mutex_);
  const uint8_t function = request[kFunction];
  const uint16_t start = WordAt(request, kPduData);
  const uint16_t second = WordAt(request, kPduData + 2);  // quantity or value
  Bytes data;
  switch (function) {
    case 1:
    case 2: {
      if (!Fits(start, second)) return Exception(request, kIllegalAddress);
      const std::vector<uint8_t>& bits = function == 1 ? coils_ : discrete_;
      data.push_back(static_cast<uint8_t>((second + 7) / 8));
      data.resize(1 + (second + 7) / 8, 0);
      for (uint32_t i = 0; i < second; ++i) {
        if (bits[start + i]) data[1 + i / 8] |= static_cast<uint8_t>(1 << (i % 8));
      }
      return Frame(request, function, data);
    }
    case 3:
    case 4: {
      if (!Fits(start, second)) return Exception(request, kIllegalAddress);
      const std::vector<uint16_t>& registers = function == 3 ? holding_ : input_;
      data.push_back(static_cast<uint8_t>(2 * second));
      for (uint32_t i = 0; i < second; ++i) AppendWord(data, registers[start + i]);
      return Frame(request, function, data);
    }
    case 5:
      coils_[start] = second == 0xFF00 ? 1 : 0;
      break;
    case 6:
      holding_[start] = second;
      break;
    case 15: {
      if (!Fits(start, second) || request.size() < kPduData + 5 + (second + 7) / 8u) {
        return Exception(request, kIllegalAddress);
      }
      for (uint32_t i = 0; i < second; ++i) {
        coils_[start + i] = (request[kPduData + 5 + i / 8] >> (i % 8)) & 1;
      }
      break;
    }
    case 16: {
      if (!Fits(start, second) || request.size() < kPduData + 5 + 2u * second) {
        return Exception(request, kIllegalAddress);
      }
      for (uint32_t i = 0; i < second; ++i) holding_[start + i] = WordAt(request, kPduData + 5 + 2 * i);
      break;
    }
    default:
      return Exception(request, kIllegalFunction);
  }
  AppendWord(data, start);
  AppendWord(data, second);
  return Frame(request, function, data);
}

uint16_t RegisterBank::Holding(uint16_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return holding_[address];
}
void RegisterBank::SetHolding(uint16_t address, uint16_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  holding_[address] = value;
}
uint16_t RegisterBank::Input(uint16_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return input_[address];
}
void RegisterBank::SetInput(uint16_t address, uint16_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  input_[address] = value;
}
bool RegisterBank::Coil(uint16_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return coils_[address] != 0;
}
void RegisterBank::SetCoil(uint16_t address, bool on) {
  std::lock_guard<std::mutex> guard(mutex_);
  coils_[address] = on ? 1 : 0;
}
bool RegisterBank::Discrete(uint16_t address) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return discrete_[address] != 0;
}
void RegisterBank::SetDiscrete(uint16_t address, bool on) {
  std::lock_guard<std::mutex> guard(mutex_);
  discrete_[address] = on ? 1 : 0;
}

}  // namespace toldex::testing
