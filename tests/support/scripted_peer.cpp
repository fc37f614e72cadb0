#include "support/scripted_peer.h"

#include <chrono>
#include <cstdlib>

namespace toldex::testing {
namespace {

constexpr int kHeaderSize = 6;
constexpr int kLengthHigh = 4;
constexpr int kLengthLow = 5;
constexpr int kFunctionCode = 7;
constexpr int kWriteReplySize = 12;
constexpr uint8_t kExceptionBit = 0x80;
constexpr int kFillerConnectTimeoutMs = 300;
// A receive on a connection returns this often to look at the stop flag: a
// receive blocked in one thread is not reliably woken by a shutdown from
// another on every system.
constexpr int kStopPollMs = 50;
constexpr int kMaxFillers = 64;

uint16_t WordAt(const Bytes& frame, size_t offset) {
  if (frame.size() < offset + 2) return 0;
  return static_cast<uint16_t>((frame[offset] << 8) | frame[offset + 1]);
}

// The header of a reply to `request` with `following` bytes after it.
Bytes ReplyHeader(const Bytes& request, size_t following) {
  Bytes reply(request.begin(), request.begin() + std::min<size_t>(request.size(), kHeaderSize));
  reply.resize(kHeaderSize, 0);
  reply[kLengthHigh] = static_cast<uint8_t>(following >> 8);
  reply[kLengthLow] = static_cast<uint8_t>(following & 0xFF);
  return reply;
}

platform::SocketHandle ListenOn(const std::string& ip, int backlog) {
  return platform::SocketListen(platform::MakeSocketAddress(ip.c_str(), 0), backlog);
}

}  // namespace

// --- PeerAction ---------------------------------------------------------------

PeerAction PeerAction::Reply(Bytes bytes, int pauseMs) {
  PeerAction action;
  action.kind = Kind::kReply;
  action.pieces.push_back(std::move(bytes));
  action.pauseMs = pauseMs;
  return action;
}

PeerAction PeerAction::Split(std::vector<Bytes> pieces, int pauseMs) {
  PeerAction action;
  action.kind = Kind::kReply;
  action.pieces = std::move(pieces);
  action.pauseMs = pauseMs;
  return action;
}

PeerAction PeerAction::Silence() { return PeerAction{}; }

PeerAction PeerAction::Close() {
  PeerAction action;
  action.kind = Kind::kClose;
  return action;
}

PeerAction PeerAction::Reset() {
  PeerAction action;
  action.kind = Kind::kReset;
  return action;
}

// --- ScriptedPeer -------------------------------------------------------------

ScriptedPeer::ScriptedPeer(const std::string& ip) : ip_(ip) {
  EnsureSocketLibrary();
  listener_ = ListenOn(ip_, 16);
  if (listener_ == platform::kNoSocket) std::abort();
  port_ = platform::SocketLocalPort(listener_);
  thread_ = platform::ThreadStart(&ScriptedPeer::Serve, this);
  if (thread_ == platform::kNoThread) std::abort();
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    // A receive blocked on the connection returns at once.
    if (connection_ != platform::kNoSocket) platform::SocketShutdown(connection_);
  }
  changed_.notify_all();
  // An accept blocked on the listener returns with this connection.
  const platform::SocketHandle wake = platform::SocketCreateTcp();
  platform::SocketConnect(wake, platform::MakeSocketAddress(ip_.c_str(), port_));
  platform::ThreadJoin(thread_);
  platform::SocketClose(wake);
  platform::SocketClose(listener_);
}

void ScriptedPeer::Queue(PeerAction action) {
  std::lock_guard<std::mutex> guard(mutex_);
  queue_.push_back(std::move(action));
}

void ScriptedPeer::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> guard(mutex_);
  responder_ = std::move(responder);
}

bool ScriptedPeer::Inject(const Bytes& bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (connection_ == platform::kNoSocket) return false;
  std::lock_guard<std::mutex> sending(sendMutex_);
  return platform::SocketSend(connection_, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

std::vector<Bytes> ScriptedPeer::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

size_t ScriptedPeer::RequestCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_.size();
}

bool ScriptedPeer::WaitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(mutex_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= count; });
}

int ScriptedPeer::ConnectionCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return connections_;
}

void ScriptedPeer::Serve(void* raw) {
  auto* self = static_cast<ScriptedPeer*>(raw);
  for (;;) {
    const platform::SocketHandle accepted = platform::SocketAccept(self->listener_);
    {
      std::lock_guard<std::mutex> guard(self->mutex_);
      if (self->stopping_ || accepted == platform::kNoSocket) {
        if (accepted != platform::kNoSocket) platform::SocketClose(accepted);
        return;
      }
      self->connection_ = accepted;
      ++self->connections_;
    }
    platform::SocketSetReceiveTimeout(accepted, kStopPollMs);
    self->changed_.notify_all();
    self->ServeConnection(accepted);
  }
}

void ScriptedPeer::ServeConnection(platform::SocketHandle connection) {
  Bytes request;
  while (ReadRequest(connection, request)) {
    PeerAction action;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      requests_.push_back(request);
      action = NextAction(request);
    }
    changed_.notify_all();
    if (action.kind == PeerAction::Kind::kClose || action.kind == PeerAction::Kind::kReset) {
      CloseConnection(action.kind == PeerAction::Kind::kReset);
      return;
    }
    if (action.kind == PeerAction::Kind::kReply && !Perform(connection, action)) break;
  }
  CloseConnection(false);
}

bool ScriptedPeer::ReadRequest(platform::SocketHandle connection, Bytes& request) {
  request.assign(kHeaderSize, 0);
  auto readExactly = [&](size_t from, size_t count) {
    size_t done = 0;
    while (done < count) {
      const int got = platform::SocketReceive(connection, request.data() + from + done,
                                              static_cast<int>(count - done));
      if (got < 0 && platform::SocketLastError() == platform::kSockErrTimedOut && !Stopping()) {
        continue;
      }
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  };
  if (!readExactly(0, kHeaderSize)) return false;
  const size_t following = WordAt(request, kLengthHigh);
  request.resize(kHeaderSize + following);
  return readExactly(kHeaderSize, following);
}

bool ScriptedPeer::Stopping() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return stopping_;
}

PeerAction ScriptedPeer::NextAction(const Bytes& request) {
  if (!queue_.empty()) {
    PeerAction action = std::move(queue_.front());
    queue_.pop_front();
    return action;
  }
  return responder_ ? responder_(request) : PeerAction::Silence();
}

bool ScriptedPeer::Perform(platform::SocketHandle connection, const PeerAction& action) {
  for (const Bytes& piece : action.pieces) {
    if (action.pauseMs > 0) {
      std::unique_lock<std::mutex> guard(mutex_);
      if (changed_.wait_for(guard, std::chrono::milliseconds(action.pauseMs),
                            [&] { return stopping_; })) {
        return false;
      }
    }
    std::lock_guard<std::mutex> sending(sendMutex_);
    if (platform::SocketSend(connection, piece.data(), static_cast<int>(piece.size())) < 0) {
      return true;  // the client went away; the next receive ends the connection
    }
  }
  return true;
}

void ScriptedPeer::CloseConnection(bool reset) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (connection_ == platform::kNoSocket) return;
  if (reset) {
    platform::SocketCloseWithReset(connection_);
  } else {
    platform::SocketClose(connection_);
  }
  connection_ = platform::kNoSocket;
}

// --- Replies --------------------------------------------------------------------

uint16_t RegisterPattern(uint16_t address) {
  return static_cast<uint16_t>(address * 257u + 0x1111u);
}

bool BitPattern(uint16_t address) { return (address % 3) == 0; }

Bytes NormalReply(const Bytes& request) {
  if (request.size() < kFunctionCode + 1) return {};
  const uint8_t function = request[kFunctionCode];
  const uint16_t start = WordAt(request, 8);
  const uint16_t quantity = WordAt(request, 10);
  Bytes data;
  switch (function) {
    case 1:
    case 2: {
      data.assign((quantity + 7) / 8, 0);
      for (uint16_t i = 0; i < quantity; ++i) {
        if (BitPattern(static_cast<uint16_t>(start + i))) data[i / 8] |= 1 << (i % 8);
      }
      break;
    }
    case 3:
    case 4:
      for (uint16_t i = 0; i < quantity; ++i) {
        const uint16_t value = RegisterPattern(static_cast<uint16_t>(start + i));
        data.push_back(static_cast<uint8_t>(value >> 8));
        data.push_back(static_cast<uint8_t>(value & 0xFF));
      }
      break;
    default: {  // writes: unit, function, address and value or quantity
      Bytes reply(request.begin(),
                  request.begin() + std::min<size_t>(request.size(), kWriteReplySize));
      reply.resize(kWriteReplySize, 0);
      reply[kLengthHigh] = 0;
      reply[kLengthLow] = kWriteReplySize - kHeaderSize;
      return reply;
    }
  }
  Bytes reply = ReplyHeader(request, 3 + data.size());
  reply.push_back(request[6]);
  reply.push_back(function);
  reply.push_back(static_cast<uint8_t>(data.size()));
  reply.insert(reply.end(), data.begin(), data.end());
  return reply;
}

Bytes ExceptionReply(const Bytes& request, uint8_t code) {
  Bytes reply = ReplyHeader(request, 3);
  reply.push_back(request.size() > 6 ? request[6] : 0);
  reply.push_back(static_cast<uint8_t>((request.size() > 7 ? request[7] : 0) | kExceptionBit));
  reply.push_back(code);
  return reply;
}

Responder AnswerNormally() {
  return [](const Bytes& request) { return PeerAction::Reply(NormalReply(request)); };
}

Bytes ReadFrame(uint8_t transactionId, uint8_t unit, uint8_t function, uint16_t start,
                uint16_t quantity) {
  return Bytes{0,
               transactionId,
               0,
               0,
               0,
               6,
               unit,
               function,
               static_cast<uint8_t>(start >> 8),
               static_cast<uint8_t>(start & 0xFF),
               static_cast<uint8_t>(quantity >> 8),
               static_cast<uint8_t>(quantity & 0xFF)};
}

// --- HangingListener ---------------------------------------------------------------

HangingListener::HangingListener(const std::string& ip) {
  EnsureSocketLibrary();
  listener_ = ListenOn(ip, 0);
  if (listener_ == platform::kNoSocket) std::abort();
  port_ = platform::SocketLocalPort(listener_);
  const platform::SocketAddressV4 address = platform::MakeSocketAddress(ip.c_str(), port_);
  // Connect until one connect hangs: the queue is then full.
  for (int i = 0; i < kMaxFillers; ++i) {
    const platform::SocketHandle filler = platform::SocketCreateTcp();
    platform::SocketSetSendTimeout(filler, kFillerConnectTimeoutMs);
    if (platform::SocketConnect(filler, address) != 0) {
      platform::SocketClose(filler);
      break;
    }
    fillers_.push_back(filler);
  }
}

HangingListener::~HangingListener() {
  for (platform::SocketHandle socket : fillers_) platform::SocketClose(socket);
  for (platform::SocketHandle socket : accepted_) platform::SocketClose(socket);
  platform::SocketClose(listener_);
}

int HangingListener::Drain() {
  if (!accepted_.empty()) return 0;
  for (size_t i = 0; i < fillers_.size(); ++i) {
    const platform::SocketHandle accepted = platform::SocketAccept(listener_);
    if (accepted == platform::kNoSocket) break;
    accepted_.push_back(accepted);
  }
  return static_cast<int>(accepted_.size());
}

uint16_t UnusedPort(const std::string& ip) {
  EnsureSocketLibrary();
  const platform::SocketHandle listener = ListenOn(ip, 1);
  const uint16_t port = platform::SocketLocalPort(listener);
  platform::SocketClose(listener);
  return port;
}

void EnsureSocketLibrary() {
  static const int started = platform::SocketStartup();
  (void)started;
}

}  // namespace toldex::testing
