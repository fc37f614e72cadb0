// toldex demo: simulated PLCs on loopback, the driver started on a matching
// initialisation file, gates of every kind polled live, and a failover: the
// master of PLC 1 is stopped a third of the way through and brought back at
// two thirds, while a host's ordinary reaction (a warm start after each
// communication failure) brings the driver back to it.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "demo_plant.h"
#include "demo_screen.h"
#include "driver_host.h"
#include "exit_codes.h"
#include "platform/terminal.h"
#include "report.h"
#include "platform/thread.h"
#include "temp_folder.h"

namespace toldex::cli {
namespace {

constexpr double kDefaultDuration = 12.0;
constexpr double kMinDuration = 3.0;
constexpr double kMaxDuration = 3600.0;
constexpr double kDefaultInterval = 0.5;
constexpr double kMinInterval = 0.05;
constexpr double kPlainPrintEvery = 1.0;  // seconds between frames when stdout is no terminal
constexpr uint32_t kSleepSliceMs = 10;
constexpr size_t kEventsShown = 8;
constexpr int kNoStation = -1;

const std::vector<OptionSpec> kOptions = {
    {"duration", 0, "SECONDS", "run for SECONDS (default 12, at least 3)"},
    {"interval", 'i', "SECONDS", "read the gates every SECONDS (default 0.5)"},
    {"plain", 0, nullptr, "print successive frames even on a terminal"},
    {"keep", 0, nullptr, "keep the demo's folder with its TOLDEX01.INT and print where it is"},
    kLibraryOption,
    kVerboseOption,
    kHelpOption,
};

const char kDescription[] =
    "Starts three simulated PLC stations on loopback: station 1, the master of PLC 1,\n"
    "station 2, its backup (BACKUP_1 = 2), and station 3, a PLC of its own. Writes a\n"
    "matching TOLDEX01.INT in a temporary folder, cold starts the driver on it, parses\n"
    "gates of every kind and reads them all every --interval: coils, inputs, registers,\n"
    "a bit, a byte, floats, 32-bit integers, a block, PLC 1's switch gate, a _SCRUT gate\n"
    "that watches the master, and the diagnostic gates of every station.\n"
    "A third of the way through, the master is stopped: PLC 1's gates go on, served by\n"
    "the backup. At two thirds it is started again: the warm start that follows the\n"
    "_SCRUT gate's failures reconnects it and the driver goes back to the master.\n"
    "On a terminal the screen is redrawn in place; otherwise a frame is printed each\n"
    "second. Nothing needs to be configured. Exit status 0 when the failover and the\n"
    "return to the master were both seen.";

std::atomic<bool> g_interrupted{false};
extern "C" void OnDemoInterrupt(int) { g_interrupted.store(true); }

struct DemoGate {
  const char* address;
  const char* what;
  int32_t count;  // 0: single
};

constexpr char kPlcOneCounter[] = "0140001";
constexpr char kMasterWatch[] = "0149001_SCRUT";

const DemoGate kDemoGates[] = {
    {kPlcOneCounter, "counter, holding register 0", 0},
    {"01400013", "bit 3 of the counter", 0},
    {"01L0001", "low byte of the counter", 0},
    {"0171001", "temperature, holding float", 0},
    {"0182001", "total, holding 32-bit integer", 0},
    {"0130001", "level, input register", 0},
    {"0151001", "flow, input float", 0},
    {"0100001", "coils 1-8, a block", 8},
    {"0110001", "discrete input 1", 0},
    {"0149001", "station number of the PLC that answers", 0},
    {"0340001", "PLC 3's counter", 0},
    {"01BACKUP", "PLC 1's switch gate: 1 = backup in use", 0},
    {kMasterWatch, "the master watched directly (_SCRUT)", 0},
};

const char* const kEventMarks[] = {
    "Switch from Master to Backup Plc", "Switch from Backup to Master Plc", "Station qui va se connecter",
    "Master is up again.",              "WarmStart() Connect Station failed", "WarmStart() ConnectStation pass",
    "Connection reset",
};

const char* const kCounterKeys[] = {"ST_ONLINE", "NUMCOMMS", "NUMSUCCESS", "NUMFAILS", "ERRORS", "COMMFAILS"};

struct Event {
  double seconds;
  std::string text;
  int repeats;
};

class EventLog {
 public:
  void Add(double seconds, const std::string& text) {
    if (!events_.empty() && events_.back().text == text) {
      ++events_.back().repeats;
      return;
    }
    events_.push_back(Event{seconds, text, 1});
  }
  // The driver's lines of interest since the last call.
  void Collect(uint64_t startMs) {
    for (const LogEntry& entry : HostLog::Instance().Since(mark_)) {
      for (const char* mark : kEventMarks) {
        if (entry.text.find(mark) == std::string::npos) continue;
        Add(static_cast<double>(entry.atMs - startMs) / 1000.0, FormatLogEntry(entry));
        break;
      }
    }
    mark_ = HostLog::Instance().Mark();
  }
  std::vector<std::string> Latest(size_t count) const {
    std::vector<std::string> lines;
    const size_t first = events_.size() > count ? events_.size() - count : 0;
    for (size_t i = first; i < events_.size(); ++i) {
      char when[32];
      std::snprintf(when, sizeof when, "%6.1f s  ", events_[i].seconds);
      std::string line = when + events_[i].text;
      if (events_[i].repeats > 1) line += "  (x" + std::to_string(events_[i].repeats) + ")";
      lines.push_back(line);
    }
    return lines;
  }
  void StartAt(uint64_t mark) { mark_ = mark; }

 private:
  std::vector<Event> events_;
  uint64_t mark_ = 0;
};

// Which station served PLC 1, as spans of time.
struct ServedSpan {
  int station;
  double from;
  double to;
};

// "2 (backup)": a station with its part in PLC 1's pair.
std::string StationText(int station) {
  if (station == kDemoMaster) return std::to_string(station) + " (master)";
  if (station == kDemoBackup) return std::to_string(station) + " (backup)";
  return std::to_string(station);
}

std::string Seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", value);
  return text;
}

}  // namespace

int RunDemo(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("demo [OPTIONS]", kDescription, kOptions);
    return kExitOk;
  }
  if (!arguments.Positionals().empty()) throw UsageError("demo takes no arguments");
  const double duration = arguments.GetSeconds("duration", kDefaultDuration, kMinDuration, kMaxDuration);
  const double interval = arguments.GetSeconds("interval", kDefaultInterval, kMinInterval, kMaxDuration);
  const int verbosity = arguments.Count("verbose");
  const double stopAt = duration / 3;
  const double restartAt = 2 * duration / 3;

  StartLogging(verbosity);
  DemoPlant plant;
  std::string error;
  if (!plant.Start(error)) {
    PrintError("the simulated PLCs cannot start: " + error);
    return kExitUnavailable;
  }
  TempFolder folder("toldex-demo-");
  folder.Write(InitFileName(1), plant.InitFile());

  CommonOptions common;
  common.verbosity = verbosity;
  common.folder = folder.path();
  common.library = arguments.Get("library");
  DriverHost host(common);
  if (!host.Open(error)) {
    PrintError(error);
    return kExitUnavailable;
  }
  const uint64_t startMs = platform::MonotonicMilliseconds();
  auto elapsed = [&] { return static_cast<double>(platform::MonotonicMilliseconds() - startMs) / 1000.0; };
  EventLog events;
  events.StartAt(HostLog::Instance().Mark());
  plant.Update(0);
  const int32_t started = host.Start();

  std::vector<HostGate> gates;
  std::vector<std::string> whats;
  for (const DemoGate& gate : kDemoGates) {
    gates.push_back(host.MakeGate(gate.address, -1, gate.count));
    whats.push_back(gate.what);
  }
  std::vector<std::vector<HostGate>> counters;
  for (const DemoStationSpec& spec : kDemoStations) {
    std::vector<HostGate> row;
    for (const char* key : kCounterKeys) {
      char text[32];
      std::snprintf(text, sizeof text, "$%s:%02d", key, spec.number);
      row.push_back(host.MakeGate(text, -1, 0));
    }
    counters.push_back(std::move(row));
  }
  int refusedGates = 0;
  for (const HostGate& gate : gates) refusedGates += gate.parseStatus != 0 ? 1 : 0;
  for (const auto& row : counters) {
    for (const HostGate& gate : row) refusedGates += gate.parseStatus != 0 ? 1 : 0;
  }

  const bool terminal = platform::StandardOutputIsTerminal() && !arguments.Has("plain");
  DemoScreen screen(terminal);
  std::signal(SIGINT, OnDemoInterrupt);

  bool masterStopped = false;
  bool masterRestarted = false;
  std::vector<ServedSpan> served;
  long reads = 0;
  long failedReads = 0;
  double lastPrinted = -kPlainPrintEvery;
  bool failoverSeen = false;
  bool returnSeen = false;
  std::string unshownFrame;  // the last frame, when plain output skipped it

  for (int round = 0; !g_interrupted.load(); ++round) {
    const double now = elapsed();
    if (now >= duration) break;
    if (!masterStopped && now >= stopAt) {
      plant.StopStation(kDemoMaster);
      masterStopped = true;
      events.Collect(startMs);
      events.Add(now, "demo: station 1, the master of PLC 1, stopped (" + plant.Endpoint(kDemoMaster) + ")");
    }
    if (masterStopped && !masterRestarted && now >= restartAt) {
      masterRestarted = plant.StartStation(kDemoMaster, error);
      events.Collect(startMs);
      events.Add(now, masterRestarted ? "demo: station 1 started again" : "demo: station 1 cannot start again: " + error);
      if (!masterRestarted) masterRestarted = true;  // do not retry every round
    }
    plant.Update(now);

    DemoFrame frame;
    std::vector<const HostGate*> failed;
    int plcOneStation = kNoStation;
    for (size_t i = 0; i < gates.size(); ++i) {
      HostGate& gate = gates[i];
      if (gate.parseStatus != 0) {
        frame.gates.push_back({gate.text, whats[i], GateTypeName(gate.gateType), "refused by the parser", "-"});
        continue;
      }
      const CallOutcome outcome = host.Read(gate);
      ++reads;
      std::string value = Joined(outcome.values, " ");
      if (outcome.status != 0) {
        ++failedReads;
        value = StatusText(outcome.status);
        if (outcome.status == 2) failed.push_back(&gate);
      }
      std::string station = outcome.station == kNoStation ? "- (from memory)" : StationText(outcome.station);
      if (outcome.status != 0) station = "-";
      frame.gates.push_back({gate.text, whats[i], GateTypeName(gate.gateType), value, station});
      if (gate.text == kPlcOneCounter && outcome.status == 0) plcOneStation = outcome.station;
    }
    for (size_t s = 0; s < counters.size(); ++s) {
      const DemoStationSpec& spec = kDemoStations[s];
      std::vector<std::string> row = {std::to_string(spec.number), plant.Endpoint(spec.number), spec.role,
                                      plant.Running(spec.number) ? "running" : "STOPPED"};
      for (HostGate& gate : counters[s]) {
        if (gate.parseStatus != 0) {
          row.push_back("-");
          continue;
        }
        const CallOutcome outcome = host.Read(gate);
        row.push_back(outcome.status == 0 && !outcome.values.empty() ? outcome.values[0] : StatusText(outcome.status));
      }
      frame.stations.push_back(row);
    }
    // A host's answer to a communication failure: warm start the station.
    std::vector<int32_t> warmStarted;
    for (const HostGate* gate : failed) {
      bool already = false;
      for (int32_t number : warmStarted) already = already || number == gate->parsed.plcNumber;
      if (already) continue;
      warmStarted.push_back(gate->parsed.plcNumber);
      host.Recover(*gate);
    }
    events.Collect(startMs);

    const double after = elapsed();
    if (plcOneStation != kNoStation) {
      if (served.empty() || served.back().station != plcOneStation) served.push_back({plcOneStation, now, after});
      served.back().to = after;
      if (masterStopped && !masterRestarted && plcOneStation == kDemoBackup) failoverSeen = true;
      if (failoverSeen && masterRestarted && plcOneStation == kDemoMaster) returnSeen = true;
    }

    char title[160];
    std::snprintf(title, sizeof title, "TOLDEX demo   %5.1f s of %.0f s   round %d", now, duration, round + 1);
    frame.title = title;
    std::string phase;
    if (!masterStopped) {
      phase = "Both stations of PLC 1 run; the master stops at " + Seconds(stopAt) + ".";
    } else if (!masterRestarted) {
      phase = "The master of PLC 1 is STOPPED since " + Seconds(stopAt) + "; it starts again at " + Seconds(restartAt) + ".";
    } else {
      phase = "The master of PLC 1 runs again since " + Seconds(restartAt) + ".";
    }
    frame.facts.push_back(phase);
    frame.facts.push_back(plcOneStation == kNoStation
                              ? "PLC 1 is not served this round."
                              : "PLC 1 is served by station " + std::to_string(plcOneStation) +
                                    (plcOneStation == kDemoMaster ? " (master)." : " (backup)."));
    frame.facts.push_back("Driver " + host.library().path + ", initialisation file " + (folder.path() / InitFileName(1)).string());
    frame.events = events.Latest(kEventsShown);
    if (terminal || now - lastPrinted >= kPlainPrintEvery - interval / 2) {
      screen.Show(RenderFrame(frame));
      lastPrinted = now;
      unshownFrame.clear();
    } else {
      unshownFrame = RenderFrame(frame);
    }

    const double next = (round + 1) * interval;
    while (!g_interrupted.load() && elapsed() < next && elapsed() < duration) platform::SleepMilliseconds(kSleepSliceMs);
  }
  if (!unshownFrame.empty()) screen.Show(unshownFrame);
  host.End();
  plant.StopAll();

  const double ran = elapsed();
  std::printf("Summary after %.1f s: %ld reads, %ld failed (those of the master while it was stopped).\n", ran, reads,
              failedReads);
  std::string spans;
  for (const ServedSpan& span : served) {
    char text[96];
    std::snprintf(text, sizeof text, "%sstation %d (%s) %.1f-%.1f s", spans.empty() ? "" : ", ", span.station,
                  span.station == kDemoMaster ? "master" : "backup", span.from, span.to);
    spans += text;
  }
  std::printf("PLC 1 was served by %s.\n", spans.empty() ? "no station" : spans.c_str());
  std::printf("Failover to the backup: %s. Back to the master: %s.\n", failoverSeen ? "seen" : "NOT SEEN",
              returnSeen ? "seen" : "NOT SEEN");
  if (started != 0) std::printf("ColdStart answered %d.\n", started);
  if (refusedGates > 0) std::printf("%d gates were refused by the driver's parser.\n", refusedGates);
  if (arguments.Has("keep")) {
    folder.Keep();
    std::printf("The demo's folder is kept: %s\n", folder.path().string().c_str());
  }
  return failoverSeen && returnSeen && refusedGates == 0 ? kExitOk : kExitRefused;
}

}  // namespace toldex::cli
