// The parts of the driver's start and end that ColdStart calls: taking over a
// block that is still running, and the notification thread of a full start.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// Called by every ColdStart before it makes the block's run-time state anew.
// When this driver started the instance and no EndVpi ended it, closes it as
// EndVpi does (notification thread, background connects, sockets, events,
// socket library), so that nothing of the earlier start is left behind. For a
// full start it then records the instance as running. false when a full start
// must be refused because too many instances run; nothing was touched then.
bool BeginColdStart(DriverRequest* request);

// The last steps of a full ColdStart: the notification thread is told the
// driver number and started, with its log line.
void StartCommunicationThread(DriverRequest* request);

// EndVpi's closing work on a running instance: stops the notification thread
// and every background connect, closes the stations' sockets and events and
// shuts the socket library down. 0, or the socket library's error code.
int32_t CloseRunningInstance(InstanceRecord& instance);

}  // namespace toldex
