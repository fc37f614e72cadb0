#include "tally.h"

namespace soak {
namespace {

constexpr size_t kMaxNotes = 40;
constexpr int kStatusSlots = 3;

}  // namespace

void Tally::Count(OpKind kind, int32_t status, uint64_t durationMs) {
  KindTally& tally = kinds_[static_cast<size_t>(kind)];
  tally.calls.fetch_add(1, std::memory_order_relaxed);
  if (status >= 0 && status < kStatusSlots) {
    tally.byStatus[static_cast<size_t>(status)].fetch_add(1, std::memory_order_relaxed);
  } else {
    tally.otherStatus.fetch_add(1, std::memory_order_relaxed);
  }
  uint64_t longest = tally.longestMs.load(std::memory_order_relaxed);
  while (durationMs > longest && !tally.longestMs.compare_exchange_weak(longest, durationMs)) {
  }
}

void Tally::CountTraffic(const Gate& gate, bool write, int32_t status) {
  if (gate.fromMemory || status < 0 || status >= kStatusSlots) return;
  const size_t s = static_cast<size_t>(status);
  if (!write) {
    traffic_.reads[s].fetch_add(1, std::memory_order_relaxed);
  } else if (gate.readModifyWrite) {
    traffic_.modifyWrites[s].fetch_add(1, std::memory_order_relaxed);
    if (gate.hasBackup) traffic_.pairModifyWrites.fetch_add(1, std::memory_order_relaxed);
  } else {
    traffic_.plainWrites[s].fetch_add(1, std::memory_order_relaxed);
    if (gate.hasBackup) traffic_.pairPlainWrites.fetch_add(1, std::memory_order_relaxed);
  }
}

void Tally::Note(const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (notes_.size() < kMaxNotes) notes_.push_back(text);
}

void Tally::WrongValue(const std::string& what) {
  wrongValues_.fetch_add(1);
  Note("wrong value: " + what);
}

void Tally::OverLong(const std::string& what, double ratio) {
  overLong_.fetch_add(1);
  Closeness(ratio);
  Note("over-long call: " + what);
}

void Tally::Closeness(double ratio) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (ratio > highestRatio_) highestRatio_ = ratio;
}

void Tally::Problem(const std::string& what) {
  problems_.fetch_add(1);
  Note(what);
}

double Tally::highestRatio() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return highestRatio_;
}

std::vector<std::string> Tally::Notes() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return notes_;
}

}  // namespace soak
