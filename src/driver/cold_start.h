// The pieces of ColdStart that other parts of the driver and the tests reach.
#pragma once

#include <cstdint>

#include "driver/host_records.h"

namespace toldex {

// The socket time-out of a full start: ten times the host's centiseconds, at
// least one second.
int32_t TimeoutMsFromCentiseconds(int32_t timeoutCs);
// Starts the socket library, connects every configured station in turn and
// creates the stations' connect events. 0; 2 when the socket library fails.
int32_t InitConnections(DriverRequest* request);

}  // namespace toldex
