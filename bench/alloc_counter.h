// Counts heap allocations made by the calling thread while counting is on.
// The bench interposes malloc and its kin (operator new ends there too).
#pragma once

#include <cstdint>

namespace bench {

void StartCountingAllocations();
// Stops counting and returns how many allocations the thread made meanwhile.
uint64_t StopCountingAllocations();

}  // namespace bench
