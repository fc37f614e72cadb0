#include "workers.h"

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "plcsim/start_pattern.h"
#include "qirpro.h"

namespace soak {
namespace {

constexpr int kAttemptsPerPass = 4;
constexpr uint64_t kSchedulingMarginMs = 250;
constexpr uint64_t kWarmConnectWaitMs = 1000;
constexpr int kMaxBufferSize = 512;
constexpr int kGuardBytes = 16;
constexpr uint8_t kSentinel = 0xA5;
constexpr int kSlotUntouchedBytes = 2;  // a 16-bit single value leaves bytes 0 and 1 alone
constexpr uint64_t kThreadSeedFactor = 1000003;
constexpr uint32_t kFloatSpread = 400000;
constexpr float kFloatScale = 0.25f;
constexpr float kFloatOffset = 50000.0f;
constexpr uint32_t kWord = 0xFFFF;
constexpr uint32_t kByte = 0xFF;
constexpr int kPercent = 100;
constexpr uint32_t kSwitcherMinPauseMs = 300;
constexpr uint32_t kSwitcherPauseSpanMs = 1200;
constexpr auto kStopPoll = std::chrono::milliseconds(50);

// How a host thread spends its calls, in percent.
constexpr int kPatternShare = 38;
constexpr int kOwnedShare = 28;
constexpr int kScratchShare = 8;
constexpr int kScrutShare = 8;
constexpr int kDiagnosticShare = 10;
constexpr int kSwitchShare = 3;
constexpr int kOnlineShare = 4;
constexpr int kOwnedWritePercent = 55;

uint64_t MillisecondsSince(Clock::time_point start) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string Describe(const Gate& gate, int element, uint32_t got, const std::string& expected) {
  char text[256];
  std::snprintf(text, sizeof text, "gate %s element %d read 0x%X, expected %s", gate.text.c_str(), element, got,
                expected.c_str());
  return text;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

class Worker {
 public:
  Worker(RunContext& context, int thread)
      : context_(context), thread_(thread), random_(context.seed * kThreadSeedFactor + thread + 1) {}

  void Run() {
    Catalogue& catalogue = context_.catalogue;
    const auto& owned = catalogue.owned[static_cast<size_t>(thread_)];
    const auto& scratch = catalogue.scratch[static_cast<size_t>(thread_)];
    while (!context_.stop.load(std::memory_order_relaxed)) {
      int draw = static_cast<int>(random_() % kPercent);
      if ((draw -= kPatternShare) < 0) {
        Read(*Pick(catalogue.pattern));
      } else if ((draw -= kOwnedShare) < 0) {
        if (owned.empty()) continue;
        Gate& gate = *Pick(owned);
        if (static_cast<int>(random_() % kPercent) < kOwnedWritePercent) {
          Write(gate);
        } else {
          Read(gate);
        }
      } else if ((draw -= kScratchShare) < 0) {
        if (!scratch.empty()) Write(*Pick(scratch));
      } else if ((draw -= kScrutShare) < 0) {
        if (!catalogue.scrut.empty()) Read(*Pick(catalogue.scrut));
      } else if ((draw -= kDiagnosticShare) < 0) {
        Read(*Pick(catalogue.diagnostic));
      } else if ((draw -= kSwitchShare) < 0) {
        if (!catalogue.switches.empty()) Read(*Pick(catalogue.switches));
      } else if ((draw -= kOnlineShare) < 0) {
        Read(*Pick(catalogue.online));
      } else {
        WriteOnline(*Pick(catalogue.online));
      }
    }
  }

 private:
  Gate* Pick(const std::vector<Gate*>& gates) { return gates[random_() % gates.size()]; }

  void PrepareBuffer(const Gate& gate) {
    std::memset(buffer_, kSentinel, ValueBufferSize(gate) + kGuardBytes);
  }

  // The driver wrote nothing outside the gate's value (nor into the two
  // bytes of a 16-bit slot that belong to the host).
  void CheckBufferBounds(const Gate& gate) {
    const size_t size = ValueBufferSize(gate);
    bool intact = true;
    for (size_t i = size; i < size + kGuardBytes; ++i) intact = intact && buffer_[i] == kSentinel;
    if (gate.count == 0 && !gate.wide) {
      for (int i = 0; i < kSlotUntouchedBytes; ++i) intact = intact && buffer_[i] == kSentinel;
    }
    if (!intact) context_.tally.Problem("the driver wrote outside the value of gate " + gate.text);
  }

  // A read that failed leaves the host's value as it was.
  void CheckUntouched(const Gate& gate) {
    const size_t size = ValueBufferSize(gate) + kGuardBytes;
    for (size_t i = 0; i < size; ++i) {
      if (buffer_[i] != kSentinel) {
        context_.tally.Problem("a failed read changed the value of gate " + gate.text);
        return;
      }
    }
  }

  void CheckDuration(const Gate& gate, bool write, uint64_t durationMs, int32_t status, uint64_t stallMs) {
    const uint64_t bound = CallBoundMs(context_, gate, write) + stallMs;
    const double ratio = static_cast<double>(durationMs) / static_cast<double>(bound);
    if (durationMs > bound) {
      char text[256];
      std::snprintf(text, sizeof text, "%s of gate %s took %llu ms, bound %llu ms (%llu ms of stalls), status %d",
                    write ? "write" : "read", gate.text.c_str(), static_cast<unsigned long long>(durationMs),
                    static_cast<unsigned long long>(bound), static_cast<unsigned long long>(stallMs), status);
      context_.tally.OverLong(text, ratio);
    } else {
      context_.tally.Closeness(ratio);
    }
  }

  void AfterCall(Gate& gate, bool write, int32_t status, Clock::time_point start, uint64_t stallsBefore) {
    const uint64_t durationMs = MillisecondsSince(start);
    context_.tally.Count(write ? gate.writeKind : gate.readKind, status, durationMs);
    context_.tally.CountTraffic(gate, write, status);
    CheckDuration(gate, write, durationMs, status, context_.stalls.TotalMs() - stallsBefore);
    if (status == toldex::kStatusCommFailure && !gate.fromMemory) {
      TimedWarmStart(context_, gate.parsed.plcNumber);
    }
  }

  void Read(Gate& gate) {
    PrepareBuffer(gate);
    toldex::GateIo io = MakeGateIo(gate, buffer_);
    const uint64_t stalls = context_.stalls.TotalMs();
    const Clock::time_point start = Clock::now();
    const int32_t status = gate.count > 0 ? context_.driver.ReadBlock(io) : context_.driver.ReadSingle(io);
    AfterCall(gate, false, status, start, stalls);
    if (status != toldex::kStatusOk) {
      CheckUntouched(gate);
      return;
    }
    CheckBufferBounds(gate);
    Judge(gate);
  }

  void Judge(Gate& gate) {
    const int elements = ElementCount(gate);
    context_.tally.CountChecked(static_cast<uint64_t>(elements));
    for (int i = 0; i < elements; ++i) {
      const uint32_t value = ElementValue(gate, buffer_, i);
      switch (gate.check) {
        case Check::kPattern: {
          const uint32_t expected = PatternValue(gate, i);
          if (value != expected) context_.tally.WrongValue(Describe(gate, i, value, Hex(expected)));
          break;
        }
        case Check::kOwned: {
          RegisterModel& model = *gate.models[static_cast<size_t>(i)];
          const bool part = gate.element == Element::kRegisterBit || gate.element == Element::kLowByte ||
                            gate.element == Element::kHighByte;
          const bool right = part ? model.ReadPart([&](uint32_t r) { return PartOfRegister(gate, r) == value; })
                                  : model.ReadWhole(value);
          if (!right) context_.tally.WrongValue(Describe(gate, i, value, "a value its owner wrote"));
          break;
        }
        case Check::kDiagnostic: {
          uint32_t& last = lastCounter_[&gate];
          if (value < last) {
            context_.tally.Problem("counter " + gate.text + " went down from " + std::to_string(last) + " to " +
                                   std::to_string(value));
          }
          last = value;
          break;
        }
        case Check::kFlag:
          if (value > 1) context_.tally.WrongValue(Describe(gate, i, value, "0 or 1"));
          break;
        case Check::kNone:
          break;
      }
    }
  }

  uint32_t NewValue(const Gate& gate) {
    const uint64_t draw = random_();
    switch (gate.element) {
      case Element::kBit:
      case Element::kRegisterBit: return static_cast<uint32_t>(draw & 1u);
      case Element::kLowByte:
      case Element::kHighByte: return static_cast<uint32_t>(draw & kByte);
      case Element::kRegister: return static_cast<uint32_t>(draw & kWord);
      case Element::kPair:
        if (gate.gateType == 3) {
          const float value = static_cast<float>(draw % kFloatSpread) * kFloatScale - kFloatOffset;
          return plcsim::FloatBits(value);
        }
        return static_cast<uint32_t>(draw);
    }
    return 0;
  }

  void Write(Gate& gate) {
    const int elements = ElementCount(gate);
    std::vector<uint32_t> values(static_cast<size_t>(elements));
    std::memset(buffer_, 0, ValueBufferSize(gate) + kGuardBytes);
    for (int i = 0; i < elements; ++i) {
      values[static_cast<size_t>(i)] = NewValue(gate);
      PutElementValue(gate, buffer_, i, values[static_cast<size_t>(i)]);
    }
    toldex::GateIo io = MakeGateIo(gate, buffer_);
    const uint64_t stalls = context_.stalls.TotalMs();
    const Clock::time_point start = Clock::now();
    const int32_t status = gate.count > 0 ? context_.driver.WriteBlock(io) : context_.driver.WriteSingle(io);
    const Clock::time_point end = Clock::now();
    if (gate.check == Check::kOwned) {
      const bool succeeded = status == toldex::kStatusOk;
      for (int i = 0; i < elements; ++i) {
        RegisterModel& model = *gate.models[static_cast<size_t>(i)];
        const uint32_t value = values[static_cast<size_t>(i)];
        if (gate.readModifyWrite) {
          model.Modify([&](uint32_t r) { return RegisterWithPart(gate, r, value); }, succeeded, start, end);
        } else {
          model.Write(value, succeeded, start, end);
        }
      }
    }
    AfterCall(gate, true, status, start, stalls);
  }

  void WriteOnline(Gate& gate) {
    std::memset(buffer_, 0, ValueBufferSize(gate) + kGuardBytes);
    PutElementValue(gate, buffer_, 0, 1);
    toldex::GateIo io = MakeGateIo(gate, buffer_);
    const uint64_t stalls = context_.stalls.TotalMs();
    const Clock::time_point start = Clock::now();
    const int32_t status = context_.driver.WriteSingle(io);
    AfterCall(gate, true, status, start, stalls);
    if (status != toldex::kStatusOk) context_.tally.Problem("writing " + gate.text + " gave status " + std::to_string(status));
  }

  RunContext& context_;
  int thread_;
  std::mt19937_64 random_;
  uint8_t buffer_[kMaxBufferSize + kGuardBytes];
  std::map<const Gate*, uint32_t> lastCounter_;
};

}  // namespace

uint64_t CallBoundMs(const RunContext& context, const Gate& gate, bool write) {
  if (gate.fromMemory) return kSchedulingMarginMs;
  const uint64_t attemptMs = static_cast<uint64_t>(context.timeoutMs);
  const uint64_t passMs = kAttemptsPerPass * attemptMs;
  const uint64_t passes = gate.hasBackup ? 2 : 1;
  const bool modify = write && gate.readModifyWrite;
  const uint64_t lockTakings = passes * (modify ? 2 : 1);
  const uint64_t others = static_cast<uint64_t>(context.threads - 1);
  const uint64_t own = lockTakings * passMs;
  // Each time it takes a station's lock the call may wait for one pass of
  // every other thread; a bit or byte write may first wait for another one's
  // whole read-modify-write (two passes of the read, two of the write).
  uint64_t locks = lockTakings * others * passMs;
  if (modify) locks += others * 4 * passMs;
  return own + locks + kSchedulingMarginMs;
}

uint64_t WarmStartBoundMs(const RunContext& context) {
  const uint64_t passMs = kAttemptsPerPass * static_cast<uint64_t>(context.timeoutMs);
  const uint64_t others = static_cast<uint64_t>(context.threads - 1);
  // The station's lock is taken twice (hand the connect over, collect it).
  return kWarmConnectWaitMs + 2 * others * passMs + kSchedulingMarginMs;
}

int32_t TimedWarmStart(RunContext& context, int32_t plcNumber) {
  const uint64_t stalls = context.stalls.TotalMs();
  const Clock::time_point start = Clock::now();
  const int32_t status = context.driver.WarmStart(plcNumber);
  const uint64_t durationMs = MillisecondsSince(start);
  context.tally.Count(OpKind::kWarmStart, status, durationMs);
  const uint64_t bound = WarmStartBoundMs(context) + context.stalls.TotalMs() - stalls;
  const double ratio = static_cast<double>(durationMs) / static_cast<double>(bound);
  if (durationMs > bound) {
    context.tally.OverLong("warm start of " + std::to_string(plcNumber) + " took " + std::to_string(durationMs) +
                               " ms, bound " + std::to_string(bound) + " ms",
                           ratio);
  } else {
    context.tally.Closeness(ratio);
  }
  return status;
}

void RunWorker(RunContext& context, int thread) {
  Worker worker(context, thread);
  worker.Run();
}

void RunSwitcher(RunContext& context) {
  std::mt19937_64 random(context.seed * kThreadSeedFactor);
  const auto& switches = context.catalogue.switches;
  if (switches.empty()) return;
  while (!context.stop.load()) {
    const auto pause = std::chrono::milliseconds(kSwitcherMinPauseMs + random() % kSwitcherPauseSpanMs);
    const Clock::time_point until = Clock::now() + pause;
    while (!context.stop.load() && Clock::now() < until) std::this_thread::sleep_for(kStopPoll);
    if (context.stop.load()) break;
    const Gate& gate = *switches[random() % switches.size()];
    const double value = (random() & 1u) ? 1.0 : 0.0;
    QirCtlPostGateValue(gate.gateId, value);
    context.tally.Count(OpKind::kSwitchPost, 0, 0);
  }
}

}  // namespace soak
