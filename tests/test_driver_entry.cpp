// The entry point, the operation table and the small operations of the driver.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/host_records.h"
#include "driver/instance.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"

namespace toldex {
namespace {

using testing::InstanceBlock;
using testing::LogCapture;

TEST(GetVpiInfo, FillsTheRecordAndLeavesByte24Alone) {
  DriverInfo info;
  std::memset(&info, 0x5A, sizeof info);
  info.untouched24 = 0x01020304;
  DriverRequest request{};
  request.op = kOpGetVpiInfo;
  request.params = &info;  // no instance: GetVpiInfo does not touch it
  ASSERT_EQ(VpiMain(&request), 0);
  EXPECT_EQ(info.infoValue, 80);
  EXPECT_STREQ(info.driverName, "Modicon Modbus TCP/IP");
  EXPECT_STREQ(info.driverBanner, "ModBus/J-BUS 32 Bit TCP/IP driver Installed.\n");
  EXPECT_EQ(info.instanceSize, static_cast<int32_t>(sizeof(InstanceRecord)));
  EXPECT_EQ(info.infoType, 3);
  EXPECT_EQ(info.infoFlag1, 1);
  EXPECT_EQ(info.infoFlag2, 0);
  EXPECT_EQ(info.untouched24, 0x01020304);
  EXPECT_EQ(info.infoBits, 0x00880022);
}

TEST(VpiMain, CodesWithoutAnOperationReturnOneAndCallNothing) {
  LogCapture log;
  for (int32_t op : {8, 9, 0, -1, 17, 1000, INT32_MIN, INT32_MAX}) {
    DriverRequest request{};
    request.op = op;  // no instance, no params: nothing may be touched
    EXPECT_EQ(VpiMain(&request), 1) << "op " << op;
  }
  EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST(VpiMain, SerialSlotsSucceedBeforeColdStart) {
  DriverRequest request{};
  request.op = kOpCloseCom;
  EXPECT_EQ(VpiMain(&request), 0);
  request.op = kOpReOpenCom;
  EXPECT_EQ(VpiMain(&request), 0);
}

TEST(ChangeVpiParams, StoresTheTimeOutUnscaledAndAlwaysReturnsTwo) {
  struct Case {
    int32_t newTimeoutMs;
    int32_t expected;
  };
  const Case cases[] = {{0, 4321}, {-1, 4321}, {250, 250}, {1, 1}, {-7, -7}};
  for (const Case& c : cases) {
    InstanceBlock block;
    block.record().timeoutMs = 4321;
    LogCapture log;
    ChangeParams params{};
    params.newTimeoutMs = c.newTimeoutMs;
    EXPECT_EQ(block.Call(kOpChangeVpiParams, &params), 2);
    EXPECT_EQ(block.record().timeoutMs, c.expected) << "newTimeoutMs " << c.newTimeoutMs;
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u) << log.Dump();
    EXPECT_EQ(lines[0].level, 8);
    EXPECT_EQ(lines[0].text, "TOLDEX: ChangeVpiParams() entered");
    EXPECT_EQ(lines[1].level, 32);
    EXPECT_EQ(lines[1].text, "TOLDEX: ChangeVpiParams() open new COM port failed");
  }
}

TEST(Records, ParsedAddressTravelsFieldForFieldFromGateAddressToGateIo) {
  // The host copies GateAddress bytes 16..35 into GateIo bytes 8..27.
  EXPECT_EQ(offsetof(GateIo, plcNumber) - offsetof(GateAddress, plcNumber) + offsetof(GateAddress, plcNumber),
            offsetof(GateIo, plcNumber));
  EXPECT_EQ(offsetof(GateAddress, bitWidth) - offsetof(GateAddress, plcNumber),
            offsetof(GateIo, bitWidth) - offsetof(GateIo, plcNumber));
  EXPECT_EQ(sizeof(HostMessage), 24u);
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(DriverRequest), 20u);
    EXPECT_EQ(sizeof(GateIo), 44u);
    EXPECT_EQ(sizeof(GateAddress), 36u);
  }
}

TEST(InstanceRecord, IsLargeEnoughForEveryTableAndReportedWhole) {
  InstanceRecord* record = nullptr;
  EXPECT_EQ(sizeof(record->stations) / sizeof(record->stations[0]), 256u);
  EXPECT_EQ(sizeof(record->backups) / sizeof(record->backups[0]), 65u);
  EXPECT_EQ(sizeof(record->warmStartShadows) / sizeof(record->warmStartShadows[0]), 256u);
  EXPECT_GE(sizeof(record->stations[0].ip), 16u);
}

}  // namespace
}  // namespace toldex
