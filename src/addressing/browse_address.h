// The steps of BrowseAddress (operation 16) that tests reach on their own.
#pragma once

#include <cstdint>

namespace toldex {

// The address base of the driver's initialisation file, read into a scratch
// record (the reader logs its usual lines); 'D' when there is no file.
// 0 when the scratch record cannot be had.
char BrowseAddressBase(int32_t driverNumber);

// The host library's version number, asked under a client of its own named
// after the calling thread; 0 when the client cannot be registered.
uint16_t HostLibraryVersion();

}  // namespace toldex
