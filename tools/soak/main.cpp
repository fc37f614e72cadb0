// soak: the driver under a long, hostile load, as a host would run it.
//
//   soak --duration 1800 --seed 7 --threads 4 --stations 12
//
// Prints what it did and found; exit status 0 only when every check held.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "counters_check.h"
#include "gates.h"
#include "host_driver.h"
#include "plant.h"
#include "qirpro.h"
#include "resources.h"
#include "soak_options.h"
#include "tally.h"
#include "workers.h"

namespace soak {
namespace {

constexpr int32_t kColdStartTimeoutCs = 100;
constexpr int32_t kScrutMarker = 200000;
constexpr uint32_t kSettleWaitMs = 10000;
constexpr uint32_t kRegistrationWaitMs = 5000;
constexpr auto kRegistrationPoll = std::chrono::milliseconds(50);
constexpr auto kQuietPause = std::chrono::milliseconds(1500);
constexpr int kReconnectRounds = 20;
constexpr uint32_t kLateFactor = 3;  // late replies come three time-outs late
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Run {
  Options options;
  PlantLayout layout;
  std::vector<std::string> report;
  Resources beforeStart, startQuiet, endQuiet, afterEnd;
  uint64_t stallCount = 0, stallTotalMs = 0, stallLongestMs = 0;
};

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Every station connected again, with the time-out the driver has now.
bool ReconnectAll(RunContext& context, const PlantLayout& layout) {
  for (int station : layout.Stations()) {
    bool connected = false;
    for (int round = 0; round < kReconnectRounds && !connected; ++round) {
      connected = TimedWarmStart(context, kScrutMarker + station) == toldex::kStatusOk;
    }
    if (!connected) return false;
  }
  return true;
}

// Waits until the notification thread has registered every switch gate: the
// driver answers a switch gate's read from memory once it knows its id.
bool WaitForSwitchGates(HostDriver& driver, Catalogue& catalogue) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kRegistrationWaitMs);
  for (Gate* gate : catalogue.switches) {
    for (;;) {
      uint8_t slot[4] = {};
      toldex::GateIo io = MakeGateIo(*gate, slot);
      if (driver.ReadSingle(io) == toldex::kStatusOk) break;
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(kRegistrationPoll);
    }
  }
  return true;
}

std::string ResourcesText(const Resources& r) {
  return std::to_string(r.descriptors) + " descriptors, " + std::to_string(r.threads) + " threads";
}

void PrintSummary(const Run& run, const Tally& tally, const plcsim::StationCounters& plant, double seconds,
                  const LogCounts& logs) {
  const Options& o = run.options;
  char line[512];
  std::snprintf(line, sizeof line,
                "soak: seed %llu, %.0f s, %d threads, %d stations (%zu master/backup pairs, %zu PLCs without backup), "
                "time-out %d ms, fault rate %.3f",
                static_cast<unsigned long long>(o.seed), seconds, o.threads, o.stations, run.layout.masters.size(),
                run.layout.singles.size(), o.timeoutMs, o.chaosRate);
  Say(line);
  uint64_t total = 0;
  Say("operations (calls: status 0 / 1 / 2, longest ms):");
  for (size_t k = 0; k < static_cast<size_t>(OpKind::kCount); ++k) {
    const KindTally& kind = tally.Of(static_cast<OpKind>(k));
    const uint64_t calls = kind.calls.load();
    if (calls == 0) continue;
    if (static_cast<OpKind>(k) != OpKind::kSwitchPost) total += calls;
    std::snprintf(line, sizeof line, "  %-22s %10llu: %llu / %llu / %llu, %llu ms", OpKindName(static_cast<OpKind>(k)),
                  static_cast<unsigned long long>(calls), static_cast<unsigned long long>(kind.byStatus[0].load()),
                  static_cast<unsigned long long>(kind.byStatus[1].load()),
                  static_cast<unsigned long long>(kind.byStatus[2].load()),
                  static_cast<unsigned long long>(kind.longestMs.load()));
    Say(line);
  }
  std::snprintf(line, sizeof line, "driver calls: %llu (%.0f per second), values checked: %llu",
                static_cast<unsigned long long>(total), seconds > 0 ? static_cast<double>(total) / seconds : 0.0,
                static_cast<unsigned long long>(tally.valuesChecked()));
  Say(line);
  std::string faults = "faults injected:";
  for (int kind = 1; kind < plcsim::kFaultKindCount; ++kind) {
    faults += std::string(" ") + plcsim::FaultKindName(static_cast<plcsim::FaultKind>(kind)) + "=" +
              std::to_string(plant.faults[static_cast<size_t>(kind)]);
  }
  faults += " total=" + std::to_string(plant.FaultTotal());
  Say(faults);
  std::snprintf(line, sizeof line,
                "stations: %llu requests received, %llu executed, %llu replies, %llu connections accepted, %llu restarts",
                static_cast<unsigned long long>(plant.requestsReceived),
                static_cast<unsigned long long>(plant.requestsExecuted),
                static_cast<unsigned long long>(plant.repliesSent),
                static_cast<unsigned long long>(plant.connectionsAccepted),
                static_cast<unsigned long long>(plant.restarts));
  Say(line);
  std::snprintf(line, sizeof line,
                "driver log: %llu lines of level 32, %llu master/backup reports, %llu 'master is up again', "
                "%llu reads abandoned for a vanished socket",
                static_cast<unsigned long long>(logs.lines.load()),
                static_cast<unsigned long long>(logs.switchReports.load()),
                static_cast<unsigned long long>(logs.masterUpAgain.load()),
                static_cast<unsigned long long>(logs.invalidSocket.load()));
  Say(line);
  for (const std::string& text : run.report) Say(text);
  std::snprintf(line, sizeof line, "wrong values: %llu", static_cast<unsigned long long>(tally.wrongValues()));
  Say(line);
  std::snprintf(line, sizeof line, "over-long calls: %llu (the slowest call took %.0f%% of its bound)",
                static_cast<unsigned long long>(tally.overLong()), 100 * tally.highestRatio());
  Say(line);
  std::snprintf(line, sizeof line, "process stalls (woke 20 ms or more late): %llu, %llu ms in all, longest %llu ms",
                static_cast<unsigned long long>(run.stallCount), static_cast<unsigned long long>(run.stallTotalMs),
                static_cast<unsigned long long>(run.stallLongestMs));
  Say(line);
  Say("resources before the start: " + ResourcesText(run.beforeStart) + "; after the end: " +
      ResourcesText(run.afterEnd));
  Say("resources with the driver quiet, at the start: " + ResourcesText(run.startQuiet) + "; at the end: " +
      ResourcesText(run.endQuiet));
  std::snprintf(line, sizeof line, "other problems: %llu", static_cast<unsigned long long>(tally.problems()));
  Say(line);
  for (const std::string& note : tally.Notes()) Say("  " + note);
}

int RunSoak(Run& run) {
  const Options& o = run.options;
  run.layout = MakeLayout(o.stations);
  Tally tally;
  std::string reason;

  Plant plant(run.layout);
  if (!plant.Start(reason)) {
    Say("soak: the simulated stations did not start: " + reason);
    return kExitFailed;
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("toldex-soak-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  if (!plant.WriteInitFile(folder / "TOLDEX01.INT", reason)) {
    Say("soak: " + reason);
    return kExitFailed;
  }

  HostDriver driver;
  if (!driver.Open(o.logPath, reason)) {
    Say("soak: " + reason);
    return kExitFailed;
  }
  run.beforeStart = CountResources();

  Catalogue catalogue;
  StallMonitor stalls;
  RunContext context{driver, catalogue, tally, run.layout, stalls};
  context.threads = o.threads;
  context.timeoutMs = o.timeoutMs;
  context.seed = o.seed;

  driver.ColdStart(kColdStartTimeoutCs);
  driver.ChangeTimeout(o.timeoutMs);
  bool ready = ReconnectAll(context, run.layout);
  if (!ready) tally.Problem("a station did not connect before the run");
  if (!BuildCatalogue(run.layout, o.threads, o.seed, driver, context.catalogue, reason)) {
    Say("soak: " + reason);
    return kExitFailed;
  }
  if (!WaitForSwitchGates(driver, context.catalogue)) tally.Problem("the switch gates were not registered in time");
  run.startQuiet = CountResources();

  stalls.Start();
  plant.StartChaos(o.seed, o.chaosRate, kLateFactor * static_cast<uint32_t>(o.timeoutMs));
  const Clock::time_point started = Clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < o.threads; ++t) threads.emplace_back(RunWorker, std::ref(context), t);
  std::thread switcher(RunSwitcher, std::ref(context));
  std::this_thread::sleep_for(std::chrono::duration<double>(o.durationSeconds));
  context.stop = true;
  for (std::thread& thread : threads) thread.join();
  switcher.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  stalls.Stop();
  run.stallCount = stalls.Count();
  run.stallTotalMs = stalls.TotalMs();
  run.stallLongestMs = stalls.LongestMs();

  // Quiet: no more faults; every station connected again; then what the
  // process holds must be what it held before the run.
  plant.StopChaos();
  std::this_thread::sleep_for(kQuietPause);
  if (!ReconnectAll(context, run.layout)) tally.Problem("a station did not connect again after the run");
  CheckCounters(driver, context.catalogue, plant, tally, run.report);
  const Resources startQuiet = run.startQuiet;
  run.endQuiet = CountResourcesWhen([&](const Resources& r) { return r == startQuiet; }, kSettleWaitMs);
  if (!(run.endQuiet == run.startQuiet)) {
    tally.Problem("quiet resources differ: start " + ResourcesText(run.startQuiet) + ", end " +
                  ResourcesText(run.endQuiet));
  }

  // Ended: EndVpi, then the host library's shut-down ends the notification
  // thread; the simulated stations' connections close with the driver's.
  driver.End();
  QirCtlShutdown();
  const Resources beforeStart = run.beforeStart;
  run.afterEnd = CountResourcesWhen([&](const Resources& r) { return r == beforeStart; }, kSettleWaitMs);
  if (!(run.afterEnd == run.beforeStart)) {
    tally.Problem("resources after the end differ from before the start: " + ResourcesText(run.beforeStart) +
                  " then " + ResourcesText(run.afterEnd));
  }
  const plcsim::StationCounters totals = plant.Totals();
  plant.Stop();
  std::filesystem::current_path(previous);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);

  PrintSummary(run, tally, totals, seconds, driver.logCounts());
  const bool passed = tally.wrongValues() == 0 && tally.overLong() == 0 && tally.problems() == 0;
  Say(passed ? "soak: 1 passed, 0 failed" : "soak: 0 passed, 1 failed");
  return passed ? kExitPassed : kExitFailed;
}

}  // namespace
}  // namespace soak

int main(int argc, char** argv) {
  soak::Run run;
  std::string reason;
  if (!soak::ParseOptions(argc, argv, run.options, reason)) {
    std::fprintf(stderr, "soak: %s\n%s", reason.c_str(), soak::UsageText());
    return soak::kExitUsage;
  }
  if (run.options.help) {
    std::printf("%s", soak::UsageText());
    return soak::kExitPassed;
  }
  return soak::RunSoak(run);
}
