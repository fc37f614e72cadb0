// The host's threads: each reads and writes gates at random (reproducibly
// from the seed and its number), checks every answer and every call's
// duration, and warm starts a station after each communication failure, as a
// host does. One more thread sets the pairs' switch gates now and then, as an
// operator does.
#pragma once

#include <atomic>
#include <cstdint>

#include "gates.h"
#include "host_driver.h"
#include "plant.h"
#include "stall_monitor.h"
#include "tally.h"

namespace soak {

struct RunContext {
  HostDriver& driver;
  Catalogue& catalogue;
  Tally& tally;
  const PlantLayout& layout;
  const StallMonitor& stalls;
  int threads = 1;
  int timeoutMs = 0;
  uint64_t seed = 0;
  std::atomic<bool> stop{false};
};

// The worst time a call may take: its own passes × 4 attempts × time-out
// (twice for a bit or byte write), plus what it may wait for the locks that
// the other threads hold meanwhile, plus a margin for scheduling. The stalls
// of the process during the call come on top (StallMonitor).
uint64_t CallBoundMs(const RunContext& context, const Gate& gate, bool write);
uint64_t WarmStartBoundMs(const RunContext& context);

void RunWorker(RunContext& context, int thread);
void RunSwitcher(RunContext& context);

// A warm start with its timing checked and counted; the host's answer to a
// communication failure of the gate (its PLC, or 200000 + n for _SCRUT).
int32_t TimedWarmStart(RunContext& context, int32_t plcNumber);

}  // namespace soak
