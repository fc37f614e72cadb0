#include "driver/operations.h"

namespace toldex {

int32_t BrowseAddress(DriverRequest*) { return kStatusNoAddress; }

}  // namespace toldex
