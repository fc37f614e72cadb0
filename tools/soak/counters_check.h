// The stations' counters, read through the driver's diagnostic gates once the
// host threads have stopped, against each other, against what the host saw
// and against what the simulated stations received.
#pragma once

#include <string>
#include <vector>

#include "gates.h"
#include "host_driver.h"
#include "plant.h"
#include "tally.h"

namespace soak {

struct CounterTotals {
  uint64_t numComms = 0, numSuccess = 0, numFails = 0, errors = 0, commFails = 0;
};

// Checks the relations that the exchange rules imply; every broken one is a
// problem of the tally. Returns the totals over all stations.
CounterTotals CheckCounters(HostDriver& driver, Catalogue& catalogue, Plant& plant, Tally& tally,
                            std::vector<std::string>& lines);

}  // namespace soak
