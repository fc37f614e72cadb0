// The instance's notification thread: registers switch and _SCRUT gates with
// the host library and stores the switch values the host sends.
#pragma once

#include "driver/instance.h"

namespace toldex {

// The thread body; the argument is the InstanceRecord.
void NotificationThread(void* instance);
// 0 started, -1 could not be started.
int StartNotificationThread(InstanceRecord& instance);
// Asks the thread to end, waits for it (it unregisters from the host). No-op
// when none runs.
void StopNotificationThread(InstanceRecord& instance);

}  // namespace toldex
