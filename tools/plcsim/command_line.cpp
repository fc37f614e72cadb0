#include "plcsim/command_line.h"

#include <signal.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

#include "plcsim/simulator.h"

namespace plcsim {
namespace {

constexpr const char* kDefaultStation = "1=127.0.0.1:1502";
constexpr double kDefaultChaosRate = 0.1;
constexpr int kExitOk = 0;
constexpr int kExitStartFailed = 1;
constexpr int kExitBadArguments = 2;
constexpr long kNanosecondsPerSecond = 1000000000L;
constexpr int kMaxStationNumber = 255;

struct Options {
  std::vector<StationConfig> stations;
  double durationSeconds = -1;
  uint32_t delayMs = 0;
  bool silent = false;
  bool chaos = false;
  uint64_t seed = 0;
  double chaosRate = kDefaultChaosRate;
  uint32_t chaosKinds = kAllFaultKinds;
  ChaosConfig chaosDefaults;
  bool help = false;
};

template <typename Number>
bool ParseWhole(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

bool ParseReal(const std::string& text, double& value) {
  try {
    size_t used = 0;
    value = std::stod(text, &used);
    return used == text.size() && std::isfinite(value);
  } catch (...) {
    return false;
  }
}

// N=IP[:PORT]
bool ParseStation(const std::string& text, StationConfig& station) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  if (!ParseWhole(text.substr(0, equals), station.number) || station.number < 0 ||
      station.number > kMaxStationNumber) {
    return false;
  }
  std::string endpoint = text.substr(equals + 1);
  const size_t colon = endpoint.find(':');
  station.port = 0;
  if (colon != std::string::npos) {
    if (!ParseWhole(endpoint.substr(colon + 1), station.port)) return false;
    endpoint.resize(colon);
  }
  station.address = endpoint;
  return !endpoint.empty();
}

// Reads the options; false with a message in `error`.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    bool hasValue = false;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      hasValue = true;
    }
    auto next = [&](std::string& into) {
      if (hasValue) {
        into = value;
        return true;
      }
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    std::string argument;
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--silent") {
      options.silent = true;
    } else if (name == "--station") {
      if (!next(argument)) return false;
      StationConfig station;
      if (!ParseStation(argument, station)) {
        error = "bad --station '" + argument + "', expected N=IP[:PORT], for example 1=127.0.0.1:1502";
        return false;
      }
      options.stations.push_back(station);
    } else if (name == "--duration") {
      if (!next(argument)) return false;
      if (!ParseReal(argument, options.durationSeconds) || options.durationSeconds < 0) {
        error = "bad --duration '" + argument + "', expected seconds";
        return false;
      }
    } else if (name == "--delay") {
      if (!next(argument)) return false;
      if (!ParseWhole(argument, options.delayMs)) {
        error = "bad --delay '" + argument + "', expected milliseconds";
        return false;
      }
    } else if (name == "--chaos") {
      if (!next(argument)) return false;
      if (!ParseWhole(argument, options.seed)) {
        error = "bad --chaos '" + argument + "', expected a seed (a whole number)";
        return false;
      }
      options.chaos = true;
    } else if (name == "--chaos-rate") {
      if (!next(argument)) return false;
      if (!ParseReal(argument, options.chaosRate) || options.chaosRate < 0 || options.chaosRate > 1) {
        error = "bad --chaos-rate '" + argument + "', expected a probability from 0 to 1";
        return false;
      }
    } else if (name == "--chaos-kinds") {
      if (!next(argument)) return false;
      if (!ParseFaultKinds(argument, options.chaosKinds)) {
        error = "bad --chaos-kinds '" + argument + "'";
        return false;
      }
    } else if (name == "--chaos-late") {
      if (!next(argument)) return false;
      if (!ParseWhole(argument, options.chaosDefaults.lateReplyDelayMs)) {
        error = "bad --chaos-late '" + argument + "', expected milliseconds";
        return false;
      }
    } else if (name == "--chaos-down") {
      if (!next(argument)) return false;
      if (!ParseWhole(argument, options.chaosDefaults.restartDownMs)) {
        error = "bad --chaos-down '" + argument + "', expected milliseconds";
        return false;
      }
    } else {
      error = "unknown option '" + std::string(argv[i]) + "'";
      return false;
    }
  }
  if (options.stations.empty()) {
    StationConfig station;
    ParseStation(kDefaultStation, station);
    options.stations.push_back(station);
  }
  return true;
}

void PrintSummary(std::ostream& out, const Station& station) {
  const StationCounters c = station.Counters();
  out << "station " << station.Number() << " counters received=" << c.requestsReceived
      << " dropped=" << c.requestsDropped << " executed=" << c.requestsExecuted << " replies=" << c.repliesSent
      << " connections=" << c.connectionsAccepted << " restarts=" << c.restarts << "\n";
  out << "station " << station.Number() << " faults";
  for (int kind = 1; kind < kFaultKindCount; ++kind) {
    out << " " << FaultKindName(static_cast<FaultKind>(kind)) << "=" << c.faults[kind];
  }
  out << " total=" << c.FaultTotal() << "\n";
}

// Waits for SIGINT or SIGTERM (blocked in every thread), at most the duration
// when there is one.
void WaitForEnd(const sigset_t& signals, double durationSeconds) {
  if (durationSeconds < 0) {
    int received;
    while (sigwait(&signals, &received) != 0) {
    }
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(durationSeconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    timespec wait{static_cast<time_t>(left.count() / kNanosecondsPerSecond),
                  static_cast<long>(left.count() % kNanosecondsPerSecond)};
    if (sigtimedwait(&signals, nullptr, &wait) >= 0) return;
    if (errno == EAGAIN) return;
  }
}

}  // namespace

std::string UsageText(const char* programName) {
  const std::string name = programName;
  return "Usage: " + name + " [OPTION]...\n"
         "Simulates Modbus TCP PLC stations on loopback addresses, until SIGINT or SIGTERM\n"
         "or the end of --duration.\n"
         "\n"
         "Options:\n"
         "  --station N=IP[:PORT]  serve station N on IP:PORT; repeatable. IP must be a\n"
         "                         loopback address (127.x.x.x); no PORT or 0 picks a free\n"
         "                         port. Default: " + std::string(kDefaultStation) + ".\n"
         "                         Every unit id is answered; N names the station in the\n"
         "                         output and is held in register 9000.\n"
         "  --duration S           stop after S seconds (fractions allowed)\n"
         "  --delay MS             delay every reply by MS milliseconds\n"
         "  --silent               accept connections and read requests, never answer\n"
         "  --chaos SEED           inject faults, reproducibly from SEED\n"
         "  --chaos-rate P         probability that a request meets a fault (default 0.1),\n"
         "                         shared evenly by the kinds\n"
         "  --chaos-kinds LIST     comma-separated kinds (default all): late, reset,\n"
         "                         close-mid-frame, garbage, wrong-tid, wrong-unit,\n"
         "                         wrong-function, exception, short, long, split,\n"
         "                         duplicate, restart\n"
         "  --chaos-late MS        delay of a late reply (default 1500; set it past the\n"
         "                         client's time-out)\n"
         "  --chaos-down MS        how long a restart keeps a station down (default 300)\n"
         "  -h, --help             show this text\n"
         "\n"
         "Faults damage framing and timing only, never the register data of a\n"
         "well-formed reply; a request met by an exception is not executed.\n"
         "\n"
         "Output: once every station listens, one line per station\n"
         "  station N listening on IP:PORT\n"
         "then the line \"ready\". On exit, two lines per station:\n"
         "  station N counters received=R dropped=D executed=E replies=S connections=C restarts=T\n"
         "  station N faults late=.. reset=.. ... restart=.. total=F\n"
         "\n"
         "Start pattern of every station (addresses count from 0):\n"
         "  coils               address a is 1 when a is odd (bytes 0xAA)\n"
         "  discrete inputs     address a is 1 when a is a multiple of 3 (bytes 0x49 0x92 0x24)\n"
         "  holding registers   register r holds r, except\n"
         "                        1000-1999  floats: the pair at even r holds r + 0.5\n"
         "                        2000-2999  32-bit integers: the pair at even r holds -r\n"
         "                        9000       the station number\n"
         "  input registers     register r holds 0x4000 + r (mod 65536), except\n"
         "                        1000-1999  floats: the pair at even r holds -(r + 0.5)\n"
         "                        2000-2999  32-bit integers: the pair at even r holds 1000000 + r\n"
         "                        9000       the station number\n"
         "  32-bit values are stored high word first.\n"
         "\n"
         "Exit status: 0, 1 when a station cannot start, 2 for bad arguments.\n";
}

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err, const char* programName) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    err << programName << ": " << error << "\n" << "Try '" << programName << " --help'.\n";
    return kExitBadArguments;
  }
  if (options.help) {
    out << UsageText(programName);
    return kExitOk;
  }

  // Signals wait for the main thread: block them before any station thread starts.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &signals, &previous);

  int status = kExitOk;
  {
    Simulator simulator;
    for (StationConfig config : options.stations) {
      if (options.chaos) {
        config.chaos = MakeChaos(options.seed, options.chaosRate, options.chaosKinds);
        config.chaos.lateReplyDelayMs = options.chaosDefaults.lateReplyDelayMs;
        config.chaos.restartDownMs = options.chaosDefaults.restartDownMs;
      }
      Station& station = simulator.AddStation(config);
      station.SetReplyDelay(options.delayMs);
      station.SetSilent(options.silent);
    }
    if (!simulator.StartAll(&error)) {
      err << programName << ": " << error << "\n";
      status = kExitStartFailed;
    } else {
      for (size_t i = 0; i < simulator.Size(); ++i) {
        const Station& station = simulator.At(i);
        out << "station " << station.Number() << " listening on " << station.Address() << ":" << station.Port()
            << "\n";
      }
      out << "ready" << std::endl;
      WaitForEnd(signals, options.durationSeconds);
      simulator.StopAll();
      for (size_t i = 0; i < simulator.Size(); ++i) PrintSummary(out, simulator.At(i));
      out.flush();
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return status;
}

}  // namespace plcsim
