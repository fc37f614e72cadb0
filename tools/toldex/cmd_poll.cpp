// toldex poll: reads gates through the driver once or every --interval.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "driver_host.h"
#include "exit_codes.h"
#include "platform/thread.h"
#include "report.h"

namespace toldex::cli {
namespace {

constexpr long kMaxBlockLength = 2000;
constexpr double kMaxSeconds = 7 * 24 * 3600.0;
constexpr double kMinInterval = 0.01;
constexpr uint32_t kSleepSliceMs = 20;
constexpr uint32_t kSwitchWaitMs = 3000;
constexpr int kFirstPlc = 1;
constexpr int kLastPlc = 64;

const std::vector<OptionSpec> kOptions = {
    {"interval", 'i', "SECONDS", "read every SECONDS until stopped (Ctrl-C), --repeat or --duration"},
    {"repeat", 'r', "N", "stop after N rounds"},
    {"duration", 0, "SECONDS", "stop after SECONDS"},
    {"type", 'T', "TYPE", "gate type for every gate: u16 i16 w16 float i32 u32 digital, or 0-6 (default: from the memory type)"},
    {"count", 'n', "N", "read each gate as a block of N elements"},
    {"switch", 's', "PLC=0|1[@SECONDS]", "set the PLC's switch gate (e.g. 01BACKUP) to 0 (master) or 1 (backup) at that time (repeatable)"},
    {"csv", 0, nullptr, "print CSV lines (a header, then one line per gate and round)"},
    {"json", 0, nullptr, "print one JSON object per gate and round"},
    kTimeoutOption,
    kDirOption,
    kDriverNumberOption,
    kLibraryOption,
    kVerboseOption,
    kHelpOption,
};

const char kDescription[] =
    "Starts the driver as a host does (ColdStart with the initialisation file of the folder,\n"
    "which connects every configured station), parses each gate once and reads it with\n"
    "SingleRead, or BlockRead with --count. Switch gates (\"07BACKUP\"), _SCRUT gates and\n"
    "diagnostic gates (\"$NUMCOMMS:07\") are read like any other. The gate type comes from\n"
    "the memory type unless --type says otherwise. STATION is the station that served the\n"
    "read, as the driver reports it (none for gates answered from memory). After a\n"
    "communication failure the station is warm started before the next round, as a host does.\n"
    "Exit status: 0 every read succeeded, 1 a gate or read was refused, 2 a communication\n"
    "failure (the worst over all rounds).\n"
    "\nExamples:\n"
    "  toldex poll 0140001 0170001 '$NUMCOMMS:01'\n"
    "  toldex poll --interval 0.5 --repeat 10 --csv 0140001\n"
    "  toldex poll --count 10 0140001\n"
    "  toldex poll --interval 1 --duration 6 --switch 1=1@2 --switch 1=0@4 0140001 01BACKUP";

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) { g_interrupted.store(true); }

struct SwitchEvent {
  int plc;
  double value;
  double atSeconds;
  bool done = false;
};

SwitchEvent ReadSwitchEvent(const std::string& text) {
  SwitchEvent event{};
  const auto equals = text.find('=');
  const auto at = text.find('@');
  long plc = 0;
  long value = 0;
  const std::string valueText = equals == std::string::npos ? "" : text.substr(equals + 1, at == std::string::npos ? std::string::npos : at - equals - 1);
  if (equals == std::string::npos || !ReadLong(text.substr(0, equals), plc) || plc < kFirstPlc || plc > kLastPlc ||
      !ReadLong(valueText, value) || (value != 0 && value != 1)) {
    throw UsageError("--switch takes PLC=0|1[@SECONDS] with PLC 1 to 64, not '" + text + "'");
  }
  event.plc = static_cast<int>(plc);
  event.value = static_cast<double>(value);
  if (at != std::string::npos && (!ReadDouble(text.substr(at + 1), event.atSeconds) || event.atSeconds < 0)) {
    throw UsageError("--switch time must be seconds from the start, not '" + text.substr(at + 1) + "'");
  }
  return event;
}

struct Printer {
  OutputFormat format;
  Table table{{"GATE", "TYPE", "STATUS", "VALUE", "STATION"}};

  void Header() {
    if (format == OutputFormat::kCsv) {
      std::printf("%s\n", CsvLine({"time", "elapsed", "round", "gate", "type", "status", "value", "station", "address", "message"}).c_str());
    }
  }

  void Row(int round, double elapsed, const HostGate& gate, int32_t status, const std::vector<std::string>& values,
           int station, const std::string& address, const std::vector<std::string>& notes) {
    const std::string joined = Joined(values, " ");
    const std::string stationText = station < 0 ? "" : std::to_string(station);
    switch (format) {
      case OutputFormat::kTable:
        table.AddRow({gate.text, GateTypeName(gate.gateType), StatusText(status), joined,
                      station < 0 ? "-" : stationText + " (" + address + ")"},
                     notes);
        break;
      case OutputFormat::kCsv: {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", elapsed);
        std::printf("%s\n", CsvLine({UtcTimestamp(), seconds, std::to_string(round), gate.text, GateTypeName(gate.gateType),
                                     std::to_string(status), joined, stationText, address, notes.empty() ? "" : notes.front()})
                                .c_str());
        break;
      }
      case OutputFormat::kJson: {
        JsonObject object;
        object.Text("time", UtcTimestamp()).Number("elapsed", elapsed).Integer("round", round).Text("gate", gate.text)
            .Text("type", GateTypeName(gate.gateType)).Integer("status", status);
        if (status != 0) object.Null("value");
        else if (gate.count > 0) object.Raw("value", JsonValueArray(values));
        else object.Raw("value", values.empty() ? "null" : JsonValue(values[0]));
        if (station < 0) object.Null("station");
        else object.Integer("station", station).Text("address", address);
        object.Raw("log", JsonStringArray(notes));
        std::printf("%s\n", object.str().c_str());
        break;
      }
    }
    std::fflush(stdout);
  }

  void EndRound(int round, double elapsed, bool repeating) {
    if (format != OutputFormat::kTable) return;
    if (repeating) std::printf("-- round %d at %.2f s --\n", round, elapsed);
    std::printf("%s", table.Render().c_str());
    if (repeating) std::printf("\n");
    std::fflush(stdout);
    table = Table({"GATE", "TYPE", "STATUS", "VALUE", "STATION"});
  }
};

}  // namespace

int RunPoll(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("poll [OPTIONS] GATE...", kDescription, kOptions);
    return kExitOk;
  }
  const CommonOptions common = ReadCommonOptions(arguments);
  if (arguments.Positionals().empty()) throw UsageError("name at least one gate address");
  int32_t forcedType = -1;
  if (arguments.Has("type") && !GateTypeFromText(arguments.Get("type"), forcedType)) {
    throw UsageError("unknown gate type '" + arguments.Get("type") + "'");
  }
  const int32_t count = static_cast<int32_t>(arguments.GetInteger("count", 0, 1, kMaxBlockLength));
  const bool repeating = arguments.Has("interval");
  const double interval = arguments.GetSeconds("interval", 0, kMinInterval, kMaxSeconds);
  const long repeat = arguments.GetInteger("repeat", repeating ? 0 : 1, 1, 1000000000L);
  const double duration = arguments.GetSeconds("duration", 0, 0, kMaxSeconds);
  if (!repeating && (arguments.Has("repeat") || arguments.Has("duration"))) {
    throw UsageError("--repeat and --duration need --interval");
  }
  std::vector<SwitchEvent> switches;
  for (const std::string& text : arguments.All("switch")) {
    switches.push_back(ReadSwitchEvent(text));
    if (!repeating && switches.back().atSeconds > 0) throw UsageError("a switch at a later time needs --interval");
  }
  Printer printer{arguments.Has("json") ? OutputFormat::kJson : arguments.Has("csv") ? OutputFormat::kCsv : OutputFormat::kTable};

  StartLogging(common.verbosity);
  DriverHost host(common);
  std::string reason;
  if (!host.Open(reason)) {
    PrintError(reason);
    return kExitUnavailable;
  }
  int exit = WorseExit(kExitOk, host.Start());
  // Every gate is parsed once, as a host does when it loads its gates; a
  // refused one is shown in its place in the first round and not read.
  std::vector<HostGate> gates;
  printer.Header();
  for (const std::string& text : arguments.Positionals()) {
    gates.push_back(host.MakeGate(text, forcedType, count));
    if (gates.back().parseStatus != 0) exit = WorseExit(exit, 1);
  }

  std::signal(SIGINT, OnInterrupt);
  const uint64_t start = platform::MonotonicMilliseconds();
  auto elapsed = [&] { return static_cast<double>(platform::MonotonicMilliseconds() - start) / 1000.0; };
  for (int round = 1; !g_interrupted.load(); ++round) {
    for (SwitchEvent& event : switches) {
      if (event.done || elapsed() < event.atSeconds) continue;
      event.done = true;
      if (!host.SetSwitch(event.plc, event.value, kSwitchWaitMs)) {
        PrintError("the switch gate of PLC " + std::to_string(event.plc) + " did not take the value");
        exit = WorseExit(exit, 1);
      }
    }
    std::vector<const HostGate*> failed;
    for (HostGate& gate : gates) {
      if (gate.parseStatus != 0) {
        if (round == 1) printer.Row(round, elapsed(), gate, gate.parseStatus, {}, -1, "", CallNotes(gate.parseLines, 0));
        continue;
      }
      const CallOutcome outcome = host.Read(gate);
      exit = WorseExit(exit, outcome.status);
      printer.Row(round, elapsed(), gate, outcome.status, outcome.values, outcome.station, outcome.address,
                  outcome.status == 0 ? std::vector<std::string>{} : CallNotes(outcome.lines, 0));
      if (outcome.status == 2) failed.push_back(&gate);
    }
    printer.EndRound(round, elapsed(), repeating);
    if (repeat > 0 && round >= repeat) break;
    if (duration > 0 && elapsed() >= duration) break;
    if (!repeating) break;
    std::vector<int32_t> warmStarted;
    for (const HostGate* gate : failed) {
      bool already = false;
      for (int32_t number : warmStarted) already = already || number == gate->parsed.plcNumber;
      if (already) continue;
      warmStarted.push_back(gate->parsed.plcNumber);
      host.Recover(*gate);
    }
    const double next = round * interval;
    while (!g_interrupted.load() && elapsed() < next && !(duration > 0 && elapsed() >= duration)) {
      platform::SleepMilliseconds(kSleepSliceMs);
    }
    if (duration > 0 && elapsed() >= duration) break;
  }
  host.End();
  return exit;
}

}  // namespace toldex::cli
