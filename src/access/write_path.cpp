#include "driver/operations.h"

namespace toldex {

int32_t SingleWrite(DriverRequest*) { return kStatusRequestFailed; }
int32_t BlockWrite(DriverRequest*) { return kStatusRequestFailed; }

}  // namespace toldex
