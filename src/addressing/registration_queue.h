// The hand-over of switch gates and _SCRUT gates from the address parsers
// (host threads) to the instance's notification thread, which registers them
// with the host library. A text already waiting is not queued twice; a full
// queue refuses a new entry with a log line and never overwrites one.
#pragma once

#include "driver/instance.h"

namespace toldex {

// Both return true when the gate is waiting (queued now or already).
bool QueueSwitchRegistration(InstanceRecord& instance, const char* text, int32_t plc);
bool QueueScrutRegistration(InstanceRecord& instance, const char* text, int32_t station);

// Moves every waiting entry of one kind into `out` (room for the kind's
// capacity) and empties that queue. Returns how many were moved.
int TakeSwitchRegistrations(InstanceRecord& instance, Registration* out);
int TakeScrutRegistrations(InstanceRecord& instance, Registration* out);

void ClearRegistrations(InstanceRecord& instance);

}  // namespace toldex
