// How close the driver comes to the machine's limit, and how it compares with
// libmodbus's client, against one libmodbus server on loopback.
//
// Usage: toldex_bench [--rounds N] [--quick]
// Run it through scripts/bench, which builds the release preset first.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "alloc_counter.h"
#include "bench_server.h"
#include "driver/host_records.h"
#include "qirpro.h"

namespace {

using toldex::DriverRequest;
using toldex::GateAddress;
using toldex::GateIo;
using Clock = std::chrono::steady_clock;
using VpiMainFn = int32_t (*)(DriverRequest*);

constexpr int kCpu = 0;
constexpr int kOpsPerRound = 4000;

int g_rounds = 7;
bool g_quick = false;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// ---------------------------------------------------------------- raw socket
class RawClient {
 public:
  explicit RawClient(const bench::Listener& server) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port);
    address.sin_addr.s_addr = inet_addr(server.address.c_str());
    connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~RawClient() { close(fd_); }
  // Read holding register 0, unit 1: 12 bytes out, 11 bytes back.
  bool ReadOne() {
    static const uint8_t kRequest[12] = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
    if (send(fd_, kRequest, sizeof kRequest, MSG_NOSIGNAL) != sizeof kRequest) return false;
    uint8_t reply[16];
    int got = 0;
    while (got < 11) {
      const ssize_t n = recv(fd_, reply + got, sizeof reply - got, 0);
      if (n <= 0) return false;
      got += static_cast<int>(n);
    }
    return true;
  }

 private:
  int fd_;
};

// ---------------------------------------------------------------- the driver
class Driver {
 public:
  bool Load(const std::string& path) {
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
      std::fprintf(stderr, "bench: %s\n", dlerror());
      return false;
    }
    vpiMain_ = reinterpret_cast<VpiMainFn>(dlsym(library_, "VpiMain"));
    toldex::DriverInfo info{};
    DriverRequest request{};
    request.op = toldex::kOpGetVpiInfo;
    request.params = &info;
    vpiMain_(&request);
    instanceSize_ = info.instanceSize;
    return vpiMain_ != nullptr;
  }
  int32_t instanceSize() const { return instanceSize_; }
  VpiMainFn vpiMain() const { return vpiMain_; }

 private:
  void* library_ = nullptr;
  VpiMainFn vpiMain_ = nullptr;
  int32_t instanceSize_ = 0;
};

class Instance {
 public:
  Instance(const Driver& driver, int32_t driverNumber)
      : vpiMain_(driver.vpiMain()), block_(driver.instanceSize()), driverNumber_(driverNumber) {}
  int32_t Call(int32_t op, void* params) {
    DriverRequest request{};
    request.instance = block_.data();
    request.op = op;
    request.driverNumber = driverNumber_;
    request.params = params;
    return vpiMain_(&request);
  }
  int32_t ColdStart() {
    toldex::ColdStartParams params{};
    params.startMode = 1;
    params.timeoutCs = 100;
    return Call(toldex::kOpColdStart, &params);
  }
  void SetTimeoutAndReconnect(int32_t timeoutMs, const std::vector<int>& stations) {
    toldex::ChangeParams change{};
    change.newTimeoutMs = timeoutMs;
    Call(toldex::kOpChangeVpiParams, &change);
    for (int station : stations) {
      toldex::WarmStartParams warm{station};
      Call(toldex::kOpWarmStart, &warm);
    }
  }
  int32_t EndVpi() { return Call(toldex::kOpEndVpi, nullptr); }

 private:
  VpiMainFn vpiMain_;
  std::vector<uint8_t> block_;
  int32_t driverNumber_;
};

// A parsed gate, ready to be read or written as a host does.
struct Gate {
  std::string text;
  GateIo io{};
  uint32_t value[128]{};

  bool Parse(Instance& instance, int32_t gateType, int32_t blockLength = 0) {
    GateAddress address{};
    address.address = text.c_str();
    address.gateType = gateType;
    address.blockLength = blockLength;
    const int op = blockLength > 0 ? toldex::kOpBlockAddressParser : toldex::kOpSingleAddressParser;
    if (instance.Call(op, &address) != 0) {
      std::fprintf(stderr, "bench: gate %s refused\n", text.c_str());
      return false;
    }
    io.address = text.c_str();
    io.plcNumber = address.plcNumber;
    io.memoryType = address.memoryType;
    io.registerAddress = address.registerAddress;
    io.bitNumber = address.bitNumber;
    io.bitWidth = address.bitWidth;
    io.elementCount = blockLength > 0 ? blockLength : 1;
    io.gateId = 100000;  // an id that no switch gate has
    io.value = value;
    return true;
  }
};

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

// Runs `operation` `count` times and returns operations per second (0 on a failure).
double Rate(int count, const std::function<bool()>& operation) {
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (!operation()) return 0;
  }
  return count / Seconds(Clock::now() - start);
}

struct Case {
  std::string name;
  std::function<bool()> operation;
  std::vector<double> rates;
};

void PrintRow(const char* name, double value, const char* unit, const std::string& note = "") {
  // Ratios and per-operation counts need their decimals; rates do not.
  const int decimals = std::strcmp(unit, "x") == 0 || std::strcmp(unit, "allocs/op") == 0 ? 3 : 1;
  std::printf("| %-44s | %14.*f | %-10s | %s\n", name, decimals, value, unit, note.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) g_rounds = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--quick") == 0) g_quick = true;
  }
  if (g_quick) g_rounds = 3;
  const int opsPerRound = g_quick ? kOpsPerRound / 4 : kOpsPerRound;

  const std::filesystem::path binDir = std::filesystem::canonical("/proc/self/exe").parent_path();
  Driver driver;
  if (!driver.Load((binDir / "libtoldexdr.so").string())) return 1;

  // One server process: a fast station, a slow one (50 ms), sixteen more.
  std::vector<bench::Listener> listeners = {{"127.0.0.1", 0, 0}, {"127.0.0.2", 0, 50}};
  for (int i = 1; i <= 16; ++i) listeners.push_back({"127.0.1." + std::to_string(i), 0, 0});
  bench::ServerProcess server;
  if (!server.Start(listeners, kCpu)) return 1;
  bench::PinToCpu(kCpu);

  const auto workDir = std::filesystem::temp_directory_path() / ("toldex-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(workDir);
  std::filesystem::current_path(workDir);
  std::string ini = "BUS=M,D\n";
  ini += "1 " + listeners[0].address + " " + std::to_string(listeners[0].port) + "\n";
  ini += "2 " + listeners[1].address + " " + std::to_string(listeners[1].port) + "\n";
  for (int i = 0; i < 16; ++i) {
    const auto& l = listeners[2 + i];
    ini += std::to_string(10 + i) + " " + l.address + " " + std::to_string(l.port) + "\n";
  }
  WriteFile(workDir / "TOLDEX01.INT", ini);

  // Level-8 lines are dropped before they are formatted; level-32 lines go to /dev/null.
  QirCtlLogToFile("/dev/null");
  QirCtlSetLogLevel(32);

  Instance instance(driver, 1);
  if (instance.ColdStart() != 0) {
    std::fprintf(stderr, "bench: ColdStart failed\n");
    return 1;
  }
  Gate single{"0140001"}, block{"0140001"}, write{"0140002"}, bit{"01400033"}, slow{"0240001"};
  if (!single.Parse(instance, 0) || !block.Parse(instance, 0, 125) || !write.Parse(instance, 0) ||
      !bit.Parse(instance, 6) || !slow.Parse(instance, 0)) {
    return 1;
  }
  std::vector<Gate> spread(16);
  for (int i = 0; i < 16; ++i) {
    spread[i].text = std::to_string(10 + i) + "40001";
    if (!spread[i].Parse(instance, 0)) return 1;
  }

  RawClient raw(listeners[0]);
  modbus_t* client = modbus_new_tcp(listeners[0].address.c_str(), listeners[0].port);
  modbus_set_slave(client, 1);
  if (modbus_connect(client) != 0) {
    std::fprintf(stderr, "bench: libmodbus cannot connect\n");
    return 1;
  }
  uint16_t registers[125];
  uint16_t counter = 0;
  auto vpi = [&instance](int32_t op, Gate& gate) {
    return [&instance, op, target = &gate] { return instance.Call(op, &target->io) == 0; };
  };

  std::vector<Case> cases = {
      {"raw: read 1 register", [&] { return raw.ReadOne(); }, {}},
      {"libmodbus: modbus_read_registers(1)", [&] { return modbus_read_registers(client, 0, 1, registers) == 1; }, {}},
      {"driver: SingleRead", vpi(toldex::kOpSingleRead, single), {}},
      {"libmodbus: modbus_read_registers(125)", [&] { return modbus_read_registers(client, 0, 125, registers) == 125; }, {}},
      {"driver: BlockRead 125 registers", vpi(toldex::kOpBlockRead, block), {}},
      {"libmodbus: modbus_write_register", [&] { return modbus_write_register(client, 1, ++counter) == 1; }, {}},
      {"driver: SingleWrite", [&] { write.value[0] = static_cast<uint32_t>(++counter) << 16; return instance.Call(toldex::kOpSingleWrite, &write.io) == 0; }, {}},
      {"driver: bit write (read + write)", [&] { bit.value[0] = (++counter & 1u) << 16; return instance.Call(toldex::kOpSingleWrite, &bit.io) == 0; }, {}},
  };
  // Warm up every path once.
  for (Case& c : cases) Rate(200, c.operation);
  for (int round = 0; round < g_rounds; ++round) {
    for (Case& c : cases) c.rates.push_back(Rate(opsPerRound, c.operation));
  }
  // Logging cost: every level-8 line formatted and written.
  QirCtlSetLogLevel(0);
  std::vector<double> formatted;
  for (int round = 0; round < g_rounds; ++round) formatted.push_back(Rate(opsPerRound, cases[2].operation));
  QirCtlSetLogLevel(32);

  std::printf("\n| %-44s | %14s | %-10s | %s\n", "measure", "value", "unit", "note");
  std::printf("|%s|%s|%s|%s\n", std::string(46, '-').c_str(), std::string(16, '-').c_str(),
              std::string(12, '-').c_str(), "------");
  for (const Case& c : cases) PrintRow(c.name.c_str(), Median(c.rates), "ops/s", "median of " + std::to_string(g_rounds) + " rounds");
  PrintRow("driver: SingleRead, level-8 lines formatted", Median(formatted), "ops/s");
  const double rawRate = Median(cases[0].rates), modbusRate = Median(cases[1].rates);
  const double readRate = Median(cases[2].rates);
  PrintRow("ratio SingleRead / libmodbus read", readRate / modbusRate, "x", "goal >= 1.0");
  PrintRow("ratio raw / SingleRead (time per op)", rawRate / readRate, "x", "goal <= 1.15");
  PrintRow("ratio BlockRead / libmodbus read(125)", Median(cases[4].rates) / Median(cases[3].rates), "x");
  PrintRow("ratio SingleWrite / libmodbus write", Median(cases[6].rates) / Median(cases[5].rates), "x");

  // Heap allocations per operation on each driver path.
  const struct {
    const char* name;
    int32_t op;
    Gate* gate;
  } paths[] = {{"allocations per SingleRead", toldex::kOpSingleRead, &single},
               {"allocations per BlockRead", toldex::kOpBlockRead, &block},
               {"allocations per SingleWrite", toldex::kOpSingleWrite, &write},
               {"allocations per bit write", toldex::kOpSingleWrite, &bit}};
  for (const auto& path : paths) {
    constexpr int kCount = 1000;
    bench::StartCountingAllocations();
    for (int i = 0; i < kCount; ++i) instance.Call(path.op, &path.gate->io);
    PrintRow(path.name, static_cast<double>(bench::StopCountingAllocations()) / kCount, "allocs/op", "goal 0");
  }

  // Independence of stations: a fast reader alone, then beside a slow one.
  {
    const double seconds = g_quick ? 0.5 : 1.5;
    auto fastRate = [&](bool withSlow) {
      std::atomic<bool> stop{false};
      std::thread slowReader;
      if (withSlow) {
        slowReader = std::thread([&] {
          Gate gate = slow;
          gate.io.value = gate.value;
          while (!stop) instance.Call(toldex::kOpSingleRead, &gate.io);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      int count = 0;
      const auto start = Clock::now();
      while (Seconds(Clock::now() - start) < seconds) {
        instance.Call(toldex::kOpSingleRead, &single.io);
        ++count;
      }
      const double rate = count / Seconds(Clock::now() - start);
      stop = true;
      if (slowReader.joinable()) slowReader.join();
      return rate;
    };
    std::vector<double> solo, beside;
    for (int round = 0; round < 3; ++round) {
      solo.push_back(fastRate(false));
      beside.push_back(fastRate(true));
    }
    PrintRow("fast station alone", Median(solo), "ops/s");
    PrintRow("fast station while a 50 ms station is read", Median(beside), "ops/s");
    PrintRow("ratio beside / alone", Median(beside) / Median(solo), "x", "goal >= 0.9");
  }

  // Aggregate rate over sixteen stations.
  for (int threads : {1, 2, 4}) {
    const double seconds = g_quick ? 0.5 : 1.5;
    std::atomic<long> total{0};
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        std::vector<Gate> mine = spread;
        for (Gate& g : mine) g.io.value = g.value;
        long count = 0;
        for (size_t i = static_cast<size_t>(t); Seconds(Clock::now() - start) < seconds; ++i) {
          if (instance.Call(toldex::kOpSingleRead, &mine[i % mine.size()].io) == 0) ++count;
        }
        total += count;
      });
    }
    for (auto& w : workers) w.join();
    const std::string name = "aggregate, " + std::to_string(threads) + " thread(s), 16 stations";
    PrintRow(name.c_str(), total / Seconds(Clock::now() - start), "ops/s", "reported, no target");
  }
  instance.EndVpi();
  modbus_close(client);
  modbus_free(client);
  server.Stop();

  // Failover: PLC 3 served by station 3, backup station 4, socket time-out 200 ms.
  constexpr int32_t kTimeoutMs = 200;
  auto failover = [&](bool pause) {
    std::vector<bench::Listener> master = {{"127.0.0.3", 0, 0}}, backup = {{"127.0.0.4", 0, 0}};
    bench::ServerProcess masterServer, backupServer;
    masterServer.Start(master, kCpu);
    backupServer.Start(backup, kCpu);
    WriteFile(workDir / "TOLDEX02.INT", "3 127.0.0.3 " + std::to_string(master[0].port) + "\n4 127.0.0.4 " +
                                             std::to_string(backup[0].port) + "\nBACKUP_3 = 4\n");
    Instance pair(driver, 2);
    pair.ColdStart();
    pair.SetTimeoutAndReconnect(kTimeoutMs, {3, 4});
    Gate gate{"0340001"};
    gate.Parse(pair, 0);
    pair.Call(toldex::kOpSingleRead, &gate.io);
    if (pause) {
      masterServer.Pause();
    } else {
      masterServer.Stop();
    }
    const auto start = Clock::now();
    const int32_t status = pair.Call(toldex::kOpSingleRead, &gate.io);
    const double ms = Seconds(Clock::now() - start) * 1000;
    masterServer.Resume();
    pair.EndVpi();
    return std::make_pair(ms, status);
  };
  for (bool pause : {false, true}) {
    const auto [ms, status] = failover(pause);
    const std::string note = "status " + std::to_string(status) + ", " + std::to_string(ms / kTimeoutMs).substr(0, 4) +
                             " x time-out of " + std::to_string(kTimeoutMs) + " ms";
    PrintRow(pause ? "failover read, master stops answering" : "failover read, master stops accepting", ms, "ms",
             note);
  }

  // Memory with 256 stations configured.
  {
    std::vector<bench::Listener> one = {{"127.0.0.5", 0, 0}};
    bench::ServerProcess many;
    many.Start(one, kCpu);
    std::string all;
    for (int s = 0; s < 256; ++s) all += std::to_string(s) + " 127.0.0.5 " + std::to_string(one[0].port) + "\n";
    WriteFile(workDir / "TOLDEX03.INT", all);
    const long before = ResidentKiB();
    Instance big(driver, 3);
    big.ColdStart();
    const long after = ResidentKiB();
    PrintRow("instance block (instanceSize)", driver.instanceSize() / 1024.0, "KiB");
    PrintRow("resident memory, 256 stations connected", static_cast<double>(after), "KiB",
             "grew by " + std::to_string(after - before) + " KiB at ColdStart");
    big.EndVpi();
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(workDir);
  return 0;
}
