// The stations' TCP connections: the cold connect on the calling thread, the
// warm connect on a background thread working in the station's warm-start
// shadow, and closing.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

// 0, or -1 when the close failed (the field keeps its value).
int CloseSocketEx(int32_t* socketField);
// 0 connected, -1 failed.
int ConnectTcpEx(platform::SocketHandle socket, const platform::SocketAddressV4& peer);
// Cold connect of station s: 0 connected, 2 failed.
int VpiTcpSocketManagement(InstanceRecord& instance, int station);
// Warm connect: 0 connected (handed over to *stationSocket), 1 not connected
// within the wait, 2 the old socket could not be closed or no socket created.
int VpiTcpSocketManagementWarmStart(int32_t* stationSocket, const char* ip, uint16_t port,
                                    DriverRequest* request);
// Body of the background connect thread; the argument is the WarmStartShadow.
void ConnectTcpThread(void* shadow);
// Ends every background connect of the instance still under way (its socket
// is shut down, so the connect fails at once), joins the threads and closes
// the sockets the shadows hold. After it no connect thread runs for the instance.
void StopBackgroundConnects(InstanceRecord& instance);

}  // namespace toldex
