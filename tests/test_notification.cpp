// The notification thread against the host stand-in: registering queued
// switch and _SCRUT gates, storing switch values, ending on the host's
// shut-down and on request.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "addressing/registration_queue.h"
#include "driver/instance.h"
#include "driver/shared_field.h"
#include "platform/thread.h"
#include "qirpro.h"
#include "redundancy/notification.h"
#include "support/driver_fixture.h"
#include "support/log_capture.h"
#include "support/wait_for.h"

namespace toldex {
namespace {

using testing::InstanceBlock;
using testing::LogCapture;
using testing::WaitFor;

constexpr int kDriverNumber = 1;

// An instance as ColdStart leaves it for the thread: run-time state made,
// tables cleared, the driver number set.
void PrepareForThread(InstanceRecord& instance, int32_t driverNumber) {
  InitRuntimeState(instance);
  for (BackupEntry& entry : instance.backups) entry = BackupEntry{};
  for (StationRecord& station : instance.stations) {
    station = StationRecord{};
    station.socket = platform::kNoSocket;
  }
  instance.notification.threadDriverNumber = driverNumber;
}

class NotificationThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QirCtlReset();
    threadsBefore_ = platform::ThreadRunningCount();
    PrepareForThread(record(), kDriverNumber);
  }

  void TearDown() override {
    StopNotificationThread(record());
    QirCtlReset();
    EXPECT_EQ(platform::ThreadRunningCount(), threadsBefore_);
  }

  InstanceRecord& record() { return block_.record(); }

  void Start() { ASSERT_EQ(StartNotificationThread(record()), 0); }

  // Starts the thread with one switch gate of the PLC defined and queued,
  // and waits until the host has been asked for its changes.
  int32_t StartWithSwitchGate(int plc) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dBACKUP", plc);
    const int32_t gateId = QirCtlDefineGate(kDriverNumber, text);
    EXPECT_TRUE(QueueSwitchRegistration(record(), text, plc));
    Start();
    const std::string subscribed = std::string("TOLDEX: Setup message notification for ") + text + " gate OK.";
    EXPECT_TRUE(WaitFor([&] { return log_.Has(subscribed, 32); })) << log_.Dump();
    return gateId;
  }

  // Waits until the thread has taken `count` messages from the host.
  bool WaitForMessages(int count) {
    return WaitFor([&] {
      return log_.CountContaining("TOLDEX: A message has been received, msg is : ") >= count;
    });
  }

  LogCapture log_;
  InstanceBlock block_;
  int threadsBefore_ = 0;
};

TEST_F(NotificationThreadTest, RegistersWithTheHostAndLogsConnected) {
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Connected to QIRPRO", 32); })) << log_.Dump();
  EXPECT_EQ(QirCtlClientCount(), 1);
  EXPECT_NE(record().notification.hostClientId, 0);
  EXPECT_EQ(LoadShared(record().notification.threadRunning), 1);
}

TEST_F(NotificationThreadTest, RegistersASwitchGateWithEveryLine) {
  QirCtlDefineGate(kDriverNumber, "01BACKUP");  // id 1: the wanted gate gets another id
  const int32_t gateId = StartWithSwitchGate(5);
  ASSERT_EQ(gateId, 2);
  EXPECT_EQ(LoadShared(record().backups[5].switchGateId), 2);
  EXPECT_TRUE(log_.Has("TOLDEX:  - Get gate ID for 05BACKUP gate OK, Plc concerned is 5, tag id is 2.", 32))
      << log_.Dump();
  EXPECT_EQ(QirCtlSubscriptionCount(record().notification.hostClientId), 1);
  for (int plc = 1; plc <= kPlcCount; ++plc) {
    if (plc == 5) continue;
    EXPECT_EQ(record().backups[plc].switchGateId, 0) << "plc " << plc;
  }
}

TEST_F(NotificationThreadTest, HostValueIsStoredWholeAndLoggedWithTheSideItSelects) {
  struct Case {
    double value;
    const char* shown;
    const char* sideLine;
  };
  const Case cases[] = {
      {1.0, "1.000000", "TOLDEX: Driver will switch to Plc Backup for Plc 7"},
      {0.0, "0.000000", "TOLDEX: Driver will switch to Plc Master for Plc 7"},
      {0.5, "0.500000", "TOLDEX: Driver will switch to Plc Master for Plc 7"},
      {2.0, "2.000000", "TOLDEX: Driver will switch to Plc Master for Plc 7"},
      {1.0000000000000002, "1.000000", "TOLDEX: Driver will switch to Plc Master for Plc 7"},
      {-1.0, "-1.000000", "TOLDEX: Driver will switch to Plc Master for Plc 7"},
  };
  const int32_t gateId = StartWithSwitchGate(7);
  for (const Case& c : cases) {
    log_.Clear();
    StoreShared(record().switchPending, 0);
    ASSERT_EQ(QirCtlPostGateValue(gateId, c.value), 0);
    ASSERT_TRUE(WaitForMessages(1)) << log_.Dump();
    ASSERT_TRUE(WaitFor([&] { return log_.Has(c.sideLine, 32); })) << log_.Dump();
    const double stored = LoadSwitchValue(record(), 7);
    EXPECT_EQ(std::memcmp(&stored, &c.value, sizeof stored), 0) << "value " << c.value;
    EXPECT_EQ(LoadShared(record().switchPending), 1);
    EXPECT_TRUE(log_.Has("TOLDEX: A message has been received, msg is : 1", 8)) << log_.Dump();
    EXPECT_TRUE(log_.Has("TOLDEX: Backup Switch tag id " + std::to_string(gateId) + " has been set to " +
                             c.shown + ", concerned plc is 7",
                         32))
        << log_.Dump();
  }
}

TEST_F(NotificationThreadTest, SwitchGateOfPlc64UpdatesOnlyItsOwnEntry) {
  const int32_t gateId = StartWithSwitchGate(64);
  for (int plc = 0; plc < kBackupEntryCount; ++plc) StoreSwitchValue(record(), plc, 0.25);
  QirCtlPostGateValue(gateId, 1.0);
  ASSERT_TRUE(WaitForMessages(1)) << log_.Dump();
  ASSERT_TRUE(WaitFor([&] { return LoadShared(record().switchPending) == 1; }));
  EXPECT_EQ(LoadSwitchValue(record(), 64), 1.0);
  for (int plc = 0; plc < kPlcCount; ++plc) EXPECT_EQ(LoadSwitchValue(record(), plc), 0.25) << "plc " << plc;
}

TEST_F(NotificationThreadTest, MessageForGateZeroTouchesNoUnregisteredEntry) {
  StartWithSwitchGate(3);
  // Every entry but PLC 3's still has switch gate id 0.
  QirCtlPostMessage(kHostMessageGateChanged, 0, 1.0);
  ASSERT_TRUE(WaitForMessages(1)) << log_.Dump();
  for (int plc = 1; plc <= kPlcCount; ++plc) EXPECT_EQ(LoadSwitchValue(record(), plc), 0.0) << "plc " << plc;
  EXPECT_EQ(LoadShared(record().switchPending), 0);
  EXPECT_EQ(log_.CountContaining("Backup Switch tag id"), 0) << log_.Dump();
}

TEST_F(NotificationThreadTest, MessageOfAGateThatIsNoSwitchGateChangesNothing) {
  const int32_t scrutId = QirCtlDefineGate(kDriverNumber, "_SCRUT:4");
  ASSERT_TRUE(QueueScrutRegistration(record(), "_SCRUT:4", 4));
  StartWithSwitchGate(4);
  // The id is stored before the subscription is made: a change posted in
  // between reaches no one, so wait for the subscription itself.
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Setup message notification for _SCRUT:4 gate OK.", 32); }))
      << log_.Dump();
  ASSERT_EQ(LoadShared(record().stations[4].scrutGateId), scrutId);
  QirCtlPostGateValue(scrutId, 1.0);
  ASSERT_TRUE(WaitForMessages(1)) << log_.Dump();
  EXPECT_EQ(LoadSwitchValue(record(), 4), 0.0);
  EXPECT_EQ(LoadShared(record().switchPending), 0);
}

TEST_F(NotificationThreadTest, MessagesOfOtherKindsAreOnlyLogged) {
  const int32_t gateId = StartWithSwitchGate(2);
  QirCtlPostMessage(7, gateId, 1.0);
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: A message has been received, msg is : 7", 8); }))
      << log_.Dump();
  EXPECT_EQ(LoadSwitchValue(record(), 2), 0.0);
  EXPECT_EQ(LoadShared(record().switchPending), 0);
}

TEST_F(NotificationThreadTest, RegistersAScrutGateIntoItsStation) {
  QirCtlDefineGate(kDriverNumber, "something else");
  const int32_t scrutId = QirCtlDefineGate(kDriverNumber, "_SCRUT:200");
  ASSERT_TRUE(QueueScrutRegistration(record(), "_SCRUT:200", 200));
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Setup message notification for _SCRUT:200 gate OK.", 32); }))
      << log_.Dump();
  EXPECT_EQ(LoadShared(record().stations[200].scrutGateId), scrutId);
  EXPECT_TRUE(log_.Has("TOLDEX:  - Get gate ID for _SCRUT:200 gate OK, Plc concerned is 200, tag id is 2.", 32))
      << log_.Dump();
  for (int plc = 0; plc < kBackupEntryCount; ++plc) EXPECT_EQ(record().backups[plc].switchGateId, 0);
}

TEST_F(NotificationThreadTest, EveryGateQueuedWithinOneCycleIsRegistered) {
  const char* texts[] = {"10BACKUP", "11BACKUP", "12BACKUP"};
  int32_t ids[3];
  for (int i = 0; i < 3; ++i) {
    ids[i] = QirCtlDefineGate(kDriverNumber, texts[i]);
    ASSERT_TRUE(QueueSwitchRegistration(record(), texts[i], 10 + i));
  }
  const int32_t scrutIds[2] = {QirCtlDefineGate(kDriverNumber, "_SCRUT:10"),
                               QirCtlDefineGate(kDriverNumber, "_SCRUT:11")};
  ASSERT_TRUE(QueueScrutRegistration(record(), "_SCRUT:10", 10));
  ASSERT_TRUE(QueueScrutRegistration(record(), "_SCRUT:11", 11));
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.CountContaining("TOLDEX: Setup message notification for ") == 5; }))
      << log_.Dump();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(LoadShared(record().backups[10 + i].switchGateId), ids[i]);
  EXPECT_EQ(LoadShared(record().stations[10].scrutGateId), scrutIds[0]);
  EXPECT_EQ(LoadShared(record().stations[11].scrutGateId), scrutIds[1]);
  EXPECT_EQ(QirCtlSubscriptionCount(record().notification.hostClientId), 5);
}

TEST_F(NotificationThreadTest, GatesQueuedWhileRunningAreRegisteredInALaterCycle) {
  const int32_t first = StartWithSwitchGate(20);
  const int32_t second = QirCtlDefineGate(kDriverNumber, "21BACKUP");
  ASSERT_TRUE(QueueSwitchRegistration(record(), "21BACKUP", 21));
  ASSERT_TRUE(WaitFor([&] { return LoadShared(record().backups[21].switchGateId) == second; })) << log_.Dump();
  QirCtlPostGateValue(second, 1.0);
  ASSERT_TRUE(WaitFor([&] { return LoadSwitchValue(record(), 21) == 1.0; })) << log_.Dump();
  EXPECT_EQ(LoadSwitchValue(record(), 20), 0.0);
  EXPECT_EQ(LoadShared(record().backups[20].switchGateId), first);
}

TEST_F(NotificationThreadTest, GateLookUpFailureIsLoggedAndTheEntryStaysUnregistered) {
  ASSERT_TRUE(QueueSwitchRegistration(record(), "09BACKUP", 9));  // no such gate in the host
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Unable to get gate ID for 09BACKUP gate, Error = 3", 32); }))
      << log_.Dump();
  EXPECT_EQ(record().backups[9].switchGateId, 0);
  EXPECT_EQ(log_.CountContaining("notification for 09BACKUP"), 0) << log_.Dump();
  // Its id is still 0, and a message for gate 0 must not reach it.
  QirCtlPostMessage(kHostMessageGateChanged, 0, 1.0);
  ASSERT_TRUE(WaitForMessages(1));
  EXPECT_EQ(LoadSwitchValue(record(), 9), 0.0);
  EXPECT_EQ(LoadShared(record().switchPending), 0);
}

TEST_F(NotificationThreadTest, HostErrorsOfTheLookUpAndTheSubscriptionAreLoggedWithTheirCodes) {
  QirCtlDefineGate(kDriverNumber, "30BACKUP");
  QirCtlSetFailure("QirGetGateIdByAddressStr", 41);
  ASSERT_TRUE(QueueSwitchRegistration(record(), "30BACKUP", 30));
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Unable to get gate ID for 30BACKUP gate, Error = 41", 32); }))
      << log_.Dump();
  QirCtlSetFailure("QirGetGateIdByAddressStr", 0);
  QirCtlSetFailure("QirRqGateMsg", 42);
  ASSERT_TRUE(QueueSwitchRegistration(record(), "30BACKUP", 30));
  ASSERT_TRUE(WaitFor([&] {
    return log_.Has("TOLDEX: Unable to setup message notification for 30BACKUP gate, Error = 42", 32);
  })) << log_.Dump();
  // The id was found and is kept, so the entry counts as registered.
  EXPECT_EQ(LoadShared(record().backups[30].switchGateId), 1);
  EXPECT_TRUE(log_.Has("TOLDEX:  - Get gate ID for 30BACKUP gate OK, Plc concerned is 30, tag id is 1.", 32));
}

TEST_F(NotificationThreadTest, LooksGatesUpWithTheLowByteOfTheDriverNumber) {
  record().notification.threadDriverNumber = 0x1203;
  const int32_t other = QirCtlDefineGate(kDriverNumber, "08BACKUP");
  const int32_t wanted = QirCtlDefineGate(3, "08BACKUP");
  ASSERT_NE(other, wanted);
  ASSERT_TRUE(QueueSwitchRegistration(record(), "08BACKUP", 8));
  Start();
  ASSERT_TRUE(WaitFor([&] { return LoadShared(record().backups[8].switchGateId) == wanted; })) << log_.Dump();
}

TEST_F(NotificationThreadTest, ClientRegistrationFailureEndsTheThread) {
  QirCtlSetFailure("QirMkClient", 9);
  Start();
  ASSERT_TRUE(WaitFor([&] { return platform::ThreadRunningCount() == threadsBefore_; }));
  EXPECT_TRUE(log_.Has("TOLDEX: Connection to QIRPRO impossible, Error = 9", 32)) << log_.Dump();
  EXPECT_FALSE(log_.Has("TOLDEX: Connected to QIRPRO"));
  EXPECT_EQ(QirCtlClientCount(), 0);
}

TEST_F(NotificationThreadTest, HostShutDownEndsTheLoopAndUnregisters) {
  StartWithSwitchGate(1);
  QirCtlShutdown();
  ASSERT_TRUE(WaitFor([&] { return platform::ThreadRunningCount() == threadsBefore_; })) << log_.Dump();
  EXPECT_TRUE(log_.Has("TOLDEX: Addon TOLDEX:  receive QIR_SHUT_DOWN message", 32)) << log_.Dump();
  EXPECT_EQ(LoadShared(record().notification.threadRunning), 0);
  EXPECT_EQ(QirCtlClientCount(), 0);
}

TEST_F(NotificationThreadTest, StopEndsTheThreadAndUnregisters) {
  StartWithSwitchGate(1);
  ASSERT_EQ(platform::ThreadRunningCount(), threadsBefore_ + 1);
  StopNotificationThread(record());
  EXPECT_EQ(platform::ThreadRunningCount(), threadsBefore_);
  EXPECT_EQ(QirCtlClientCount(), 0);
  EXPECT_EQ(record().notification.thread, platform::kNoThread);
  EXPECT_EQ(log_.CountContaining("QIR_SHUT_DOWN"), 0);
  EXPECT_EQ(log_.CountContaining("Qirpro."), 0);
  StopNotificationThread(record());  // nothing left to stop
}

TEST_F(NotificationThreadTest, FailedUnregistrationIsLoggedInWindows1252) {
  StartWithSwitchGate(1);
  QirCtlSetFailure("QirRmClient", 5);
  StopNotificationThread(record());
  const std::string expected = "TOLDEX: Erreur de d\xE9" "connexion \xE0" " Qirpro.";
  ASSERT_EQ(expected.size(), 39u);
  EXPECT_EQ(static_cast<unsigned char>(expected[19]), 0xE9);
  EXPECT_EQ(static_cast<unsigned char>(expected[30]), 0xE0);
  EXPECT_TRUE(log_.Has(expected, 32)) << log_.Dump();
}

TEST_F(NotificationThreadTest, StartingAgainLeavesOneThreadAndOneClient) {
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.Has("TOLDEX: Connected to QIRPRO"); }));
  Start();
  ASSERT_TRUE(WaitFor([&] { return log_.Count("TOLDEX: Connected to QIRPRO") == 2; }));
  EXPECT_EQ(platform::ThreadRunningCount(), threadsBefore_ + 1);
  EXPECT_EQ(QirCtlClientCount(), 1);
}

TEST(NotificationThreads, TwoInstancesEachKeepTheirOwnClientAndValues) {
  QirCtlReset();
  LogCapture log;
  InstanceBlock first(1);
  InstanceBlock second(2);
  PrepareForThread(first.record(), 1);
  PrepareForThread(second.record(), 2);
  const int32_t firstGate = QirCtlDefineGate(1, "05BACKUP");
  const int32_t secondGate = QirCtlDefineGate(2, "05BACKUP");
  ASSERT_TRUE(QueueSwitchRegistration(first.record(), "05BACKUP", 5));
  ASSERT_TRUE(QueueSwitchRegistration(second.record(), "05BACKUP", 5));
  ASSERT_EQ(StartNotificationThread(first.record()), 0);
  ASSERT_EQ(StartNotificationThread(second.record()), 0);
  ASSERT_TRUE(WaitFor([&] {
    return LoadShared(first.record().backups[5].switchGateId) == firstGate &&
           LoadShared(second.record().backups[5].switchGateId) == secondGate;
  })) << log.Dump();
  EXPECT_NE(first.record().notification.hostClientId, second.record().notification.hostClientId);
  QirCtlPostGateValue(secondGate, 1.0);
  ASSERT_TRUE(WaitFor([&] { return LoadSwitchValue(second.record(), 5) == 1.0; })) << log.Dump();
  EXPECT_EQ(LoadShared(second.record().switchPending), 1);
  EXPECT_EQ(LoadSwitchValue(first.record(), 5), 0.0);
  EXPECT_EQ(LoadShared(first.record().switchPending), 0);
  StopNotificationThread(first.record());
  EXPECT_EQ(QirCtlClientCount(), 1);
  StopNotificationThread(second.record());
  EXPECT_EQ(QirCtlClientCount(), 0);
  QirCtlReset();
}

}  // namespace
}  // namespace toldex
