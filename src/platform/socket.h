// TCP sockets for the driver and its tests.
//
// Contract, the same on every operating system:
// - every call is blocking; send and receive time-outs are socket options in
//   milliseconds, set once per socket; a send, receive or connect that runs
//   into its time-out fails with 10060;
// - errors are Windows Sockets numbers on every side (10060 time-out, 10061
//   refused, 10054 reset, 10053 aborted, 10038 not a socket ...); the last one
//   of the calling thread is read with SocketLastError and cleared with
//   SocketClearLastError;
// - a send to a closed peer fails with an error and never raises a signal;
// - socket handles are 32-bit numbers, kNoSocket means none.
#pragma once

#include <cstdint>

namespace toldex::platform {

using SocketHandle = int32_t;
constexpr SocketHandle kNoSocket = -1;

// Windows Sockets error numbers used by the driver's checks and log lines.
constexpr int kSockErrInterrupted = 10004;
constexpr int kSockErrBadHandle = 10009;
constexpr int kSockErrAccess = 10013;
constexpr int kSockErrInvalid = 10022;
constexpr int kSockErrTooManyOpen = 10024;
constexpr int kSockErrWouldBlock = 10035;
constexpr int kSockErrInProgress = 10036;
constexpr int kSockErrNotSocket = 10038;
constexpr int kSockErrAddressInUse = 10048;
constexpr int kSockErrAddressNotAvailable = 10049;
constexpr int kSockErrNetworkDown = 10050;
constexpr int kSockErrNetworkUnreachable = 10051;
constexpr int kSockErrConnectionAborted = 10053;
constexpr int kSockErrConnectionReset = 10054;
constexpr int kSockErrNoBuffers = 10055;
constexpr int kSockErrIsConnected = 10056;
constexpr int kSockErrNotConnected = 10057;
constexpr int kSockErrShutdown = 10058;
constexpr int kSockErrTimedOut = 10060;
constexpr int kSockErrConnectionRefused = 10061;
constexpr int kSockErrHostUnreachable = 10065;

// An IPv4 socket address with the layout of the system's: family, port in
// network byte order, address in network byte order, eight zero bytes.
struct SocketAddressV4 {
  uint16_t family;
  uint16_t portNetworkOrder;
  uint32_t addressNetworkOrder;
  uint8_t zero[8];
};
static_assert(sizeof(SocketAddressV4) == 16);

// Starts and stops the socket library (Windows Sockets 1.1). Return 0, or the
// system's error code.
int SocketStartup();
int SocketCleanup();

// A TCP stream socket, or kNoSocket.
SocketHandle SocketCreateTcp();
// 0, or -1 (the error is in SocketLastError).
int SocketSetSendTimeout(SocketHandle socket, int32_t milliseconds);
int SocketSetReceiveTimeout(SocketHandle socket, int32_t milliseconds);
// Blocking connect; obeys the send time-out. 0 or -1.
int SocketConnect(SocketHandle socket, const SocketAddressV4& peer);
// One send or receive call: the count, 0 from a receive when the peer closed,
// -1 on an error.
int SocketSend(SocketHandle socket, const void* bytes, int length);
int SocketReceive(SocketHandle socket, void* buffer, int capacity);
// Reads and drops whatever bytes wait on the socket, without blocking.
// Returns how many were dropped (0 when none), -1 on an error.
int SocketDiscardPending(SocketHandle socket);
// Shuts both directions down: a connect or receive blocked on the socket in
// another thread fails at once. 0 or -1.
int SocketShutdown(SocketHandle socket);
// 0 or -1.
int SocketClose(SocketHandle socket);

// htons of the port, inet_addr of the text (INADDR_NONE when it is no address).
SocketAddressV4 MakeSocketAddress(const char* ipText, uint16_t port);

void SocketClearLastError();
int SocketLastError();

// Server side, for the test peers and tools: a listener bound to the address
// (port 0 picks a free one), an accepted connection, and the local port.
SocketHandle SocketListen(const SocketAddressV4& address, int backlog);
SocketHandle SocketAccept(SocketHandle listener);
uint16_t SocketLocalPort(SocketHandle socket);
// Closes with a reset (linger 0) instead of an orderly close.
int SocketCloseWithReset(SocketHandle socket);
// Sockets created through this layer and not yet closed.
int SocketOpenCount();

}  // namespace toldex::platform
