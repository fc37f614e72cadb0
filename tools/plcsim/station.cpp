#include "plcsim/station.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "plcsim/reply_builder.h"

namespace plcsim {
namespace {

constexpr int kListenBacklog = 128;
// While not accepting, the accept queue holds one connection (backlog 0) and
// the station fills it itself; a connect that has not completed after this
// long is hanging, so the queue is full.
constexpr int kFullBacklog = 0;
constexpr int kFillerProbeMs = 100;
constexpr int kMaxFillers = 8;
// How often the accept thread collects the threads of closed connections
// when nothing wakes it.
constexpr int kReapIntervalMs = 200;
constexpr int kRelistenRetryMs = 50;
constexpr uint32_t kLoopbackNet = 0x7F000000;
constexpr uint32_t kLoopbackMask = 0xFF000000;
constexpr int kLengthHighOffset = 4;
constexpr int kLengthLowOffset = 5;
constexpr int kUnitOffset = 6;
constexpr int kFunctionOffset = 7;
constexpr int kMinimumPduLength = 2;  // unit id and function code
constexpr int kMaximumPduLength = kMaxAduLength - kMbapHeaderLength + 1;
constexpr int kWaitPollMs = 5;

bool ReceiveExactly(int fd, uint8_t* buffer, int length) {
  int total = 0;
  while (total < length) {
    const ssize_t got = recv(fd, buffer + total, static_cast<size_t>(length - total), 0);
    if (got > 0) {
      total += static_cast<int>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool SendAll(int fd, const uint8_t* bytes, int length) {
  int total = 0;
  while (total < length) {
    const ssize_t sent = send(fd, bytes + total, static_cast<size_t>(length - total), MSG_NOSIGNAL);
    if (sent > 0) {
      total += static_cast<int>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

// One request frame: the header, then as many bytes as its length field
// counts. -1 when the connection ends or the header is impossible.
int ReadRequest(int fd, uint8_t* buffer) {
  if (!ReceiveExactly(fd, buffer, kMbapHeaderLength)) return -1;
  const int pduLength = (buffer[kLengthHighOffset] << 8) | buffer[kLengthLowOffset];
  if (pduLength < kMinimumPduLength || pduLength > kMaximumPduLength) return -1;
  if (!ReceiveExactly(fd, buffer + kMbapHeaderLength, pduLength - 1)) return -1;
  return kMbapHeaderLength + pduLength - 1;
}

bool ParseLoopback(const std::string& text, sockaddr_in& address, uint16_t port) {
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, text.c_str(), &address.sin_addr) != 1) return false;
  return (ntohl(address.sin_addr.s_addr) & kLoopbackMask) == kLoopbackNet;
}

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

struct Station::Connection {
  int fd = -1;  // -1 once its thread has closed it; guarded by connectionsMutex_
  std::atomic<bool> closeRequested{false};
  std::atomic<bool> finished{false};
  std::thread thread;
};

uint64_t StationCounters::FaultTotal() const {
  uint64_t total = 0;
  for (int kind = 1; kind < kFaultKindCount; ++kind) total += faults[kind];
  return total;
}

Station::Station(const StationConfig& config)
    : number_(config.number),
      address_(config.address),
      port_(config.port),
      mapping_(modbus_mapping_new(kAddressCount, kAddressCount, kAddressCount, kAddressCount)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      chaos_(config.chaos) {
  ResetRegisters();
}

Station::~Station() {
  Stop();
  if (mapping_ != nullptr) modbus_mapping_free(mapping_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

bool Station::Start() {
  std::lock_guard<std::mutex> control(controlMutex_);
  if (running_) return true;
  if (mapping_ == nullptr || wakeFd_ < 0) {
    SetError("out of resources");
    return false;
  }
  {
    std::lock_guard<std::mutex> listener(listenerMutex_);
    if (!OpenListenerLocked()) return false;
  }
  stopping_ = false;
  restartPending_ = false;
  acceptThread_ = std::thread(&Station::AcceptLoop, this);
  running_ = true;
  runningFlag_ = true;
  return true;
}

void Station::Stop() {
  std::lock_guard<std::mutex> control(controlMutex_);
  if (!running_) return;
  {
    std::lock_guard<std::mutex> pause(pauseMutex_);
    stopping_ = true;
  }
  pauseCv_.notify_all();
  Wake();
  acceptThread_.join();
  CloseAllConnections();
  {
    std::lock_guard<std::mutex> listener(listenerMutex_);
    CloseListenerLocked();
  }
  running_ = false;
  runningFlag_ = false;
}

bool Station::Running() const { return runningFlag_.load(); }

void Station::SetSilent(bool silent) { silent_ = silent; }

void Station::SetReplyDelay(uint32_t milliseconds) { replyDelayMs_ = milliseconds; }

void Station::SetAccepting(bool accepting) {
  std::lock_guard<std::mutex> listener(listenerMutex_);
  if (accepting_ == accepting) return;
  accepting_ = accepting;
  if (listenFd_ < 0) return;
  if (accepting) {
    // The hanging filler goes before the queue opens, so that a late SYN of
    // it cannot be queued.
    ReleaseFillersLocked();
    listen(listenFd_, kListenBacklog);
    Wake();
  } else {
    FillBacklogLocked();
  }
}

void Station::SetChaos(const ChaosConfig& chaos) {
  std::lock_guard<std::mutex> guard(chaosMutex_);
  chaos_ = chaos;
  sequence_ = 0;
  history_.clear();
}

ChaosConfig Station::Chaos() const {
  std::lock_guard<std::mutex> guard(chaosMutex_);
  return chaos_;
}

bool Station::GetBit(Area area, uint16_t address) const {
  std::lock_guard<std::mutex> guard(dataMutex_);
  const uint8_t* table = area == Area::kCoils ? mapping_->tab_bits : mapping_->tab_input_bits;
  return table[address] != 0;
}

void Station::SetBit(Area area, uint16_t address, bool value) {
  std::lock_guard<std::mutex> guard(dataMutex_);
  uint8_t* table = area == Area::kCoils ? mapping_->tab_bits : mapping_->tab_input_bits;
  table[address] = value ? 1 : 0;
}

uint16_t Station::GetRegister(Area area, uint16_t address) const {
  std::lock_guard<std::mutex> guard(dataMutex_);
  const uint16_t* table = area == Area::kInputRegisters ? mapping_->tab_input_registers : mapping_->tab_registers;
  return table[address];
}

void Station::SetRegister(Area area, uint16_t address, uint16_t value) {
  std::lock_guard<std::mutex> guard(dataMutex_);
  uint16_t* table = area == Area::kInputRegisters ? mapping_->tab_input_registers : mapping_->tab_registers;
  table[address] = value;
}

uint32_t Station::GetPair(Area area, uint16_t first) const {
  std::lock_guard<std::mutex> guard(dataMutex_);
  const uint16_t* table = area == Area::kInputRegisters ? mapping_->tab_input_registers : mapping_->tab_registers;
  return JoinWords(table[first], table[static_cast<uint16_t>(first + 1)]);
}

void Station::SetPair(Area area, uint16_t first, uint32_t value) {
  std::lock_guard<std::mutex> guard(dataMutex_);
  uint16_t* table = area == Area::kInputRegisters ? mapping_->tab_input_registers : mapping_->tab_registers;
  table[first] = static_cast<uint16_t>(value >> 16);
  table[static_cast<uint16_t>(first + 1)] = static_cast<uint16_t>(value);
}

void Station::ResetRegisters() {
  if (mapping_ == nullptr) return;
  std::lock_guard<std::mutex> guard(dataMutex_);
  for (uint32_t a = 0; a < kAddressCount; ++a) {
    const auto address = static_cast<uint16_t>(a);
    mapping_->tab_bits[a] = StartBit(Area::kCoils, address) ? 1 : 0;
    mapping_->tab_input_bits[a] = StartBit(Area::kDiscreteInputs, address) ? 1 : 0;
    mapping_->tab_registers[a] = StartRegister(Area::kHoldingRegisters, address, number_);
    mapping_->tab_input_registers[a] = StartRegister(Area::kInputRegisters, address, number_);
  }
}

StationCounters Station::Counters() const {
  StationCounters counters;
  counters.connectionsAccepted = connectionsAccepted_;
  counters.connectionsOpen = connectionsOpen_;
  counters.requestsReceived = requestsReceived_;
  counters.requestsDropped = requestsDropped_;
  counters.requestsExecuted = requestsExecuted_;
  counters.repliesSent = repliesSent_;
  counters.restarts = restarts_;
  counters.lastUnitId = lastUnitId_;
  counters.lastFunctionCode = lastFunctionCode_;
  for (int code = 0; code < kFunctionCodeCount; ++code) counters.requestsByFunction[code] = requestsByFunction_[code];
  std::lock_guard<std::mutex> guard(chaosMutex_);
  counters.faults = faults_;
  return counters;
}

void Station::ResetCounters() {
  connectionsAccepted_ = 0;
  requestsReceived_ = 0;
  requestsDropped_ = 0;
  requestsExecuted_ = 0;
  repliesSent_ = 0;
  restarts_ = 0;
  lastUnitId_ = -1;
  lastFunctionCode_ = -1;
  for (auto& count : requestsByFunction_) count = 0;
  std::lock_guard<std::mutex> guard(chaosMutex_);
  faults_.fill(0);
}

std::vector<FaultKind> Station::FaultHistory() const {
  std::lock_guard<std::mutex> guard(chaosMutex_);
  return std::vector<FaultKind>(history_.begin(), history_.end());
}

bool Station::WaitFor(const std::function<bool(const StationCounters&)>& condition, uint32_t timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition(Counters())) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitPollMs));
  }
}

std::string Station::LastError() const {
  std::lock_guard<std::mutex> guard(errorMutex_);
  return lastError_;
}

void Station::SetError(const std::string& text) {
  std::lock_guard<std::mutex> guard(errorMutex_);
  lastError_ = text;
}

bool Station::OpenListenerLocked() {
  sockaddr_in address;
  if (!ParseLoopback(address_, address, port_)) {
    SetError("not a loopback address (127.0.0.0/8): " + address_);
    return false;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    SetError(SystemError("socket"));
    return false;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, accepting_ ? kListenBacklog : kFullBacklog) != 0) {
    SetError(SystemError(("bind " + address_ + ":" + std::to_string(port_)).c_str()));
    close(fd);
    return false;
  }
  sockaddr_in bound;
  socklen_t boundLength = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  port_ = ntohs(bound.sin_port);
  listenFd_ = fd;
  if (!accepting_) FillBacklogLocked();
  return true;
}

void Station::CloseListenerLocked() {
  ReleaseFillersLocked();
  fillerEndpoints_.clear();
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
}

// Connects to the station's own listener until a connect hangs: then the
// accept queue is full and every further connect hangs too.
void Station::FillBacklogLocked() {
  listen(listenFd_, kFullBacklog);
  fillerEndpoints_.clear();
  sockaddr_in address;
  ParseLoopback(address_, address, port_);
  for (int i = 0; i < kMaxFillers; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    fillers_.push_back(fd);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) return;
    pollfd probe{fd, POLLOUT, 0};
    if (poll(&probe, 1, kFillerProbeMs) == 0) return;  // hanging: full
    // Connected, so queued: remember it, to drop it when it is accepted.
    sockaddr_in local;
    socklen_t localLength = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
    fillerEndpoints_.emplace_back(local.sin_addr.s_addr, local.sin_port);
  }
}

void Station::ReleaseFillersLocked() {
  for (int fd : fillers_) close(fd);
  fillers_.clear();
}

void Station::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

// Waits for the wake event; false when it came before the time was up.
bool Station::WaitForWake(uint32_t milliseconds) {
  pollfd wake{wakeFd_, POLLIN, 0};
  const int ready = poll(&wake, 1, static_cast<int>(milliseconds));
  if (ready > 0) {
    uint64_t count;
    [[maybe_unused]] ssize_t got = read(wakeFd_, &count, sizeof count);
    return false;
  }
  return true;
}

void Station::AcceptLoop() {
  while (!stopping_) {
    if (restartPending_.exchange(false)) {
      Restart(restartDownMs_);
      continue;
    }
    ReapFinishedConnections();
    int listenFd;
    {
      std::lock_guard<std::mutex> listener(listenerMutex_);
      listenFd = accepting_ ? listenFd_ : -1;
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {listenFd, POLLIN, 0}};
    const nfds_t count = listenFd >= 0 ? 2 : 1;
    if (poll(fds, count, kReapIntervalMs) <= 0) continue;
    if (fds[0].revents != 0) {
      uint64_t wakes;
      [[maybe_unused]] ssize_t got = read(wakeFd_, &wakes, sizeof wakes);
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) AcceptOne();
  }
}

void Station::AcceptOne() {
  std::lock_guard<std::mutex> listener(listenerMutex_);
  if (!accepting_ || listenFd_ < 0) return;
  sockaddr_in peer;
  socklen_t peerLength = sizeof peer;
  const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
  if (fd < 0) return;
  for (auto it = fillerEndpoints_.begin(); it != fillerEndpoints_.end(); ++it) {
    if (it->first == peer.sin_addr.s_addr && it->second == peer.sin_port) {
      fillerEndpoints_.erase(it);
      close(fd);
      return;
    }
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  auto connection = std::make_unique<Connection>();
  connection->fd = fd;
  Connection* raw = connection.get();
  ++connectionsAccepted_;
  ++connectionsOpen_;
  std::lock_guard<std::mutex> guard(connectionsMutex_);
  connections_.push_back(std::move(connection));
  raw->thread = std::thread(&Station::ServeConnection, this, raw);
}

void Station::Restart(uint32_t downMs) {
  ++restarts_;
  {
    std::lock_guard<std::mutex> listener(listenerMutex_);
    CloseListenerLocked();
  }
  CloseAllConnections();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(downMs);
  while (!stopping_ && std::chrono::steady_clock::now() < until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    WaitForWake(static_cast<uint32_t>(std::max<int64_t>(left.count(), 1)));
  }
  while (!stopping_) {
    {
      std::lock_guard<std::mutex> listener(listenerMutex_);
      if (OpenListenerLocked()) return;
    }
    WaitForWake(kRelistenRetryMs);
  }
}

void Station::CloseAllConnections() {
  std::list<std::unique_ptr<Connection>> closing;
  {
    std::lock_guard<std::mutex> guard(connectionsMutex_);
    for (auto& connection : connections_) {
      connection->closeRequested = true;
      if (connection->fd >= 0) shutdown(connection->fd, SHUT_RDWR);
    }
    closing.splice(closing.end(), connections_);
  }
  { std::lock_guard<std::mutex> pause(pauseMutex_); }
  pauseCv_.notify_all();
  for (auto& connection : closing) connection->thread.join();
}

void Station::ReapFinishedConnections() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> guard(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      auto next = std::next(it);
      if ((*it)->finished) finished.splice(finished.end(), connections_, it);
      it = next;
    }
  }
  for (auto& connection : finished) connection->thread.join();
}

FaultPlan Station::NextPlan(ChaosConfig& config) {
  std::lock_guard<std::mutex> guard(chaosMutex_);
  config = chaos_;
  if (!chaos_.enabled) return {};
  const FaultPlan plan = ChaosPlanFor(chaos_, number_, sequence_++);
  ++faults_[static_cast<int>(plan.kind)];
  history_.push_back(plan.kind);
  if (history_.size() > kFaultHistoryLength) history_.pop_front();
  return plan;
}

// Sleeps unless the station stops or the connection is closed meanwhile:
// true when the whole time passed.
bool Station::Pause(const Connection* connection, uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(pauseMutex_);
  return !pauseCv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [&] { return stopping_.load() || connection->closeRequested.load(); });
}

void Station::WaitUntilClosed(const Connection* connection) {
  std::unique_lock<std::mutex> lock(pauseMutex_);
  pauseCv_.wait(lock, [&] { return stopping_.load() || connection->closeRequested.load(); });
}

bool Station::SendOutcome(const Connection* connection, int fd, const FaultOutcome& outcome) {
  int start = 0;
  for (int piece = 0; piece < outcome.pieceCount; ++piece) {
    if (outcome.pieceGapMs[piece] > 0 && !Pause(connection, outcome.pieceGapMs[piece])) return false;
    if (!SendAll(fd, outcome.bytes + start, outcome.pieceEnd[piece] - start)) return false;
    start = outcome.pieceEnd[piece];
  }
  return true;
}

void Station::ServeConnection(Connection* connection) {
  const int fd = connection->fd;
  ReplyBuilder builder;
  uint8_t request[kMaxAduLength];
  uint8_t reply[kMaxAduLength];
  FaultOutcome outcome;
  Ending ending = Ending::kClose;
  while (builder.Ready() && !connection->closeRequested) {
    const int length = ReadRequest(fd, request);
    if (length < 0) break;
    ++requestsReceived_;
    ++requestsByFunction_[request[kFunctionOffset]];
    lastUnitId_ = request[kUnitOffset];
    lastFunctionCode_ = request[kFunctionOffset];
    if (silent_) {
      ++requestsDropped_;
      continue;
    }
    ChaosConfig chaos;
    const FaultPlan plan = NextPlan(chaos);
    int replyLength = 0;
    if (PlanExecutesRequest(plan)) {
      replyLength = builder.Build(request, length, mapping_, dataMutex_, reply);
      ++requestsExecuted_;
    }
    RenderReply(plan, chaos, request, length, reply, replyLength, outcome);
    const uint32_t delay = replyDelayMs_ + outcome.delayMs;
    if (delay > 0 && !Pause(connection, delay)) break;
    // Counted before it goes out, so that a client holding its reply sees it counted.
    if (outcome.length > 0) ++repliesSent_;
    if (!SendOutcome(connection, fd, outcome)) break;
    if (outcome.ending != Ending::kKeepOpen) {
      ending = outcome.ending;
      if (ending == Ending::kRestart) {
        // The station goes down listener first: by the time this connection
        // closes, new connects are refused.
        restartDownMs_ = outcome.downMs;
        restartPending_ = true;
        Wake();
        WaitUntilClosed(connection);
      }
      break;
    }
  }
  {
    std::lock_guard<std::mutex> guard(connectionsMutex_);
    connection->fd = -1;
  }
  if (ending == Ending::kReset) {
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  close(fd);
  --connectionsOpen_;
  connection->finished = true;
  Wake();
}

}  // namespace plcsim
