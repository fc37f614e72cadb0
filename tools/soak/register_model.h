// What one PLC register (or coil, or 32-bit pair) that a single host thread
// owns may hold, as far as the host can know it.
//
// A write that the driver reports as failed may still have been carried out
// by the PLC, and a PLC that fell behind may carry it out later still, after a
// newer write succeeded on another connection. So the model keeps the values
// it may hold now, and, for a grace time after their failure, the values of
// failed writes ("ghosts"), which may turn up at any moment until then. A read
// is right when it shows one of these; a value of any other register or gate
// is never among them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

namespace soak {

using Clock = std::chrono::steady_clock;

class RegisterModel {
 public:
  explicit RegisterModel(uint32_t startValue) : current_{startValue} {}

  // A write of the whole value, sent at `sentAt`, ended at `now`.
  void Write(uint32_t value, bool succeeded, Clock::time_point sentAt, Clock::time_point now);
  // A read-modify-write: the driver read some value c the register held and
  // wrote change(c).
  void Modify(const std::function<uint32_t(uint32_t)>& change, bool succeeded, Clock::time_point sentAt,
              Clock::time_point now);
  // A read showed `value`: true when it is one the register may hold; the
  // model then knows it holds that value.
  bool ReadWhole(uint32_t value);
  // A read of a part (a bit, a byte): true when some value it may hold shows it.
  bool ReadPart(const std::function<bool(uint32_t)>& shows) const;

  static void SetGrace(Clock::duration grace) { grace_ = grace; }

 private:
  struct Ghost {
    uint32_t value;
    Clock::time_point failedAt;
  };
  std::vector<uint32_t> Candidates() const;
  void ForgetOldGhosts(Clock::time_point sentAt);
  static void AddUnique(std::vector<uint32_t>& values, uint32_t value);

  std::vector<uint32_t> current_;
  std::vector<Ghost> ghosts_;
  static Clock::duration grace_;
};

}  // namespace soak
