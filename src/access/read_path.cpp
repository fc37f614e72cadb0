#include "access/read_path.h"

#include "access/gate_kind.h"
#include "access/modbus_request.h"
#include "access/tag_log.h"
#include "access/value_codec.h"
#include "addressing/gate_address.h"
#include "driver/log.h"
#include "driver/operations.h"
#include "driver/shared_field.h"
#include "redundancy/switching.h"
#include "transport/exchange.h"

namespace toldex {
namespace {

// A switch gate shows its PLC's switch value; nothing is sent.
void AnswerSwitchGate(InstanceRecord& instance, int plc, GateIo& gate) {
  StoreSlot16(gate.value, SwitchValueAsGate(LoadSwitchValue(instance, plc)));
}

// A diagnostic gate shows one of its station's counters or its online flag.
void AnswerDiagnosticGate(const StationRecord& station, GateIo& gate) {
  switch (gate.memoryType) {
    case kMemNumComms:
      StoreSlot32(gate.value, LoadShared(station.numComms));
      break;
    case kMemNumSuccess:
      StoreSlot32(gate.value, LoadShared(station.numSuccess));
      break;
    case kMemNumFails:
      StoreSlot32(gate.value, LoadShared(station.numFails));
      break;
    case kMemStOnline:
      StoreSlot16(gate.value, static_cast<uint16_t>(LoadShared(station.online)));
      break;
    case kMemErrors:
      StoreSlot32(gate.value, LoadShared(station.errors));
      break;
    default:
      StoreSlot32(gate.value, LoadShared(station.commFails));
      break;
  }
}

bool ReadableByPlc(const GateIo& gate) {
  return IsPlcMemoryType(gate.memoryType) && IsBitNumberValid(gate.memoryType, gate.bitNumber) &&
         ReadSizeAllowed(gate.memoryType, gate.bitWidth, gate.elementCount);
}

// The framed read request for the station; false when it cannot be framed.
bool FrameReadRequest(const GateIo& gate, const InstanceRecord& instance, int station, uint8_t* frame,
                      int* frameLength) {
  uint8_t request[kReadRequestSize];
  *frameLength = BuildReadRequest(gate, request, instance, station);
  return BuildTcpFrame(request, frameLength, frame) == 0;
}

}  // namespace

int32_t SingleRead(DriverRequest* request) { return DoBlockRead(request, kReadModeSingle); }

int32_t BlockRead(DriverRequest* request) {
  const int32_t status = DoBlockRead(request, kReadModeBlock);
  if (status != kStatusOk) LOG(kLogDetail, "TOLDEX: BlockRead() , ret val is %d", status);
  return status;
}

int32_t DoBlockRead(DriverRequest* request, int mode) {
  InstanceRecord& instance = InstanceOf(request);
  GateIo& gate = ParamsOf<GateIo>(request);
  const TagText tag = CopyTagText(gate.address);
  const int blockSize = BlockSizeOf(gate);

  const GateTarget target = ClassifyGate(gate.plcNumber, gate.memoryType);
  switch (target.kind) {
    case GateKind::kSwitch:
      AnswerSwitchGate(instance, target.number, gate);
      return kStatusOk;
    case GateKind::kDiagnostic:
      AnswerDiagnosticGate(instance.stations[target.number], gate);
      return kStatusOk;
    case GateKind::kInvalid:
      return RefuseGate("DoBlockRead", tag.text, gate);
    case GateKind::kOrdinary:
    case GateKind::kScrut:
      break;
  }
  if (!ReadableByPlc(gate)) return RefuseGate("DoBlockRead", tag.text, gate);

  // A _SCRUT gate watches station n itself; an ordinary gate goes where its
  // PLC's switch points.
  const bool scrut = target.kind == GateKind::kScrut;
  const int plc = target.number;
  int station = scrut ? plc : SelectStation(instance, plc);
  if (!scrut) ReportPendingSwitch(request, plc);
  LOG(kLogDetail, "TolDEX : SingleRead() Tags for plc %d is read from plc %d sur ip : %s", gate.plcNumber,
      station, instance.stations[station].ip);

  uint8_t frame[kMaxFrameSize];
  int frameLength = 0;
  if (!FrameReadRequest(gate, instance, station, frame, &frameLength)) return kStatusRequestFailed;

  const bool switchesOnFailure = !scrut && instance.backups[plc].backupPlc != 0;
  const int passes = PassCount(instance, gate.plcNumber);
  ExchangeResult result;
  for (int pass = 0; pass < passes; ++pass) {
    VpiTcpSendRcv(instance, station, frame, frameLength, Flavour::kRead, tag.text, blockSize, result);
    if (result.aborted) return kStatusCommFailure;
    if (result.status != kStatusCommFailure) break;
    if (!switchesOnFailure) continue;
    // After every failed pass the pair switches, the last pass included, so
    // a read whose two passes fail ends on the station it started with.
    ToggleSwitch(instance, plc);
    station = SelectStation(instance, plc);
    MasterBackupManagement(request, kCallerReadWrite);
    if (pass + 1 < passes && !FrameReadRequest(gate, instance, station, frame, &frameLength)) {
      return kStatusRequestFailed;
    }
  }

  int32_t status = result.status;
  if (status == kStatusCommFailure) {
    FinishExchange(instance, station, Flavour::kRead, status, result.reply, tag.text, blockSize);
    FailOver(instance, gate.plcNumber);
  } else if (status == kStatusRequestFailed) {
    FinishExchange(instance, station, Flavour::kRead, status, result.reply, tag.text, blockSize);
  } else {
    if (scrut) MasterUpCheck(request, plc);
    status = DecodeReadReply(gate, result.reply + kMbapHeaderSize, instance.options, mode);
    FinishExchange(instance, station, Flavour::kRead, kStatusOk, result.reply, tag.text, blockSize);
  }
  return status;
}

}  // namespace toldex
