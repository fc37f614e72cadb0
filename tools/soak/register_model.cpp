#include "register_model.h"

#include <algorithm>

namespace soak {

Clock::duration RegisterModel::grace_ = std::chrono::seconds(10);

void RegisterModel::AddUnique(std::vector<uint32_t>& values, uint32_t value) {
  if (std::find(values.begin(), values.end(), value) == values.end()) values.push_back(value);
}

std::vector<uint32_t> RegisterModel::Candidates() const {
  std::vector<uint32_t> values = current_;
  for (const Ghost& ghost : ghosts_) AddUnique(values, ghost.value);
  return values;
}

void RegisterModel::ForgetOldGhosts(Clock::time_point sentAt) {
  // A ghost that failed a whole grace time before a write that succeeded was
  // carried out (if ever) before that write, which overwrote it.
  std::erase_if(ghosts_, [&](const Ghost& ghost) { return ghost.failedAt + grace_ < sentAt; });
}

void RegisterModel::Write(uint32_t value, bool succeeded, Clock::time_point sentAt, Clock::time_point now) {
  if (succeeded) {
    current_ = {value};
    ForgetOldGhosts(sentAt);
    return;
  }
  AddUnique(current_, value);
  ghosts_.push_back({value, now});
}

void RegisterModel::Modify(const std::function<uint32_t(uint32_t)>& change, bool succeeded,
                           Clock::time_point sentAt, Clock::time_point now) {
  std::vector<uint32_t> changed;
  for (uint32_t value : Candidates()) AddUnique(changed, change(value));
  if (succeeded) {
    current_ = changed;
    ForgetOldGhosts(sentAt);
    return;
  }
  for (uint32_t value : changed) {
    AddUnique(current_, value);
    ghosts_.push_back({value, now});
  }
}

bool RegisterModel::ReadWhole(uint32_t value) {
  const std::vector<uint32_t> values = Candidates();
  if (std::find(values.begin(), values.end(), value) == values.end()) return false;
  current_ = {value};
  return true;
}

bool RegisterModel::ReadPart(const std::function<bool(uint32_t)>& shows) const {
  const std::vector<uint32_t> values = Candidates();
  return std::any_of(values.begin(), values.end(), shows);
}

}  // namespace soak
