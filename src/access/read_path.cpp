#include "driver/operations.h"

namespace toldex {

int32_t SingleRead(DriverRequest*) { return kStatusRequestFailed; }
int32_t BlockRead(DriverRequest*) { return kStatusRequestFailed; }

}  // namespace toldex
