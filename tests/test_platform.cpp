// The platform layer's contract, the same on every system: sockets that speak
// Windows Sockets error numbers, manual-reset events, threads and locks. Run
// natively on Linux and under Wine for the Windows side.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/lock.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "support/wait_for.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace toldex::platform {
namespace {

using testing::WaitFor;

// Wine (8.0) takes linger 0 but closes in order all the same: a peer's reset
// cannot be made there. Its ntdll says what it is.
bool ResetsAreOrderlyCloses() {
#if defined(_WIN32)
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

constexpr char kLoopback[] = "127.0.0.1";
constexpr int32_t kShortTimeoutMs = 200;
constexpr int kBacklog = 4;

// A listener on a free loopback port and the connection made to it.
class Connected : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SocketStartup(), 0);
    listener_ = SocketListen(MakeSocketAddress(kLoopback, 0), kBacklog);
    ASSERT_NE(listener_, kNoSocket) << SocketLastError();
    port_ = SocketLocalPort(listener_);
    ASSERT_NE(port_, 0);
    client_ = SocketCreateTcp();
    ASSERT_NE(client_, kNoSocket);
    ASSERT_EQ(SocketConnect(client_, MakeSocketAddress(kLoopback, port_)), 0) << SocketLastError();
    server_ = SocketAccept(listener_);
    ASSERT_NE(server_, kNoSocket) << SocketLastError();
  }
  void TearDown() override {
    for (SocketHandle* socket : {&client_, &server_, &listener_}) {
      if (*socket != kNoSocket) SocketClose(*socket);
    }
    SocketCleanup();
  }
  // Sends all bytes from one end.
  static void SendAll(SocketHandle socket, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const int n = SocketSend(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
      ASSERT_GT(n, 0) << SocketLastError();
      sent += static_cast<size_t>(n);
    }
  }

  SocketHandle listener_ = kNoSocket;
  SocketHandle client_ = kNoSocket;
  SocketHandle server_ = kNoSocket;
  uint16_t port_ = 0;
};

TEST_F(Connected, BytesGoBothWays) {
  const std::vector<uint8_t> request = {0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03};
  SendAll(client_, request);
  std::vector<uint8_t> received(request.size());
  size_t got = 0;
  while (got < received.size()) {
    const int n = SocketReceive(server_, received.data() + got, static_cast<int>(received.size() - got));
    ASSERT_GT(n, 0) << SocketLastError();
    got += static_cast<size_t>(n);
  }
  EXPECT_EQ(received, request);
  SendAll(server_, {0x42});
  uint8_t answer = 0;
  ASSERT_EQ(SocketReceive(client_, &answer, 1), 1);
  EXPECT_EQ(answer, 0x42);
}

TEST_F(Connected, AReceiveThatRunsIntoItsTimeOutFailsWith10060) {
  ASSERT_EQ(SocketSetReceiveTimeout(client_, kShortTimeoutMs), 0);
  SocketClearLastError();
  uint8_t byte = 0;
  EXPECT_EQ(SocketReceive(client_, &byte, 1), -1);
  EXPECT_EQ(SocketLastError(), kSockErrTimedOut);
  SocketClearLastError();
  EXPECT_EQ(SocketLastError(), 0);
}

TEST_F(Connected, AnOrderlyCloseOfThePeerReadsAsZero) {
  ASSERT_EQ(SocketClose(server_), 0);
  server_ = kNoSocket;
  uint8_t byte = 0;
  EXPECT_EQ(SocketReceive(client_, &byte, 1), 0);
}

TEST_F(Connected, AResetByThePeerFailsTheReceiveWith10054) {
  if (ResetsAreOrderlyCloses()) GTEST_SKIP() << "Wine closes a socket with linger 0 in order";
  ASSERT_EQ(SocketCloseWithReset(server_), 0);
  server_ = kNoSocket;
  uint8_t byte = 0;
  EXPECT_EQ(SocketReceive(client_, &byte, 1), -1);
  EXPECT_EQ(SocketLastError(), kSockErrConnectionReset);
}

// A send to a peer that is gone fails (and raises no signal that would end the
// process): the first sends may still be taken by the system.
TEST_F(Connected, SendingToAResetPeerFailsWithAnAbortOrAReset) {
  ASSERT_EQ(SocketCloseWithReset(server_), 0);
  server_ = kNoSocket;
  const uint8_t bytes[64] = {};
  int result = 0;
  ASSERT_TRUE(WaitFor([&] { return (result = SocketSend(client_, bytes, sizeof bytes)) == -1; }));
  const int error = SocketLastError();
  EXPECT_TRUE(error == kSockErrConnectionReset || error == kSockErrConnectionAborted) << error;
}

TEST_F(Connected, DiscardDropsWhatWaitsAndNeverBlocks) {
  // Nothing waits: the discard returns at once, even without a time-out.
  ASSERT_EQ(SocketSetReceiveTimeout(client_, 0), 0);
  EXPECT_EQ(SocketDiscardPending(client_), 0);

  constexpr size_t kStale = 1500;  // more than one read of the discard
  SendAll(server_, std::vector<uint8_t>(kStale, 0x5A));
  int dropped = 0;
  EXPECT_TRUE(WaitFor([&] {
    const int n = SocketDiscardPending(client_);
    if (n > 0) dropped += n;
    return dropped >= static_cast<int>(kStale);
  }));
  EXPECT_EQ(dropped, static_cast<int>(kStale));

  // What comes after the discard is read as usual.
  SendAll(server_, {0x01, 0x02});
  uint8_t fresh[2] = {};
  int got = 0;
  while (got < 2) {
    const int n = SocketReceive(client_, fresh + got, 2 - got);
    ASSERT_GT(n, 0);
    got += n;
  }
  EXPECT_EQ(fresh[0], 0x01);
  EXPECT_EQ(fresh[1], 0x02);
}

struct BlockedReceive {
  SocketHandle socket;
  std::atomic<bool> started{false};
  std::atomic<int> result{1};
};

void ReceiveOnce(void* raw) {
  auto* receive = static_cast<BlockedReceive*>(raw);
  receive->started.store(true);
  uint8_t byte = 0;
  receive->result.store(SocketReceive(receive->socket, &byte, 1));
}

TEST_F(Connected, AShutdownEndsAReceiveBlockedInAnotherThread) {
  ASSERT_EQ(SocketSetReceiveTimeout(client_, 0), 0);  // would wait for ever
  BlockedReceive receive;
  receive.socket = client_;
  const ThreadHandle thread = ThreadStart(ReceiveOnce, &receive);
  ASSERT_NE(thread, kNoThread);
  ASSERT_TRUE(WaitFor([&] { return receive.started.load(); }));
  EXPECT_EQ(SocketShutdown(client_), 0);
  const bool ended = WaitFor([&] { return receive.result.load() != 1; });
  EXPECT_TRUE(ended) << "the receive still waits";
  if (!ended) {
    SocketClose(client_);  // the last resort, so that the thread can be joined
    client_ = kNoSocket;
  }
  ThreadJoin(thread);
  EXPECT_LE(receive.result.load(), 0);
}

TEST(Sockets, ConnectingWhereNobodyListensFailsWith10061) {
  ASSERT_EQ(SocketStartup(), 0);
  // A port that was free a moment ago.
  const SocketHandle probe = SocketListen(MakeSocketAddress(kLoopback, 0), 1);
  ASSERT_NE(probe, kNoSocket);
  const uint16_t port = SocketLocalPort(probe);
  ASSERT_EQ(SocketClose(probe), 0);

  for (int32_t sendTimeoutMs : {0, kShortTimeoutMs}) {
    const SocketHandle socket = SocketCreateTcp();
    ASSERT_NE(socket, kNoSocket);
    ASSERT_EQ(SocketSetSendTimeout(socket, sendTimeoutMs), 0);
    SocketClearLastError();
    EXPECT_EQ(SocketConnect(socket, MakeSocketAddress(kLoopback, port)), -1);
    EXPECT_EQ(SocketLastError(), kSockErrConnectionRefused) << "send time-out " << sendTimeoutMs;
    EXPECT_EQ(SocketClose(socket), 0);
  }
  SocketCleanup();
}

// A listener whose queue is full lets new connects wait: the first that does
// not complete within its send time-out fails with 10060.
TEST(Sockets, AConnectThatRunsIntoTheSendTimeOutFailsWith10060) {
  ASSERT_EQ(SocketStartup(), 0);
  const SocketHandle listener = SocketListen(MakeSocketAddress(kLoopback, 0), 1);
  ASSERT_NE(listener, kNoSocket);
  const SocketAddressV4 address = MakeSocketAddress(kLoopback, SocketLocalPort(listener));
  constexpr int kMostQueued = 16;
  std::vector<SocketHandle> sockets;
  int error = 0;
  for (int i = 0; i < kMostQueued && error == 0; ++i) {
    const SocketHandle socket = SocketCreateTcp();
    ASSERT_NE(socket, kNoSocket);
    sockets.push_back(socket);
    ASSERT_EQ(SocketSetSendTimeout(socket, kShortTimeoutMs), 0);
    if (SocketConnect(socket, address) != 0) error = SocketLastError();
  }
  EXPECT_EQ(error, kSockErrTimedOut) << "no connect waited among " << kMostQueued;
  for (SocketHandle socket : sockets) SocketClose(socket);
  SocketClose(listener);
  SocketCleanup();
}

struct BlockedConnect {
  SocketHandle socket;
  SocketAddressV4 address;
  std::atomic<bool> started{false};
  std::atomic<int> result{1};
};

void ConnectOnce(void* raw) {
  auto* connect = static_cast<BlockedConnect*>(raw);
  connect->started.store(true);
  connect->result.store(SocketConnect(connect->socket, connect->address));
}

TEST(Sockets, AShutdownEndsAConnectBlockedInAnotherThread) {
  ASSERT_EQ(SocketStartup(), 0);
  const SocketHandle listener = SocketListen(MakeSocketAddress(kLoopback, 0), 1);
  ASSERT_NE(listener, kNoSocket);
  const SocketAddressV4 address = MakeSocketAddress(kLoopback, SocketLocalPort(listener));
  // Fill the listener's queue, so that the next connect waits.
  std::vector<SocketHandle> queued;
  for (int i = 0; i < 16; ++i) {
    const SocketHandle socket = SocketCreateTcp();
    ASSERT_NE(socket, kNoSocket);
    queued.push_back(socket);
    ASSERT_EQ(SocketSetSendTimeout(socket, kShortTimeoutMs), 0);
    if (SocketConnect(socket, address) != 0) break;
  }
  BlockedConnect connect;
  connect.socket = SocketCreateTcp();
  connect.address = address;
  ASSERT_NE(connect.socket, kNoSocket);
  // A long time-out: only the shut-down can end the connect soon.
  constexpr int32_t kLongTimeoutMs = 600000;
  ASSERT_EQ(SocketSetSendTimeout(connect.socket, kLongTimeoutMs), 0);
  const ThreadHandle thread = ThreadStart(ConnectOnce, &connect);
  ASSERT_NE(thread, kNoThread);
  ASSERT_TRUE(WaitFor([&] { return connect.started.load(); }));
  // The shut-down must end the connect whether it comes before or during it.
  EXPECT_TRUE(WaitFor([&] {
    SocketShutdown(connect.socket);
    return connect.result.load() != 1;
  }));
  ThreadJoin(thread);
  EXPECT_EQ(connect.result.load(), -1);
  SocketClose(connect.socket);
  for (SocketHandle socket : queued) SocketClose(socket);
  SocketClose(listener);
  SocketCleanup();
}

TEST(Sockets, OpenCountFollowsCreateAcceptAndClose) {
  ASSERT_EQ(SocketStartup(), 0);
  const int before = SocketOpenCount();
  const SocketHandle listener = SocketListen(MakeSocketAddress(kLoopback, 0), 1);
  ASSERT_NE(listener, kNoSocket);
  const SocketHandle client = SocketCreateTcp();
  ASSERT_EQ(SocketConnect(client, MakeSocketAddress(kLoopback, SocketLocalPort(listener))), 0);
  const SocketHandle accepted = SocketAccept(listener);
  ASSERT_NE(accepted, kNoSocket);
  EXPECT_EQ(SocketOpenCount(), before + 3);
  EXPECT_EQ(SocketClose(accepted), 0);
  EXPECT_EQ(SocketCloseWithReset(client), 0);
  EXPECT_EQ(SocketClose(listener), 0);
  EXPECT_EQ(SocketOpenCount(), before);
  SocketCleanup();
}

TEST(Sockets, UsingAClosedHandleFailsWithAnError) {
  ASSERT_EQ(SocketStartup(), 0);
  const SocketHandle socket = SocketCreateTcp();
  ASSERT_NE(socket, kNoSocket);
  ASSERT_EQ(SocketClose(socket), 0);
  uint8_t byte = 0;
  SocketClearLastError();
  EXPECT_EQ(SocketReceive(socket, &byte, 1), -1);
  EXPECT_EQ(SocketLastError(), kSockErrNotSocket);
  SocketCleanup();
}

TEST(SocketAddress, HasTheSystemLayoutInNetworkOrder) {
  struct Case {
    const char* text;
    uint16_t port;
    uint8_t address[4];
    uint8_t portBytes[2];
  };
  const Case cases[] = {
      {"127.0.0.1", 502, {127, 0, 0, 1}, {0x01, 0xF6}},
      {"127.0.0.10", 1, {127, 0, 0, 10}, {0x00, 0x01}},
      {"127.1.2.3", 65535, {127, 1, 2, 3}, {0xFF, 0xFF}},
      {"0.0.0.0", 0, {0, 0, 0, 0}, {0x00, 0x00}},
      // inet_addr's answer to what is no address, and to the broadcast one.
      {"no address", 502, {0xFF, 0xFF, 0xFF, 0xFF}, {0x01, 0xF6}},
      {"127.0.0.256", 502, {0xFF, 0xFF, 0xFF, 0xFF}, {0x01, 0xF6}},
      {"255.255.255.255", 502, {0xFF, 0xFF, 0xFF, 0xFF}, {0x01, 0xF6}},
  };
  for (const Case& c : cases) {
    const SocketAddressV4 address = MakeSocketAddress(c.text, c.port);
    uint8_t bytes[sizeof address];
    std::memcpy(bytes, &address, sizeof address);
    EXPECT_EQ(address.family, 2) << c.text;  // AF_INET on every system
    EXPECT_EQ(bytes[2], c.portBytes[0]) << c.text;
    EXPECT_EQ(bytes[3], c.portBytes[1]) << c.text;
    EXPECT_EQ(0, std::memcmp(bytes + 4, c.address, 4)) << c.text;
    EXPECT_EQ(0, std::memcmp(address.zero, "\0\0\0\0\0\0\0\0", 8)) << c.text;
  }
}

TEST(Events, AreManualResetAndSeenByEveryWait) {
  const int before = EventOpenCount();
  const EventHandle event = EventCreate();
  ASSERT_NE(event, kNoEvent);
  EXPECT_EQ(EventOpenCount(), before + 1);
  EXPECT_EQ(EventWait(event, 0), WaitResult::kTimedOut);
  EXPECT_EQ(EventWait(event, 20), WaitResult::kTimedOut);
  ASSERT_EQ(EventSet(event), 0);
  EXPECT_EQ(EventWait(event, 0), WaitResult::kSignalled);
  EXPECT_EQ(EventWait(event, 20), WaitResult::kSignalled) << "a wait does not reset it";
  ASSERT_EQ(EventReset(event), 0);
  EXPECT_EQ(EventWait(event, 0), WaitResult::kTimedOut);
  EventClose(event);
  EXPECT_EQ(EventOpenCount(), before);
}

TEST(Events, NoEventIsAFailureNotACrash) {
  EXPECT_EQ(EventSet(kNoEvent), -1);
  EXPECT_EQ(EventReset(kNoEvent), -1);
  EXPECT_EQ(EventWait(kNoEvent, 0), WaitResult::kFailed);
  EventClose(kNoEvent);
}

void SetFromThread(void* raw) { EventSet(static_cast<EventHandle>(raw)); }

TEST(Events, ASetInAnotherThreadEndsAWait) {
  const EventHandle event = EventCreate();
  ASSERT_NE(event, kNoEvent);
  const ThreadHandle thread = ThreadStart(SetFromThread, event);
  ASSERT_NE(thread, kNoThread);
  EXPECT_EQ(EventWait(event, 60000), WaitResult::kSignalled);
  ThreadJoin(thread);
  EventClose(event);
}

struct Counted {
  Lock lock;
  std::atomic<int> entered{0};
  long total = 0;  // guarded by lock
};

void AddUnderTheLock(void* raw) {
  auto* counted = static_cast<Counted*>(raw);
  counted->entered.fetch_add(1);
  for (int i = 0; i < 20000; ++i) {
    LockGuard guard(counted->lock);
    counted->total = counted->total + 1;
  }
}

TEST(Threads, JoinableThreadsRunTheirBodyWithTheArgument) {
  const int before = ThreadRunningCount();
  Counted counted{};
  LockInit(counted.lock);
  ThreadHandle threads[3];
  for (ThreadHandle& thread : threads) {
    thread = ThreadStart(AddUnderTheLock, &counted);
    ASSERT_NE(thread, kNoThread);
  }
  for (ThreadHandle thread : threads) ThreadJoin(thread);
  EXPECT_EQ(counted.entered.load(), 3);
  EXPECT_EQ(counted.total, 3 * 20000);
  EXPECT_EQ(ThreadRunningCount(), before);
}

TEST(Threads, DetachedThreadsRunAndLeaveTheCount) {
  const int before = ThreadRunningCount();
  static Counted counted;  // zero bytes: an unlocked lock, no LockInit
  ASSERT_EQ(ThreadStartDetached(AddUnderTheLock, &counted), 0);
  ASSERT_EQ(ThreadStartDetached(AddUnderTheLock, &counted), 0);
  EXPECT_TRUE(WaitFor([&] { return ThreadRunningCount() == before; }));
  LockGuard guard(counted.lock);
  EXPECT_EQ(counted.total, 2 * 20000);
}

TEST(Locks, LockInitMakesALockInMemoryOfAnyContent) {
  Lock lock;
  std::memset(&lock, 0xA5, sizeof lock);
  LockInit(lock);
  LockAcquire(lock);
  LockRelease(lock);
  LockAcquire(lock);
  LockRelease(lock);
}

TEST(Clock, TheMonotonicClockNeverGoesBack) {
  uint64_t last = MonotonicMilliseconds();
  for (int i = 0; i < 5; ++i) {
    SleepMilliseconds(2);
    const uint64_t now = MonotonicMilliseconds();
    EXPECT_GE(now, last);
    last = now;
  }
  EXPECT_NE(CurrentThreadId(), 0u);
}

}  // namespace
}  // namespace toldex::platform
