#include "driver/operations.h"

namespace toldex {

int32_t SingleAddressParser(DriverRequest*) { return kStatusRequestFailed; }
int32_t BlockAddressParser(DriverRequest*) { return kStatusRequestFailed; }

}  // namespace toldex
