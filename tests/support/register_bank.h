// A PLC's memory behind the scripted peer: coils, discrete inputs, input and
// holding registers (65536 of each, all 0 at first) that read requests read
// and write requests change, as a well-behaved Modbus server does. A read or
// write that runs past the end of memory gets exception 2.
//
//   RegisterBank bank;
//   bank.SetHolding(9, 0x00F0);
//   peer.SetResponder(bank.AsResponder());
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "support/scripted_peer.h"

namespace toldex::testing {

class RegisterBank {
 public:
  RegisterBank();

  // Answers every request from and into this bank; the bank must outlive the peer's use of it.
  Responder AsResponder();
  // The reply to one request frame (MBAP header and PDU).
  Bytes Answer(const Bytes& request);

  uint16_t Holding(uint16_t address) const;
  void SetHolding(uint16_t address, uint16_t value);
  uint16_t Input(uint16_t address) const;
  void SetInput(uint16_t address, uint16_t value);
  bool Coil(uint16_t address) const;
  void SetCoil(uint16_t address, bool on);
  bool Discrete(uint16_t address) const;
  void SetDiscrete(uint16_t address, bool on);

 private:
  mutable std::mutex mutex_;
  std::vector<uint16_t> holding_;
  std::vector<uint16_t> input_;
  std::vector<uint8_t> coils_;
  std::vector<uint8_t> discrete_;
};

}  // namespace toldex::testing
