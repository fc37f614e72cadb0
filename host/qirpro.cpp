// The host library stand-in: logging, a client registry, a gate table, per-client
// subscriptions and message queues, and a shut-down.
#include "qirpro.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kDefaultVersion = 820;
constexpr uint16_t kErrorNoClient = 2;
constexpr uint16_t kErrorNoGate = 3;
constexpr uint16_t kErrorTooManyClients = 4;
constexpr int kMaxClients = 255;
constexpr size_t kMaxQueuedMessages = 4096;

enum class LogRoute { kNowhere, kStderr, kFile, kCallback };

struct Client {
  std::string name;
  std::set<int32_t> subscriptions;
  std::deque<QirMessage> messages;
};

struct Gate {
  uint8_t driverNumber;
  std::string address;  // upper-cased
};

struct State {
  std::mutex mutex;
  std::condition_variable messageArrived;
  std::map<uint8_t, Client> clients;
  std::vector<Gate> gates;  // gate id = index + 1
  bool shutdown = false;
  uint16_t version = kDefaultVersion;
  std::map<std::string, uint16_t> failures;
};

State& TheState() {
  static State state;
  return state;
}

// Logging has its own lock so that a log line never waits for a client call.
struct LogSink {
  std::mutex mutex;
  LogRoute route = LogRoute::kNowhere;
  FILE* file = nullptr;
  QirLogCallback callback = nullptr;
  void* context = nullptr;
};

LogSink& TheSink() {
  static LogSink sink;
  return sink;
}

// Read without the sink's lock on the hot path: a dropped line costs one load.
std::atomic<int> g_minimumLevel{0};
std::atomic<bool> g_routed{false};

std::string UpperCase(const char* text) {
  std::string upper(text != nullptr ? text : "");
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

uint16_t InjectedFailure(State& state, const char* function) {
  auto found = state.failures.find(function);
  return found == state.failures.end() ? 0 : found->second;
}

void WriteStamped(FILE* out, int level, const char* line) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const int millis = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::fprintf(out, "%s.%03d [%d] %s\n", stamp, millis, level, line);
  std::fflush(out);
}

// The library's own logging; never reached through the global symbol scope.
int LogV(int level, const char* format, va_list values) {
  if (level < g_minimumLevel.load(std::memory_order_relaxed)) return 0;
  if (!g_routed.load(std::memory_order_acquire)) return 0;
  char line[2048];
  std::vsnprintf(line, sizeof line, format != nullptr ? format : "", values);
  LogSink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.mutex);
  switch (sink.route) {
    case LogRoute::kNowhere: break;
    case LogRoute::kStderr: WriteStamped(stderr, level, line); break;
    case LogRoute::kFile:
      if (sink.file != nullptr) WriteStamped(sink.file, level, line);
      break;
    case LogRoute::kCallback:
      if (sink.callback != nullptr) sink.callback(sink.context, level, line);
      break;
  }
  return 0;
}

void Route(LogRoute route, FILE* file, QirLogCallback callback, void* context) {
  LogSink& sink = TheSink();
  std::lock_guard<std::mutex> guard(sink.mutex);
  if (sink.file != nullptr && sink.file != file) std::fclose(sink.file);
  sink.route = route;
  sink.file = file;
  sink.callback = callback;
  sink.context = context;
  g_routed.store(route != LogRoute::kNowhere, std::memory_order_release);
}

void Enqueue(State& state, const QirMessage& message, int32_t gateId, bool onlySubscribed) {
  for (auto& [id, client] : state.clients) {
    if (onlySubscribed && client.subscriptions.count(gateId) == 0) continue;
    if (client.messages.size() < kMaxQueuedMessages) client.messages.push_back(message);
  }
  state.messageArrived.notify_all();
}

}  // namespace

extern "C" {

int err(int level, const char* format, ...) {
  va_list values;
  va_start(values, format);
  const int result = LogV(level, format, values);
  va_end(values);
  return result;
}

uint16_t QIRAPI QirMkClient(const char* name, int32_t, int32_t, uint8_t* clientId) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (uint16_t failure = InjectedFailure(state, "QirMkClient")) return failure;
  for (int id = 1; id <= kMaxClients; ++id) {
    const auto key = static_cast<uint8_t>(id);
    if (state.clients.count(key) != 0) continue;
    state.clients[key].name = name != nullptr ? name : "";
    if (clientId != nullptr) *clientId = key;
    return 0;
  }
  return kErrorTooManyClients;
}

uint16_t QIRAPI QirGetQirproVer(uint8_t, uint16_t* version, char* text100) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (version != nullptr) *version = state.version;
  if (text100 != nullptr) std::snprintf(text100, 100, "QIRPRO stand-in %u", state.version);
  return 0;
}

uint16_t QIRAPI QirRmClient(uint8_t clientId) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (uint16_t failure = InjectedFailure(state, "QirRmClient")) {
    state.clients.erase(clientId);
    return failure;
  }
  return state.clients.erase(clientId) != 0 ? 0 : kErrorNoClient;
}

uint16_t QIRAPI QirGetGateIdByAddressStr(uint8_t clientId, uint8_t driverNumber,
                                         const char* address, int32_t* gateId) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (uint16_t failure = InjectedFailure(state, "QirGetGateIdByAddressStr")) return failure;
  if (state.clients.count(clientId) == 0) return kErrorNoClient;
  const std::string wanted = UpperCase(address);
  for (size_t i = 0; i < state.gates.size(); ++i) {
    if (state.gates[i].driverNumber == driverNumber && state.gates[i].address == wanted) {
      if (gateId != nullptr) *gateId = static_cast<int32_t>(i + 1);
      return 0;
    }
  }
  return kErrorNoGate;
}

uint16_t QIRAPI QirRqGateMsg(uint8_t clientId, int32_t, int32_t* gateIds, int32_t count) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (uint16_t failure = InjectedFailure(state, "QirRqGateMsg")) return failure;
  auto client = state.clients.find(clientId);
  if (client == state.clients.end()) return kErrorNoClient;
  if (gateIds == nullptr) return count > 0 ? kErrorNoGate : 0;
  // All or nothing: a list with an unknown gate subscribes none of its gates.
  for (int32_t i = 0; i < count; ++i) {
    if (gateIds[i] < 1 || gateIds[i] > static_cast<int32_t>(state.gates.size())) return kErrorNoGate;
  }
  for (int32_t i = 0; i < count; ++i) client->second.subscriptions.insert(gateIds[i]);
  return 0;
}

uint16_t QIRAPI QirWaitMsg(uint8_t clientId, QirMessage* message, int32_t wait) {
  State& state = TheState();
  std::unique_lock<std::mutex> lock(state.mutex);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait > 0 ? wait : 0);
  for (;;) {
    if (state.shutdown) return QIR_WAIT_SHUTDOWN;
    auto client = state.clients.find(clientId);
    if (client == state.clients.end()) return QIR_WAIT_NOTHING;
    if (!client->second.messages.empty()) {
      if (message != nullptr) *message = client->second.messages.front();
      client->second.messages.pop_front();
      return QIR_WAIT_MESSAGE;
    }
    if (state.messageArrived.wait_until(lock, deadline) == std::cv_status::timeout) {
      if (state.shutdown) return QIR_WAIT_SHUTDOWN;
      client = state.clients.find(clientId);
      if (client != state.clients.end() && !client->second.messages.empty()) continue;
      return QIR_WAIT_NOTHING;
    }
  }
}

void QirCtlSetLogLevel(int minimumLevel) { g_minimumLevel.store(minimumLevel, std::memory_order_relaxed); }

void QirCtlLogToNowhere(void) { Route(LogRoute::kNowhere, nullptr, nullptr, nullptr); }

void QirCtlLogToStderr(void) { Route(LogRoute::kStderr, nullptr, nullptr, nullptr); }

int QirCtlLogToFile(const char* path) {
  FILE* file = std::fopen(path, "a");
  if (file == nullptr) return -1;
  Route(LogRoute::kFile, file, nullptr, nullptr);
  return 0;
}

void QirCtlLogToCallback(QirLogCallback callback, void* context) {
  Route(callback != nullptr ? LogRoute::kCallback : LogRoute::kNowhere, nullptr, callback, context);
}

int32_t QirCtlDefineGate(uint8_t driverNumber, const char* address) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  const std::string upper = UpperCase(address);
  for (size_t i = 0; i < state.gates.size(); ++i) {
    if (state.gates[i].driverNumber == driverNumber && state.gates[i].address == upper) {
      return static_cast<int32_t>(i + 1);
    }
  }
  state.gates.push_back(Gate{driverNumber, upper});
  return static_cast<int32_t>(state.gates.size());
}

int QirCtlPostGateValue(int32_t gateId, double value) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  QirMessage message{};
  message.kind = 1;
  message.gateId = gateId;
  message.value = value;
  Enqueue(state, message, gateId, true);
  return 0;
}

int QirCtlPostMessage(uint16_t kind, int32_t gateId, double value) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  QirMessage message{};
  message.kind = kind;
  message.gateId = gateId;
  message.value = value;
  Enqueue(state, message, gateId, false);
  return 0;
}

void QirCtlShutdown(void) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.shutdown = true;
  state.messageArrived.notify_all();
}

void QirCtlReset(void) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.clients.clear();
  state.gates.clear();
  state.shutdown = false;
  state.version = kDefaultVersion;
  state.failures.clear();
  state.messageArrived.notify_all();
}

void QirCtlSetVersion(uint16_t version) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.version = version;
}

void QirCtlSetFailure(const char* function, uint16_t result) {
  if (function == nullptr) return;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (result == 0) {
    state.failures.erase(function);
  } else {
    state.failures[function] = result;
  }
}

int QirCtlClientCount(void) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  return static_cast<int>(state.clients.size());
}

int QirCtlSubscriptionCount(uint8_t clientId) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.mutex);
  auto client = state.clients.find(clientId);
  return client == state.clients.end() ? 0 : static_cast<int>(client->second.subscriptions.size());
}

}  // extern "C"
