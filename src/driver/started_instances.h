// The instances this driver has started and not yet ended, process-wide. A
// ColdStart uses it to tell a block it left running (which it must close
// first) from fresh host memory; EndVpi to tell a running instance from one
// already ended.
#pragma once

#include "driver/instance.h"

namespace toldex {

// Room for this many running instances in one process.
constexpr int kMaxRunningInstances = 64;

// false when the table is full.
bool RememberStartedInstance(const InstanceRecord* instance);
// true when the instance was running (and is now forgotten).
bool ForgetStartedInstance(const InstanceRecord* instance);
bool IsStartedInstance(const InstanceRecord* instance);

}  // namespace toldex
