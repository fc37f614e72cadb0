// A Modbus TCP server for the benchmarks: libmodbus's own server code, in a
// process of its own, serving every connection on a thread of its own.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Listener {
  std::string address;  // a 127.x address
  uint16_t port = 0;    // 0: the server picks one and reports it
  int replyDelayMs = 0;
};

class ServerProcess {
 public:
  // Forks the server; returns once every listener is bound. Ports chosen by the
  // server are written back into `listeners`.
  bool Start(std::vector<Listener>& listeners, int cpu);
  void Pause();   // SIGSTOP: connections stay open, nothing is answered
  void Resume();  // SIGCONT
  void Stop();    // SIGKILL: connections are closed, connects are refused
  ~ServerProcess() { Stop(); }

 private:
  pid_t pid_ = -1;
};

void PinToCpu(int cpu);

}  // namespace bench
