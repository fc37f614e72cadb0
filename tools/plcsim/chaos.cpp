#include "plcsim/chaos.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <sstream>

namespace plcsim {
namespace {

constexpr const char* kFaultNames[kFaultKindCount] = {
    "none",      "late",       "reset",     "close-mid-frame", "garbage", "wrong-tid", "wrong-unit",
    "wrong-function", "exception", "short",   "long",            "split",   "duplicate", "restart"};

constexpr int kTidHighOffset = 0;
constexpr int kTidLowOffset = 1;
constexpr int kLengthHighOffset = 4;
constexpr int kLengthLowOffset = 5;
constexpr int kUnitOffset = 6;
constexpr int kFunctionOffset = 7;
constexpr uint8_t kExceptionBit = 0x80;
constexpr int kExceptionReplyLength = 9;
constexpr uint8_t kExceptionPduLength = 3;  // unit, function, code
constexpr int kByteValues = 256;

// Function codes a Modbus client of this kind uses: a wrong function is one of them.
constexpr uint8_t kPlausibleFunctions[] = {1, 2, 3, 4, 5, 6, 15, 16};
// The standard exception codes and a few that no device should send.
constexpr uint8_t kExceptionCodes[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11};

constexpr uint64_t kStationSalt = 0x5157A7104E5EED01ull;
constexpr uint64_t kSequenceSalt = 0x2545F4914F6CDD1Dull;
constexpr int kUnitIntervalBits = 53;

uint64_t Mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// SplitMix64: small, fast and good enough to pick faults and their details.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() { return Mix64(state_ += 0x9E3779B97F4A7C15ull); }
  double Unit() { return static_cast<double>(Next() >> (64 - kUnitIntervalBits)) / static_cast<double>(1ull << kUnitIntervalBits); }
  // A number from lowest to highest, both included.
  int Between(int lowest, int highest) {
    if (highest <= lowest) return lowest;
    return lowest + static_cast<int>(Next() % static_cast<uint64_t>(highest - lowest + 1));
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next()); }

 private:
  uint64_t state_;
};

void Whole(FaultOutcome& outcome, const uint8_t* bytes, int length) {
  std::memcpy(outcome.bytes, bytes, static_cast<size_t>(length));
  outcome.length = length;
  outcome.pieceCount = length > 0 ? 1 : 0;
  outcome.pieceEnd[0] = length;
}

uint8_t OtherFunction(uint8_t function, Random& random) {
  uint8_t candidates[std::size(kPlausibleFunctions)];
  int count = 0;
  for (uint8_t code : kPlausibleFunctions) {
    if (code != (function & ~kExceptionBit)) candidates[count++] = code;
  }
  return candidates[random.Between(0, count - 1)];
}

// A byte for offset 7 of garbage that is neither the function code nor its exception form.
uint8_t NotTheFunction(uint8_t function, Random& random) {
  for (;;) {
    const uint8_t value = random.Byte();
    if (value != function && value != (function | kExceptionBit)) return value;
  }
}

void RenderGarbage(FaultOutcome& outcome, uint8_t function, Random& random) {
  const int length = random.Between(1, kMaxGarbageLength);
  for (int i = 0; i < length; ++i) outcome.bytes[i] = random.Byte();
  if (length > kFunctionOffset) outcome.bytes[kFunctionOffset] = NotTheFunction(function, random);
  outcome.length = length;
  outcome.pieceCount = 1;
  outcome.pieceEnd[0] = length;
}

void RenderException(FaultOutcome& outcome, const uint8_t* request, Random& random) {
  const uint8_t reply[kExceptionReplyLength] = {
      request[kTidHighOffset], request[kTidLowOffset], 0, 0, 0, kExceptionPduLength, request[kUnitOffset],
      static_cast<uint8_t>(request[kFunctionOffset] | kExceptionBit),
      kExceptionCodes[random.Between(0, static_cast<int>(std::size(kExceptionCodes)) - 1)]};
  Whole(outcome, reply, kExceptionReplyLength);
}

void RenderSplit(FaultOutcome& outcome, const ChaosConfig& config, const uint8_t* reply, int length,
                 Random& random) {
  Whole(outcome, reply, length);
  if (length < 2) return;
  const int pieces = random.Between(2, std::min(kMaxPieces, length));
  int cuts[kMaxPieces] = {};
  int cutCount = 0;
  while (cutCount < pieces - 1) {
    const int cut = random.Between(1, length - 1);
    if (std::find(cuts, cuts + cutCount, cut) == cuts + cutCount) cuts[cutCount++] = cut;
  }
  std::sort(cuts, cuts + cutCount);
  for (int i = 0; i < cutCount; ++i) {
    outcome.pieceEnd[i] = cuts[i];
    outcome.pieceGapMs[i + 1] = static_cast<uint32_t>(random.Between(1, static_cast<int>(config.splitPauseMaxMs)));
  }
  outcome.pieceEnd[cutCount] = length;
  outcome.pieceCount = pieces;
}

void RenderLong(FaultOutcome& outcome, const uint8_t* reply, int length, Random& random) {
  const int extra = random.Between(1, kMaxLongExtra);
  std::memcpy(outcome.bytes, reply, static_cast<size_t>(length));
  for (int i = 0; i < extra; ++i) outcome.bytes[length + i] = random.Byte();
  const int counted = ((reply[kLengthHighOffset] << 8) | reply[kLengthLowOffset]) + extra;
  outcome.bytes[kLengthHighOffset] = static_cast<uint8_t>(counted >> 8);
  outcome.bytes[kLengthLowOffset] = static_cast<uint8_t>(counted);
  outcome.length = length + extra;
  outcome.pieceCount = 1;
  outcome.pieceEnd[0] = outcome.length;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
  const int index = static_cast<int>(kind);
  return index < kFaultKindCount ? kFaultNames[index] : "unknown";
}

bool ParseFaultKinds(const std::string& list, uint32_t& mask) {
  mask = 0;
  std::istringstream stream(list);
  std::string name;
  while (std::getline(stream, name, ',')) {
    if (name == "all") {
      mask |= kAllFaultKinds;
      continue;
    }
    int found = 0;
    for (int kind = 1; kind < kFaultKindCount; ++kind) {
      if (name == kFaultNames[kind]) found = kind;
    }
    if (found == 0) return false;
    mask |= 1u << found;
  }
  return mask != 0;
}

ChaosConfig MakeChaos(uint64_t seed, double rate, uint32_t kindMask) {
  ChaosConfig config;
  config.enabled = true;
  config.seed = seed;
  const int kinds = std::popcount(kindMask & kAllFaultKinds);
  if (kinds == 0) return config;
  const double share = std::clamp(rate, 0.0, 1.0) / kinds;
  for (int kind = 1; kind < kFaultKindCount; ++kind) {
    if (kindMask & (1u << kind)) config.probability[kind] = share;
  }
  return config;
}

FaultPlan ChaosPlanFor(const ChaosConfig& config, int stationNumber, uint64_t sequence) {
  if (!config.enabled) return {};
  Random random(config.seed ^ Mix64(static_cast<uint64_t>(stationNumber) + kStationSalt) ^
                Mix64(sequence + kSequenceSalt));
  const double draw = random.Unit();
  FaultPlan plan;
  double cumulative = 0;
  for (int kind = 1; kind < kFaultKindCount; ++kind) {
    cumulative += config.probability[kind];
    if (draw < cumulative) {
      plan.kind = static_cast<FaultKind>(kind);
      break;
    }
  }
  plan.detailSeed = random.Next();
  return plan;
}

bool PlanExecutesRequest(const FaultPlan& plan) { return plan.kind != FaultKind::kException; }

void RenderReply(const FaultPlan& plan, const ChaosConfig& config, const uint8_t* request, int requestLength,
                 const uint8_t* reply, int replyLength, FaultOutcome& outcome) {
  outcome.delayMs = 0;
  outcome.length = 0;
  outcome.pieceCount = 0;
  std::fill(std::begin(outcome.pieceGapMs), std::end(outcome.pieceGapMs), 0u);
  outcome.ending = Ending::kKeepOpen;
  outcome.downMs = 0;
  Random random(plan.detailSeed);
  const bool hasHeader = requestLength > kFunctionOffset;
  const uint8_t function = hasHeader ? request[kFunctionOffset] : 0;
  // Faults that rewrite the header need a whole reply header to rewrite.
  const bool replyHasHeader = replyLength > kFunctionOffset;

  switch (plan.kind) {
    case FaultKind::kNone:
      Whole(outcome, reply, replyLength);
      return;
    case FaultKind::kLateReply:
      Whole(outcome, reply, replyLength);
      outcome.delayMs = config.lateReplyDelayMs;
      return;
    case FaultKind::kReset:
      outcome.ending = Ending::kReset;
      return;
    case FaultKind::kCloseMidFrame:
      if (replyLength > 1) Whole(outcome, reply, random.Between(1, replyLength - 1));
      outcome.ending = Ending::kClose;
      return;
    case FaultKind::kGarbage:
      RenderGarbage(outcome, function, random);
      return;
    case FaultKind::kWrongTransactionId:
      Whole(outcome, reply, replyLength);
      if (replyHasHeader) {
        outcome.bytes[kTidLowOffset] ^= static_cast<uint8_t>(random.Between(1, kByteValues - 1));
        outcome.bytes[kTidHighOffset] ^= random.Byte();
      }
      return;
    case FaultKind::kWrongUnit:
      Whole(outcome, reply, replyLength);
      if (replyHasHeader) outcome.bytes[kUnitOffset] ^= static_cast<uint8_t>(random.Between(1, kByteValues - 1));
      return;
    case FaultKind::kWrongFunction:
      Whole(outcome, reply, replyLength);
      if (replyHasHeader) outcome.bytes[kFunctionOffset] = OtherFunction(function, random);
      return;
    case FaultKind::kException:
      if (hasHeader) RenderException(outcome, request, random);
      return;
    case FaultKind::kShortFrame:
      if (replyLength > 1) Whole(outcome, reply, random.Between(1, replyLength - 1));
      return;
    case FaultKind::kLongFrame:
      if (replyHasHeader) {
        RenderLong(outcome, reply, replyLength, random);
      } else {
        Whole(outcome, reply, replyLength);
      }
      return;
    case FaultKind::kSplitFrame:
      RenderSplit(outcome, config, reply, replyLength, random);
      return;
    case FaultKind::kDuplicateReply:
      Whole(outcome, reply, replyLength);
      std::memcpy(outcome.bytes + replyLength, reply, static_cast<size_t>(replyLength));
      outcome.length = 2 * replyLength;
      outcome.pieceEnd[0] = outcome.length;
      return;
    case FaultKind::kRestart:
      outcome.ending = Ending::kRestart;
      outcome.downMs = config.restartDownMs;
      return;
  }
}

}  // namespace plcsim
