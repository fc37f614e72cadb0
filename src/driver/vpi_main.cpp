#include "driver/operations.h"
#include "platform/export.h"

namespace toldex {
namespace {

using Operation = int32_t (*)(DriverRequest*);

// Slots 1 to 16; codes 8 and 9 have no operation.
constexpr Operation kOperations[16] = {
    ColdStart,  WarmStart, SingleAddressParser, BlockAddressParser,
    SingleRead, BlockRead, SingleWrite,         nullptr,
    nullptr,    BlockWrite, EndVpi,             CloseCom,
    ReOpenCom,  GetVpiInfo, ChangeVpiParams,    BrowseAddress,
};

}  // namespace

int32_t Dispatch(DriverRequest* request) {
  const int32_t op = request->op;
  if (op < 1 || op > 16) return kStatusRequestFailed;
  const Operation operation = kOperations[op - 1];
  if (operation == nullptr) return kStatusRequestFailed;
  return operation(request);
}

}  // namespace toldex

extern "C" TOLDEX_ENTRY_VISIBLE int32_t TOLDEX_ENTRY_CALL VpiMain(toldex::DriverRequest* request) {
  return toldex::Dispatch(request);
}
