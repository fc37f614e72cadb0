// The driver's operations, one per slot of VpiMain's table. Each takes the
// host's request and returns its status (0, 1, 2 or 53).
#pragma once

#include <cstdint>

#include "driver/host_records.h"

namespace toldex {

int32_t ColdStart(DriverRequest* request);            // driver/cold_start.cpp
int32_t WarmStart(DriverRequest* request);            // driver/lifecycle.cpp
int32_t EndVpi(DriverRequest* request);               // driver/lifecycle.cpp
int32_t SingleAddressParser(DriverRequest* request);  // addressing/address_operations.cpp
int32_t BlockAddressParser(DriverRequest* request);   // addressing/address_operations.cpp
int32_t SingleRead(DriverRequest* request);           // access/read_path.cpp
int32_t BlockRead(DriverRequest* request);            // access/read_path.cpp
int32_t SingleWrite(DriverRequest* request);          // access/write_path.cpp
int32_t BlockWrite(DriverRequest* request);           // access/write_path.cpp
int32_t CloseCom(DriverRequest* request);             // driver/driver_info.cpp
int32_t ReOpenCom(DriverRequest* request);            // driver/driver_info.cpp
int32_t GetVpiInfo(DriverRequest* request);           // driver/driver_info.cpp
int32_t ChangeVpiParams(DriverRequest* request);      // driver/driver_info.cpp
int32_t BrowseAddress(DriverRequest* request);        // addressing/browse_address.cpp

// The dispatcher behind the exported VpiMain.
int32_t Dispatch(DriverRequest* request);

}  // namespace toldex
