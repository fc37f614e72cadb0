// Sockets on POSIX, speaking Windows Sockets error numbers.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace toldex::platform {
namespace {

thread_local int t_lastError = 0;
std::atomic<int> g_openSockets{0};

// The one place where errno becomes a Windows Sockets number.
int WinsockErrorFromErrno(int error) {
  switch (error) {
    case 0: return 0;
    case EINTR: return kSockErrInterrupted;
    case EACCES: return kSockErrAccess;
    case EPERM: return kSockErrAccess;
    case EINVAL: return kSockErrInvalid;
    case EMFILE: return kSockErrTooManyOpen;
    case ENFILE: return kSockErrTooManyOpen;
    // A blocking call that runs into its SO_SNDTIMEO/SO_RCVTIMEO fails with
    // EAGAIN, and a blocking connect with EINPROGRESS: both are time-outs.
    case EAGAIN: return kSockErrTimedOut;
    case EINPROGRESS: return kSockErrTimedOut;
    case ETIMEDOUT: return kSockErrTimedOut;
    case EALREADY: return kSockErrInProgress;
    case EBADF: return kSockErrNotSocket;
    case ENOTSOCK: return kSockErrNotSocket;
    case EADDRINUSE: return kSockErrAddressInUse;
    case EADDRNOTAVAIL: return kSockErrAddressNotAvailable;
    case ENETDOWN: return kSockErrNetworkDown;
    case ENETUNREACH: return kSockErrNetworkUnreachable;
    case ECONNABORTED: return kSockErrConnectionAborted;
    case ECONNRESET: return kSockErrConnectionReset;
    case EPIPE: return kSockErrConnectionReset;
    case ENOBUFS: return kSockErrNoBuffers;
    case ENOMEM: return kSockErrNoBuffers;
    case EISCONN: return kSockErrIsConnected;
    case ENOTCONN: return kSockErrNotConnected;
    case ESHUTDOWN: return kSockErrShutdown;
    case ECONNREFUSED: return kSockErrConnectionRefused;
    case EHOSTUNREACH: return kSockErrHostUnreachable;
    case EHOSTDOWN: return kSockErrHostUnreachable;
    default: return kSockErrInvalid;
  }
}

int Fail() {
  t_lastError = WinsockErrorFromErrno(errno);
  return -1;
}

int SetTimeout(SocketHandle socket, int option, int32_t milliseconds) {
  timeval value{};
  if (milliseconds > 0) {
    value.tv_sec = milliseconds / 1000;
    value.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
  }
  if (setsockopt(socket, SOL_SOCKET, option, &value, sizeof value) != 0) return Fail();
  return 0;
}

SocketHandle Opened(int fd) {
  if (fd < 0) {
    Fail();
    return kNoSocket;
  }
  g_openSockets.fetch_add(1, std::memory_order_relaxed);
  return fd;
}

}  // namespace

int SocketStartup() { return 0; }

int SocketCleanup() { return 0; }

SocketHandle SocketCreateTcp() {
  return Opened(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

int SocketSetSendTimeout(SocketHandle socket, int32_t milliseconds) {
  return SetTimeout(socket, SO_SNDTIMEO, milliseconds);
}

int SocketSetReceiveTimeout(SocketHandle socket, int32_t milliseconds) {
  return SetTimeout(socket, SO_RCVTIMEO, milliseconds);
}

int SocketConnect(SocketHandle socket, const SocketAddressV4& peer) {
  sockaddr_in address{};
  std::memcpy(&address, &peer, sizeof address);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Fail();
  }
  // Requests are small and a reply is awaited after each: never hold one back.
  int on = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return 0;
}

int SocketSend(SocketHandle socket, const void* bytes, int length) {
  const ssize_t sent = ::send(socket, bytes, static_cast<size_t>(length), MSG_NOSIGNAL);
  if (sent < 0) return Fail();
  return static_cast<int>(sent);
}

int SocketReceive(SocketHandle socket, void* buffer, int capacity) {
  const ssize_t received = ::recv(socket, buffer, static_cast<size_t>(capacity), 0);
  if (received < 0) return Fail();
  return static_cast<int>(received);
}

int SocketDiscardPending(SocketHandle socket) {
  unsigned char scratch[512];
  int discarded = 0;
  for (;;) {
    const ssize_t received = ::recv(socket, scratch, sizeof scratch, MSG_DONTWAIT);
    if (received > 0) {
      discarded += static_cast<int>(received);
      continue;
    }
    if (received == 0) return discarded;  // the peer closed; the exchange will see it
    if (errno == EAGAIN || errno == EWOULDBLOCK) return discarded;
    if (errno == EINTR) continue;
    Fail();
    return discarded > 0 ? discarded : -1;
  }
}

int SocketShutdown(SocketHandle socket) {
  if (::shutdown(socket, SHUT_RDWR) != 0) return Fail();
  return 0;
}

int SocketClose(SocketHandle socket) {
  if (::close(socket) != 0) return Fail();
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

void SocketClearLastError() { t_lastError = 0; }

int SocketLastError() { return t_lastError; }

SocketHandle SocketListen(const SocketAddressV4& address, int backlog) {
  const SocketHandle listener = SocketCreateTcp();
  if (listener == kNoSocket) return kNoSocket;
  int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  std::memcpy(&local, &address, sizeof local);
  if (::bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::listen(listener, backlog) != 0) {
    Fail();
    const int saved = t_lastError;
    SocketClose(listener);
    t_lastError = saved;
    return kNoSocket;
  }
  return listener;
}

SocketHandle SocketAccept(SocketHandle listener) {
  const SocketHandle accepted = Opened(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  if (accepted != kNoSocket) {
    int on = 1;
    setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  return accepted;
}

uint16_t SocketLocalPort(SocketHandle socket) {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

int SocketCloseWithReset(SocketHandle socket) {
  linger value{};
  value.l_onoff = 1;
  value.l_linger = 0;
  setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value);
  return SocketClose(socket);
}

int SocketOpenCount() { return g_openSockets.load(std::memory_order_relaxed); }

}  // namespace toldex::platform
