#include "driver/operations.h"

namespace toldex {

int32_t WarmStart(DriverRequest*) { return kStatusRequestFailed; }
int32_t EndVpi(DriverRequest*) { return kStatusRequestFailed; }

}  // namespace toldex
