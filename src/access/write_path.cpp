#include "access/write_path.h"

#include "access/gate_kind.h"
#include "access/modbus_request.h"
#include "access/tag_log.h"
#include "access/value_codec.h"
#include "addressing/gate_address.h"
#include "driver/log.h"
#include "driver/operations.h"
#include "driver/shared_field.h"
#include "platform/lock.h"
#include "redundancy/switching.h"
#include "transport/exchange.h"

namespace toldex {
namespace {

constexpr uint16_t kOnlineValue = 1;

// A write of ST_ONLINE sets the station's online flag; the counters cannot be written.
int32_t WriteDiagnosticGate(StationRecord& station, int stationNumber, const GateIo& gate, const char* tagText) {
  if (gate.memoryType != kMemStOnline) {
    LOG(kLogEvent, "TOLDEX: DoWrite() Writing not allowed to tag '%s'", tagText);
    return kStatusRequestFailed;
  }
  if (LoadSlot16(gate.value) == kOnlineValue) {
    LOG(kLogEvent, "TOLDEX: SingleWrite() Setting PLC %d status to 'ON LINE'", stationNumber);
    StoreShared(station.online, int32_t{1});
  } else {
    LOG(kLogEvent, "TOLDEX: SingleWrite() Setting PLC %d status to 'OFF LINE'", stationNumber);
    StoreShared(station.online, int32_t{0});
  }
  return kStatusOk;
}

// The exit line of both write operations, for a status out of their passes.
void LogExit(int32_t status) {
  if (status != kStatusOk) LOG(kLogDetail, "TOLDEX: SingleWrite() exited, rc= %u", static_cast<unsigned>(status));
}

int StationOf(InstanceRecord& instance, const GateTarget& target) {
  return target.kind == GateKind::kScrut ? target.number : SelectStation(instance, target.number);
}

int PassesOf(InstanceRecord& instance, const GateTarget& target, int32_t plcNumber) {
  return target.kind == GateKind::kScrut ? 1 : PassCount(instance, plcNumber);
}

// Reads the register that a bit or byte gate changes, from the station that
// will be written: a _SCRUT gate's own station, an ordinary gate's PLC by its
// switch. The read is an ordinary register read, whatever the gate's id.
int32_t ReadRegister(DriverRequest* request, const GateIo& gate, const char* tagText, uint16_t* registerValue) {
  uint8_t slot[kValueSlotSize] = {};
  GateIo registerGate{};
  registerGate.address = tagText;
  registerGate.plcNumber = gate.plcNumber;
  registerGate.memoryType = kMemHoldingRegister;
  registerGate.registerAddress = gate.registerAddress;
  registerGate.bitNumber = -1;
  registerGate.bitWidth = kWidthWord;
  registerGate.elementCount = 1;
  registerGate.gateId = gate.gateId;
  registerGate.value = slot;
  DriverRequest readRequest = *request;
  readRequest.op = kOpSingleRead;
  readRequest.params = &registerGate;
  const int32_t status = SingleRead(&readRequest);
  *registerValue = LoadSlot16(slot);
  return status;
}

// The passes of a single write: each builds the request for the station
// that serves at its start, in a buffer of its own.
int32_t SingleWritePasses(DriverRequest* request, const GateTarget& target, const SingleWriteValue& value) {
  InstanceRecord& instance = InstanceOf(request);
  const GateIo& gate = ParamsOf<GateIo>(request);
  const int passes = PassesOf(instance, target, gate.plcNumber);
  int32_t status = kStatusCommFailure;
  for (int pass = 0; pass < passes; ++pass) {
    const int station = StationOf(instance, target);
    uint8_t bytes[kWriteLongRequestSize];
    const int length = BuildSingleWriteRequest(gate, value, instance, station, bytes);
    status = DoWrite(request, station, bytes, length);
    if (status != kStatusCommFailure) break;
  }
  return status;
}

// A bit or byte write reads the register and writes it back changed. The
// instance's read-modify-write lock keeps two of them from interleaving, so
// that neither loses the other's change.
int32_t ReadModifyWrite(DriverRequest* request, const GateTarget& target, SingleWriteValue value,
                        const char* tagText) {
  const GateIo& gate = ParamsOf<GateIo>(request);
  platform::LockGuard guard(InstanceOf(request).readModifyWriteLock);
  const int32_t status = ReadRegister(request, gate, tagText, &value.registerRead);
  if (status != kStatusOk) {
    LOG(kLogDetail, "TOLDEX: SingleWrite() error SingleRead() for spec. dig. gate, rc=%d", status);
    return status;
  }
  const int32_t passesStatus = SingleWritePasses(request, target, value);
  LogExit(passesStatus);
  return passesStatus;
}

}  // namespace

int32_t DoWrite(DriverRequest* request, int station, const uint8_t* bytes, int length) {
  InstanceRecord& instance = InstanceOf(request);
  const GateIo& gate = ParamsOf<GateIo>(request);
  const TagText tag = CopyTagText(gate.address);
  const int blockSize = BlockSizeOf(gate);
  uint8_t frame[kMaxFrameSize];
  int frameLength = length;
  if (BuildTcpFrame(bytes, &frameLength, frame) != 0) return kStatusRequestFailed;
  ExchangeResult result;
  VpiTcpSendRcv(instance, station, frame, frameLength, Flavour::kWrite, tag.text, blockSize, result);
  FinishExchange(instance, station, Flavour::kWrite, result.status, result.reply, tag.text, blockSize);
  if (result.status == kStatusCommFailure) FailOver(instance, gate.plcNumber);
  return result.status;
}

int32_t SingleWrite(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  const GateIo& gate = ParamsOf<GateIo>(request);
  const TagText tag = CopyTagText(gate.address);

  const GateTarget target = ClassifyGate(gate.plcNumber, gate.memoryType);
  switch (target.kind) {
    case GateKind::kSwitch:
      // The switch value changes only through the host's notification.
      LOG(kLogEvent, "TOLDEX: SingleWrite, writing on Plc Switch Tag that has id %d", gate.gateId);
      return kStatusOk;
    case GateKind::kDiagnostic:
      return WriteDiagnosticGate(instance.stations[target.number], target.number, gate, tag.text);
    case GateKind::kInvalid:
      return RefuseGate("SingleWrite", tag.text, gate);
    case GateKind::kOrdinary:
    case GateKind::kScrut:
      break;
  }
  if (!IsPlcMemoryType(gate.memoryType) || !IsBitNumberValid(gate.memoryType, gate.bitNumber)) {
    return RefuseGate("SingleWrite", tag.text, gate);
  }

  const int station = StationOf(instance, target);
  if (target.kind == GateKind::kOrdinary) ReportPendingSwitch(request, target.number);
  LOG(kLogDetail, "TolDEX : SingleRead() Tags for plc %d is read from plc %d sur ip : %s", gate.plcNumber,
      station, instance.stations[station].ip);
  if (instance.started == 0) return kStatusRequestFailed;
  if (IsInputMemoryType(gate.memoryType)) {
    LOG(kLogDetail, "TOLDEX: SingleWrite() not allowed for types 1,3,5 and 6");
    return kStatusRequestFailed;
  }

  SingleWriteValue value{};
  if (gate.bitWidth == kWidthLong) {
    value.value32 = LoadSlot32(gate.value);
  } else {
    value.value16 = LoadSlot16(gate.value);
  }
  if (IsReadModifyWrite(gate)) return ReadModifyWrite(request, target, value, tag.text);
  const int32_t status = SingleWritePasses(request, target, value);
  LogExit(status);
  return status;
}

int32_t BlockWrite(DriverRequest* request) {
  InstanceRecord& instance = InstanceOf(request);
  const GateIo& gate = ParamsOf<GateIo>(request);
  const TagText tag = CopyTagText(gate.address);

  // A switch gate is never written, whatever PLC its marker names.
  if (IsSwitchMarker(gate.plcNumber)) return kStatusOk;
  const GateTarget target = ClassifyPlcNumber(gate.plcNumber);
  if ((target.kind != GateKind::kOrdinary && target.kind != GateKind::kScrut) ||
      !IsPlcMemoryType(gate.memoryType) || gate.elementCount < 1) {
    return RefuseGate("BlockWrite", tag.text, gate);
  }
  if (BlockWriteTooLong(gate.bitWidth, gate.elementCount)) {
    LOG(kLogEvent, "TOLDEX: BlockWrite(): Block length is too long");
    return kStatusRequestFailed;
  }

  if (target.kind == GateKind::kOrdinary) ReportPendingSwitch(request, target.number);
  if (IsInputMemoryType(gate.memoryType)) {
    LOG(kLogEvent, "TOLDEX: BlockParse() no writing possible on inputs tags!");
    return kStatusRequestFailed;
  }
  if (BlockWriteDataBytes(gate.bitWidth, gate.elementCount) < 0) return kStatusRequestFailed;

  const int passes = PassesOf(instance, target, gate.plcNumber);
  int32_t status = kStatusCommFailure;
  for (int pass = 0; pass < passes; ++pass) {
    const int station = StationOf(instance, target);
    uint8_t bytes[kMaxWriteRequestSize];
    const int length = BuildBlockWriteRequest(gate, instance, station, bytes);
    status = DoWrite(request, station, bytes, length);
    if (status != kStatusCommFailure) break;
  }
  LogExit(status);
  return status;
}

}  // namespace toldex
