// What the host threads did and found, counted as they go (any thread).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gates.h"

namespace soak {

struct KindTally {
  std::atomic<uint64_t> calls{0};
  std::array<std::atomic<uint64_t>, 3> byStatus{};  // 0, 1, 2
  std::atomic<uint64_t> otherStatus{0};
  std::atomic<uint64_t> longestMs{0};
};

// The host's side of the exchange counters: calls that reached a PLC, by status.
struct TrafficTally {
  std::atomic<uint64_t> reads[3]{};             // by status
  std::atomic<uint64_t> plainWrites[3]{};       // writes that are no read-modify-write
  std::atomic<uint64_t> pairPlainWrites{0};     // of those, on a PLC with a backup
  std::atomic<uint64_t> modifyWrites[3]{};      // bit and byte writes
  std::atomic<uint64_t> pairModifyWrites{0};
};

class Tally {
 public:
  void Count(OpKind kind, int32_t status, uint64_t durationMs);
  void CountTraffic(const Gate& gate, bool write, int32_t status);
  // A value that is not what the PLC holds there.
  void WrongValue(const std::string& what);
  // A call that took longer than its worst case.
  void OverLong(const std::string& what, double ratio);
  // How close a call came to its worst case (duration / bound).
  void Closeness(double ratio);
  void Problem(const std::string& what);  // any other failed check

  const KindTally& Of(OpKind kind) const { return kinds_[static_cast<size_t>(kind)]; }
  const TrafficTally& traffic() const { return traffic_; }
  uint64_t wrongValues() const { return wrongValues_; }
  uint64_t overLong() const { return overLong_; }
  uint64_t problems() const { return problems_; }
  uint64_t valuesChecked() const { return valuesChecked_; }
  void CountChecked(uint64_t values) { valuesChecked_ += values; }
  double highestRatio() const;
  std::vector<std::string> Notes() const;

 private:
  void Note(const std::string& text);

  std::array<KindTally, static_cast<size_t>(OpKind::kCount)> kinds_{};
  TrafficTally traffic_;
  std::atomic<uint64_t> wrongValues_{0};
  std::atomic<uint64_t> overLong_{0};
  std::atomic<uint64_t> problems_{0};
  std::atomic<uint64_t> valuesChecked_{0};
  mutable std::mutex mutex_;
  double highestRatio_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace soak
