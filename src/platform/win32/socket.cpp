// Sockets on Windows: Windows Sockets itself, whose error numbers are the
// layer's own.
#include "platform/socket.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace toldex::platform {
namespace {

constexpr WORD kWinsockVersion = MAKEWORD(1, 1);

// The error is kept per thread apart from WSAGetLastError, which any later
// system call of the thread (a log line written to a file, say) may overwrite.
thread_local int t_lastError = 0;
std::atomic<int> g_openSockets{0};
std::once_flag g_implicitStartup;

SOCKET Native(SocketHandle socket) {
  return static_cast<SOCKET>(static_cast<uint32_t>(socket));
}

int Fail() {
  t_lastError = WSAGetLastError();
  return -1;
}

int FailWith(int error) {
  t_lastError = error;
  WSASetLastError(error);
  return -1;
}

// Socket handles are kernel handles, whose values fit in 32 bits on 64-bit
// Windows too.
SocketHandle Opened(SOCKET socket) {
  if (socket == INVALID_SOCKET) {
    Fail();
    return kNoSocket;
  }
  g_openSockets.fetch_add(1, std::memory_order_relaxed);
  return static_cast<SocketHandle>(static_cast<uint32_t>(socket));
}

// A program that makes sockets without calling SocketStartup first (a test
// peer, say) still gets working sockets; this reference is never released.
void EnsureStarted() {
  std::call_once(g_implicitStartup, [] {
    WSADATA data;
    WSAStartup(kWinsockVersion, &data);
  });
}

int SetTimeout(SocketHandle socket, int option, int32_t milliseconds) {
  const DWORD value = milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0;
  if (setsockopt(Native(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                 sizeof value) != 0) {
    return Fail();
  }
  return 0;
}

DWORD SendTimeoutOf(SocketHandle socket) {
  DWORD value = 0;
  int length = sizeof value;
  if (getsockopt(Native(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&value),
                 &length) != 0) {
    return 0;
  }
  return value;
}

int SetBlocking(SocketHandle socket, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  if (ioctlsocket(Native(socket), FIONBIO, &nonBlocking) != 0) return Fail();
  return 0;
}

void SetNoDelay(SocketHandle socket) {
  // Requests are small and a reply is awaited after each: never hold one back.
  BOOL on = TRUE;
  setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
             sizeof on);
}

// Waits for a non-blocking connect to finish within the time-out: 0, or the
// connect's error.
int AwaitConnect(SocketHandle socket, DWORD milliseconds) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &writable);
  FD_SET(Native(socket), &failed);
  timeval limit{};
  limit.tv_sec = static_cast<long>(milliseconds / 1000);
  limit.tv_usec = static_cast<long>(milliseconds % 1000) * 1000;
  const int ready = select(0, nullptr, &writable, &failed, &limit);
  if (ready == SOCKET_ERROR) return WSAGetLastError();
  if (ready == 0) return WSAETIMEDOUT;
  int error = 0;
  int length = sizeof error;
  if (getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                 &length) != 0) {
    return WSAGetLastError();
  }
  if (error == 0 && FD_ISSET(Native(socket), &failed)) error = WSAECONNREFUSED;
  return error;
}

}  // namespace

int SocketStartup() {
  WSADATA data;
  return WSAStartup(kWinsockVersion, &data);
}

int SocketCleanup() {
  if (WSACleanup() != 0) return WSAGetLastError();
  return 0;
}

SocketHandle SocketCreateTcp() {
  EnsureStarted();
  return Opened(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

int SocketSetSendTimeout(SocketHandle socket, int32_t milliseconds) {
  return SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

int SocketSetReceiveTimeout(SocketHandle socket, int32_t milliseconds) {
  return SetTimeout(socket, SO_RCVTIMEO, milliseconds);
}

// A blocking connect on Windows waits for the system's own retries, not for
// the send time-out; with a time-out set, the connect runs non-blocking and is
// awaited for that long, so that it behaves as on the other side.
int SocketConnect(SocketHandle socket, const SocketAddressV4& peer) {
  sockaddr_in address{};
  std::memcpy(&address, &peer, sizeof address);
  const auto* target = reinterpret_cast<const sockaddr*>(&address);
  const DWORD timeout = SendTimeoutOf(socket);
  if (timeout == 0) {
    if (::connect(Native(socket), target, sizeof address) != 0) return Fail();
    SetNoDelay(socket);
    return 0;
  }
  if (SetBlocking(socket, false) != 0) return -1;
  int error = 0;
  if (::connect(Native(socket), target, sizeof address) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) error = AwaitConnect(socket, timeout);
  }
  SetBlocking(socket, true);
  if (error != 0) return FailWith(error);
  SetNoDelay(socket);
  return 0;
}

int SocketSend(SocketHandle socket, const void* bytes, int length) {
  const int sent = ::send(Native(socket), static_cast<const char*>(bytes), length, 0);
  if (sent == SOCKET_ERROR) return Fail();
  return sent;
}

int SocketReceive(SocketHandle socket, void* buffer, int capacity) {
  const int received = ::recv(Native(socket), static_cast<char*>(buffer), capacity, 0);
  if (received == SOCKET_ERROR) return Fail();
  return received;
}

// Only what FIONREAD reports as waiting is read, so no receive ever blocks.
int SocketDiscardPending(SocketHandle socket) {
  char scratch[512];
  int discarded = 0;
  for (;;) {
    u_long waiting = 0;
    if (ioctlsocket(Native(socket), FIONREAD, &waiting) != 0) {
      Fail();
      return discarded > 0 ? discarded : -1;
    }
    if (waiting == 0) return discarded;
    const int wanted = waiting < sizeof scratch ? static_cast<int>(waiting) : sizeof scratch;
    const int received = ::recv(Native(socket), scratch, wanted, 0);
    if (received == 0) return discarded;  // the peer closed; the exchange will see it
    if (received == SOCKET_ERROR) {
      Fail();
      return discarded > 0 ? discarded : -1;
    }
    discarded += received;
  }
}

// Windows completes neither a blocked receive nor the wait of a connect when
// the socket is shut down: both are I/O on the socket's handle, which is
// cancelled here for every thread, so that they fail at once as the layer
// promises.
int SocketShutdown(SocketHandle socket) {
  const int result = ::shutdown(Native(socket), SD_BOTH) != 0 ? Fail() : 0;
  const int error = t_lastError;
  CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), nullptr);
  WSASetLastError(error);
  return result;
}

int SocketClose(SocketHandle socket) {
  if (::closesocket(Native(socket)) != 0) return Fail();
  g_openSockets.fetch_sub(1, std::memory_order_relaxed);
  return 0;
}

SocketAddressV4 MakeSocketAddress(const char* ipText, uint16_t port) {
  SocketAddressV4 address{};
  address.family = AF_INET;
  address.portNetworkOrder = htons(port);
  address.addressNetworkOrder = inet_addr(ipText);
  return address;
}

void SocketClearLastError() {
  t_lastError = 0;
  WSASetLastError(0);
}

int SocketLastError() { return t_lastError; }

SocketHandle SocketListen(const SocketAddressV4& address, int backlog) {
  const SocketHandle listener = SocketCreateTcp();
  if (listener == kNoSocket) return kNoSocket;
  BOOL on = TRUE;
  setsockopt(Native(listener), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
             sizeof on);
  sockaddr_in local{};
  std::memcpy(&local, &address, sizeof local);
  if (::bind(Native(listener), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(Native(listener), backlog) != 0) {
    Fail();
    const int saved = t_lastError;
    SocketClose(listener);
    t_lastError = saved;
    return kNoSocket;
  }
  return listener;
}

SocketHandle SocketAccept(SocketHandle listener) {
  const SocketHandle accepted = Opened(::accept(Native(listener), nullptr, nullptr));
  if (accepted != kNoSocket) SetNoDelay(accepted);
  return accepted;
}

uint16_t SocketLocalPort(SocketHandle socket) {
  sockaddr_in local{};
  int length = sizeof local;
  if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

int SocketCloseWithReset(SocketHandle socket) {
  linger value{};
  value.l_onoff = 1;
  value.l_linger = 0;
  setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
             sizeof value);
  return SocketClose(socket);
}

int SocketOpenCount() { return g_openSockets.load(std::memory_order_relaxed); }

}  // namespace toldex::platform
