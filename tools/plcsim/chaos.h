// Hostile behaviour of a simulated station: which fault a request meets, and
// the bytes, pauses and ending that the fault turns its reply into.
//
// Decisions are reproducible: the fault of the n-th request that a station
// serves after its chaos settings were set depends only on the seed, the
// station's number and n, never on timing or on other stations. The faults
// damage framing and timing only. Register data inside a well-formed reply is
// never changed: wherever the bytes sent carry the request's unit id and
// function code at their offsets 6 and 7, the rest of the reply is the one the
// register map gave. Garbage never carries the request's function code (nor
// its exception form) at offset 7.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace plcsim {

enum class FaultKind : uint8_t {
  kNone = 0,
  kLateReply,           // the correct reply, after the late delay (set it past the client's time-out)
  kReset,               // no reply: the connection is reset
  kCloseMidFrame,       // part of the reply, then an orderly close
  kGarbage,             // random bytes instead of the reply
  kWrongTransactionId,  // the reply with another transaction identifier
  kWrongUnit,           // the reply with another unit identifier
  kWrongFunction,       // the reply with another function code
  kException,           // an exception reply; the request is not executed
  kShortFrame,          // the reply cut short; the connection stays open
  kLongFrame,           // the reply followed by random bytes that its length field counts
  kSplitFrame,          // the correct reply in two to four pieces with short pauses
  kDuplicateReply,      // the correct reply twice, in one send
  kRestart,             // no reply: the station closes everything and listens again after a pause
};
constexpr int kFaultKindCount = 14;  // kNone included
constexpr uint32_t kAllFaultKinds = ((1u << kFaultKindCount) - 1) & ~1u;

using FaultCounts = std::array<uint64_t, kFaultKindCount>;

// "late", "reset", "close-mid-frame", ... ("none" for kNone).
const char* FaultKindName(FaultKind kind);
// Parses a comma-separated list of kind names ("all" for every kind) into a
// mask of (1 << kind) bits. False on an unknown name.
bool ParseFaultKinds(const std::string& list, uint32_t& mask);

struct ChaosConfig {
  bool enabled = false;
  uint64_t seed = 0;
  // Probability that a request meets each kind; the sum must not exceed 1.
  // probability[0] (kNone) is not used.
  std::array<double, kFaultKindCount> probability{};
  uint32_t lateReplyDelayMs = 1500;
  uint32_t restartDownMs = 300;
  uint32_t splitPauseMaxMs = 20;
};

// Chaos with a total fault rate spread evenly over the kinds of the mask.
ChaosConfig MakeChaos(uint64_t seed, double rate, uint32_t kindMask = kAllFaultKinds);

struct FaultPlan {
  FaultKind kind = FaultKind::kNone;
  uint64_t detailSeed = 0;  // drives the details: cut points, garbage bytes ...
};

// The plan of the request with the given sequence number (0 for the first).
FaultPlan ChaosPlanFor(const ChaosConfig& config, int stationNumber, uint64_t sequence);

// Whether the request is handed to the register map at all (not for an
// exception: a device that answers with an exception did not execute it).
bool PlanExecutesRequest(const FaultPlan& plan);

constexpr int kMaxAduLength = 260;
constexpr int kMbapHeaderLength = 7;
constexpr int kMaxPieces = 4;
constexpr int kMaxGarbageLength = 64;
constexpr int kMaxLongExtra = 16;
constexpr int kMaxOutcomeLength = 2 * kMaxAduLength + kMaxLongExtra;

enum class Ending : uint8_t { kKeepOpen, kClose, kReset, kRestart };

// What to do with one request's reply.
struct FaultOutcome {
  uint32_t delayMs = 0;  // before the first byte
  uint8_t bytes[kMaxOutcomeLength] = {};
  int length = 0;
  // The bytes go out in pieceCount sends; piece i ends at pieceEnd[i] and is
  // preceded by a pause of pieceGapMs[i] (0 for the first).
  int pieceCount = 0;
  int pieceEnd[kMaxPieces] = {};
  uint32_t pieceGapMs[kMaxPieces] = {};
  Ending ending = Ending::kKeepOpen;
  uint32_t downMs = 0;  // how long a restart keeps the station down
};

// Turns the correct reply (empty when the request was not executed) into the
// outcome that the plan asks for. The request is the whole frame as received.
void RenderReply(const FaultPlan& plan, const ChaosConfig& config, const uint8_t* request, int requestLength,
                 const uint8_t* reply, int replyLength, FaultOutcome& outcome);

}  // namespace plcsim
