// Instances with stations set up by hand, for tests of the transport and the
// layers above it that need no initialisation file.
#pragma once

#include <cstdint>
#include <string>

#include "driver/instance.h"

namespace toldex::testing {

// What a full ColdStart without a file leaves: run-time state made anew,
// protocol 'M', base 'D', no options, both checks on, every table reset and
// every station online, the given socket time-out. Nothing is connected.
void PrepareInstance(InstanceRecord& instance, int32_t timeoutMs);
// Configures station s for ip:port, gives it a connect event (as the cold
// start does for a configured station) and cold-connects it. Returns the
// connect's result (0 connected, 2 failed).
int ConnectStation(InstanceRecord& instance, int s, const std::string& ip, uint16_t port);
// Readies station s's warm-start shadow as the first warm start with this
// plcNumber would.
void PrepareWarmStartShadow(InstanceRecord& instance, int s, int32_t plcNumber);
// Ends the notification thread and every background connect, closes every
// station's socket and event: afterwards the instance holds nothing open.
void CloseInstance(InstanceRecord& instance);

}  // namespace toldex::testing
