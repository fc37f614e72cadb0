#include "redundancy/switching.h"

#include "access/gate_kind.h"
#include "driver/log.h"
#include "driver/shared_field.h"
#include "platform/lock.h"

namespace toldex {
namespace {

constexpr double kBackupInUse = 1.0;
constexpr double kMasterInUse = 0.0;

bool IsPlc(int plc) { return plc >= 1 && plc <= kPlcCount; }

// The station that serves the PLC as backup; 0 for none, and a number outside
// the station table counts as none too.
int BackupOf(const InstanceRecord& instance, int plc) {
  const int backup = instance.backups[plc].backupPlc;
  return backup < kStationCount ? backup : 0;
}

// The backup serves the PLC: its switch value is exactly 1.0 and it has one.
bool BackupInUse(InstanceRecord& instance, int plc) {
  return BackupOf(instance, plc) != 0 && LoadSwitchValue(instance, plc) == kBackupInUse;
}

void SetSwitchPending(InstanceRecord& instance) { StoreShared(instance.switchPending, int32_t{1}); }

// The PLC whose switch a request of the read or write paths concerns: its
// gate's PLC, or the station of a _SCRUT gate; 0 when it names none.
int PlcOfGate(const GateIo& gate) {
  const GateTarget target = ClassifyPlcNumber(gate.plcNumber);
  if (target.kind == GateKind::kOrdinary || target.kind == GateKind::kScrut) return target.number;
  return 0;
}

}  // namespace

int SelectStation(InstanceRecord& instance, int plc) {
  // Without a backup the PLC's own station serves it, whatever its switch value.
  return BackupInUse(instance, plc) ? BackupOf(instance, plc) : plc;
}

int PassCount(InstanceRecord& instance, int32_t plcNumber) {
  const GateTarget target = ClassifyPlcNumber(plcNumber);
  if (target.kind != GateKind::kOrdinary) return 1;
  const int plc = target.number;
  if (LoadSwitchValue(instance, plc) == kMasterInUse && BackupOf(instance, plc) == 0) return 1;
  return 2;
}

void ToggleSwitch(InstanceRecord& instance, int plc) {
  platform::LockGuard guard(instance.switchLock);
  double& value = instance.backups[plc].switchValue;
  value = value == kMasterInUse ? kBackupInUse : kMasterInUse;
}

void ReportPendingSwitch(DriverRequest* request, int plc) {
  InstanceRecord& instance = InstanceOf(request);
  if (LoadShared(instance.switchPending) != 0 && BackupOf(instance, plc) != 0) {
    MasterBackupManagement(request, kCallerReadWrite);
  }
}

void FailOver(InstanceRecord& instance, int32_t plcNumber) {
  const GateTarget target = ClassifyPlcNumber(plcNumber);
  if (target.kind == GateKind::kOrdinary) {
    if (BackupOf(instance, target.number) != 0) {
      ToggleSwitch(instance, target.number);
      SetSwitchPending(instance);
    }
    return;
  }
  if (target.kind != GateKind::kScrut) return;
  // A failing _SCRUT gate hands its PLC to the backup only while the master
  // was in use; the test and the change are one step under the switch lock.
  const int plc = target.number;
  if (BackupOf(instance, plc) == 0) return;
  bool switched = false;
  {
    platform::LockGuard guard(instance.switchLock);
    double& value = instance.backups[plc].switchValue;
    if (value == kMasterInUse) {
      value = kBackupInUse;
      switched = true;
    }
  }
  if (switched) SetSwitchPending(instance);
}

void MasterUpCheck(DriverRequest* request, int station) {
  InstanceRecord& instance = InstanceOf(request);
  if (ExchangeShared(instance.stations[station].online, int32_t{1}) != 0) return;
  if (BackupInUse(instance, station)) {
    LOG(kLogEvent, "TOLDEX: Master is up again.");
    MasterBackupManagement(request, kCallerReadWrite);
  }
}

int MasterBackupManagement(DriverRequest* request, int caller) {
  InstanceRecord& instance = InstanceOf(request);
  LOG(kLogDetail, "TOLDEX: MasterBackupManagement(), entering function");
  int plc;
  if (caller == kCallerReadWrite) {
    LOG(kLogEvent,
        "TOLDEX: MasterBackupManagement(), caller is SingleRead or BlockRead, or SingleWrite or "
        "BlockWrite");
    plc = PlcOfGate(ParamsOf<GateIo>(request));
  } else {
    LOG(kLogEvent, "TOLDEX: MasterBackupManagement(), caller is WarmStart");
    plc = ParamsOf<WarmStartParams>(request).plcNumber;
  }
  if (IsPlc(plc)) {
    const bool toBackup = BackupInUse(instance, plc);
    const int station = toBackup ? BackupOf(instance, plc) : plc;
    if (toBackup) {
      LOG(kLogEvent, "TOLDEX: MasterBackupManagement(), Switch from Master to Backup Plc");
    } else {
      LOG(kLogEvent, "TOLDEX: MasterBackupManagement(), Switch from Backup to Master Plc");
    }
    LOG(kLogEvent, "TOLDEX: MasterBackupManagement(), Station qui va se connecter : %d", station);
  }
  StoreShared(instance.switchPending, int32_t{0});
  return 1;
}

}  // namespace toldex
