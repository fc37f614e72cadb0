#include "counters_check.h"

#include <cstring>

namespace soak {
namespace {

enum CounterKey { kNumComms, kNumSuccess, kNumFails, kErrors, kCommFails };
constexpr uint64_t kWriteFailsPerComms = 7;  // a write's pass: 4 attempts, 4 failures and 3 retries
constexpr uint64_t kAttemptsPerPass = 4;

struct StationCounts {
  uint64_t value[kDiagnosticKeys] = {};
};

bool ReadCounter(HostDriver& driver, Gate& gate, uint64_t& value) {
  uint8_t slot[4] = {};
  toldex::GateIo io = MakeGateIo(gate, slot);
  if (driver.ReadSingle(io) != toldex::kStatusOk) return false;
  value = ElementValue(gate, slot, 0);
  return true;
}

std::string Line(const char* format, uint64_t a, uint64_t b, uint64_t c = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b),
                static_cast<unsigned long long>(c));
  return text;
}

}  // namespace

CounterTotals CheckCounters(HostDriver& driver, Catalogue& catalogue, Plant& plant, Tally& tally,
                            std::vector<std::string>& lines) {
  CounterTotals totals;
  const uint64_t aborts = driver.logCounts().invalidSocket.load();
  for (int station : plant.layout().Stations()) {
    StationCounts counts;
    for (int key = 0; key < kDiagnosticKeys; ++key) {
      if (!ReadCounter(driver, *catalogue.counterOf[{station, key}], counts.value[key])) {
        tally.Problem("counter " + std::to_string(key) + " of station " + std::to_string(station) + " unreadable");
      }
    }
    const uint64_t comms = counts.value[kNumComms];
    const uint64_t success = counts.value[kNumSuccess];
    const uint64_t fails = counts.value[kNumFails];
    const uint64_t errors = counts.value[kErrors];
    const uint64_t commFails = counts.value[kCommFails];
    totals.numComms += comms;
    totals.numSuccess += success;
    totals.numFails += fails;
    totals.errors += errors;
    totals.commFails += commFails;
    const std::string name = "station " + std::to_string(station) + ": ";
    // Every attempt that did not fail ended its pass with a reply that the
    // operation then counted as a success or an error (or it was a read given
    // up because the socket went away).
    if (comms > fails + success + errors + aborts) {
      tally.Problem(name + Line("NUMCOMMS %llu exceeds NUMFAILS + NUMSUCCESS + ERRORS (%llu) + abandoned reads",
                                comms, fails + success + errors));
    }
    if (fails * kAttemptsPerPass > comms * kWriteFailsPerComms) {
      tally.Problem(name + Line("NUMFAILS %llu more than 7/4 of NUMCOMMS %llu", fails, comms));
    }
    plcsim::Station* simulated = nullptr;
    for (size_t i = 0; i < plant.Size(); ++i) {
      if (plant.At(i).Number() == station) simulated = &plant.At(i);
    }
    if (simulated != nullptr) {
      const uint64_t received = simulated->Counters().requestsReceived;
      if (received > comms) {
        tally.Problem(name + Line("the station received %llu requests, NUMCOMMS is only %llu", received, comms));
      }
    }
  }

  const TrafficTally& traffic = tally.traffic();
  auto load = [](const std::atomic<uint64_t>& value) { return value.load(); };
  const uint64_t failedCalls = load(traffic.reads[1]) + load(traffic.plainWrites[1]) + load(traffic.modifyWrites[1]);
  if (totals.errors != failedCalls) {
    tally.Problem(Line("ERRORS total %llu, but %llu calls ended with status 1", totals.errors, failedCalls));
  }
  const uint64_t successLow = load(traffic.reads[0]) + load(traffic.plainWrites[0]) + 2 * load(traffic.modifyWrites[0]);
  const uint64_t successHigh = successLow + load(traffic.modifyWrites[1]) + load(traffic.modifyWrites[2]);
  if (totals.numSuccess < successLow || totals.numSuccess > successHigh) {
    tally.Problem(Line("NUMSUCCESS total %llu outside [%llu, %llu] from the calls", totals.numSuccess, successLow,
                       successHigh));
  }
  const uint64_t commLowRaw = load(traffic.reads[2]) + load(traffic.plainWrites[2]) + load(traffic.modifyWrites[2]);
  const uint64_t commLow = commLowRaw > aborts ? commLowRaw - aborts : 0;
  const uint64_t commHigh = load(traffic.reads[2]) + 2 * load(traffic.plainWrites[2]) + load(traffic.pairPlainWrites) +
                            2 * load(traffic.modifyWrites[2]) + load(traffic.pairModifyWrites);
  if (totals.commFails < commLow || totals.commFails > commHigh) {
    tally.Problem(Line("COMMFAILS total %llu outside [%llu, %llu] from the calls", totals.commFails, commLow,
                       commHigh));
  }
  lines.push_back(Line("counters: NUMCOMMS %llu NUMSUCCESS %llu NUMFAILS %llu", totals.numComms, totals.numSuccess,
                       totals.numFails) +
                  Line(" ERRORS %llu COMMFAILS %llu (reads abandoned for a vanished socket: %llu)", totals.errors,
                       totals.commFails, aborts));
  lines.push_back(Line("counters vs calls: ERRORS %llu = status-1 calls %llu; NUMSUCCESS within [%llu, ", totals.errors,
                       failedCalls, successLow) +
                  Line("%llu]; COMMFAILS within [%llu, %llu]", successHigh, commLow, commHigh));
  return totals;
}

}  // namespace soak
