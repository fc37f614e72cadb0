// Which station serves a PLC: its own (the master) or its backup, by the PLC's
// switch value; the toggles after failures and the reports of every switch.
#pragma once

#include <cstdint>

#include "driver/host_records.h"
#include "driver/instance.h"

namespace toldex {

constexpr int kCallerReadWrite = 0;
constexpr int kCallerWarmStart = 1;

int SelectStation(InstanceRecord& instance, int plc);
// 1 or 2 passes for the gate's plcNumber (1 for a _SCRUT gate).
int PassCount(InstanceRecord& instance, int32_t plcNumber);
void ToggleSwitch(InstanceRecord& instance, int plc);
void ReportPendingSwitch(DriverRequest* request, int plc);
void FailOver(InstanceRecord& instance, int32_t plcNumber);
void MasterUpCheck(DriverRequest* request, int station);
// Always 1.
int MasterBackupManagement(DriverRequest* request, int caller);

}  // namespace toldex
