#include "bench_server.h"

#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace bench {
namespace {

constexpr int kRegisters = 10000;
constexpr int kBits = 10000;

struct Served {
  modbus_mapping_t* mapping;
  std::mutex* mutex;
  int replyDelayMs;
};

void ServeConnection(int fd, Served served) {
  modbus_t* context = modbus_new_tcp("127.0.0.1", 0);
  modbus_set_socket(context, fd);
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  for (;;) {
    const int length = modbus_receive(context, query);
    if (length < 0) break;
    if (length == 0) continue;
    if (served.replyDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(served.replyDelayMs));
    std::lock_guard<std::mutex> guard(*served.mutex);
    if (modbus_reply(context, query, length, served.mapping) < 0) break;
  }
  close(fd);
  modbus_free(context);
}

int ListenOn(const Listener& listener) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(listener.port);
  address.sin_addr.s_addr = inet_addr(listener.address.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 512) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

uint16_t PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

[[noreturn]] void RunServer(const std::vector<int>& listeners, const std::vector<Listener>& config) {
  modbus_mapping_t* mapping = modbus_mapping_new(kBits, kBits, kRegisters, kRegisters);
  for (int r = 0; r < kRegisters; ++r) {
    mapping->tab_registers[r] = static_cast<uint16_t>(r);
    mapping->tab_input_registers[r] = static_cast<uint16_t>(0x4000 + r);
  }
  static std::mutex mutex;
  for (size_t i = 0; i < listeners.size(); ++i) {
    std::thread([fd = listeners[i], served = Served{mapping, &mutex, config[i].replyDelayMs}] {
      for (;;) {
        const int connection = accept(fd, nullptr, nullptr);
        if (connection < 0) continue;
        std::thread(ServeConnection, connection, served).detach();
      }
    }).detach();
  }
  for (;;) pause();
}

}  // namespace

void PinToCpu(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

bool ServerProcess::Start(std::vector<Listener>& listeners, int cpu) {
  std::vector<int> fds;
  for (Listener& listener : listeners) {
    const int fd = ListenOn(listener);
    if (fd < 0) {
      std::fprintf(stderr, "bench: cannot listen on %s:%u\n", listener.address.c_str(), listener.port);
      for (int open : fds) close(open);
      return false;
    }
    listener.port = PortOf(fd);
    fds.push_back(fd);
  }
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    PinToCpu(cpu);
    RunServer(fds, listeners);
  }
  for (int fd : fds) close(fd);  // the child owns the listeners
  return pid_ > 0;
}

void ServerProcess::Pause() {
  if (pid_ > 0) kill(pid_, SIGSTOP);
}

void ServerProcess::Resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

void ServerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace bench
