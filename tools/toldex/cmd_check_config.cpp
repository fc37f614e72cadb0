// toldex check-config: the initialisation file as the driver reads it, the
// configuration it yields and every message, without connecting anything.
#include <cstdio>
#include <cstring>
#include <sstream>

#include "commands.h"
#include "common_options.h"
#include "core_access.h"
#include "exit_codes.h"
#include "report.h"
#include "temp_folder.h"

namespace toldex::cli {
namespace {

constexpr int kFirstGatePlc = 1;
constexpr int kLastGatePlc = 64;

const std::vector<OptionSpec> kOptions = {
    {"json", 0, nullptr, "print one JSON object"}, kDirOption, kDriverNumberOption, kVerboseOption, kHelpOption,
};

const char kDescription[] =
    "Reads an initialisation file with the driver's own reader, exactly as a full ColdStart\n"
    "does, and shows the configuration it yields (protocol, address base, options, stations,\n"
    "backup pairs), every message the driver logs, and the lines it skips without a message\n"
    "(headings, comments, and mistyped keys such as \"BUS = M,D\" with a blank before '=').\n"
    "Without FILE it reads the file the driver would open in the folder (--dir, else the\n"
    "current directory): TOLDEXnn.INT, TOLDEXn.INT or TOLDEX.INT for driver number n.\n"
    "No station is connected. Exit status 0 when the driver has nothing to complain about,\n"
    "1 when it logged a message about a line (or found no file).";

// Lines that set the opposite of every default, so that a line that sets any
// key shows an effect against one of the two starting points.
const char kFlippedPrelude[] =
    "BUS=J,H\nSWAP = YES\nFLOATSWAP = YES\nLONGADDR = YES\nPARITY_ADDR_CHECKING = NO\nRECEIVED_FRAMES_CHECKING = NO\n";

bool SameConfiguration(const InstanceRecord& a, const InstanceRecord& b) {
  if (a.protocol != b.protocol || a.base != b.base || a.options != b.options ||
      a.parityAddrChecking != b.parityAddrChecking || a.receivedFramesChecking != b.receivedFramesChecking) {
    return false;
  }
  for (int s = 0; s < kStationCount; ++s) {
    const StationRecord& x = a.stations[s];
    const StationRecord& y = b.stations[s];
    if (std::strcmp(x.ip, y.ip) != 0 || x.port != y.port || x.force_address != y.force_address) return false;
  }
  for (int p = 1; p < kBackupEntryCount; ++p) {
    if (a.backups[p].backupPlc != b.backups[p].backupPlc) return false;
  }
  return true;
}

bool IsProblem(const LogEntry& entry) {
  if (entry.level < kLevelEvent) return false;
  if (!entry.text.empty() && entry.text[0] == '\t') return false;  // a station line
  return entry.text.rfind("TOLDEX: ===", 0) != 0 && entry.text.rfind("TOLDEX:  PLC # ", 0) != 0;
}

struct Trial {
  ScratchInstance instance;
  size_t messages = 0;
};

void RunTrial(Trial& trial, const std::string& content, int32_t driverNumber) {
  TempFolder folder("toldex-line-");
  folder.Write(InitFileName(driverNumber), content);
  trial.messages = ReadInitialisationFile(trial.instance, folder.path(), driverNumber).messages.size();
}

// Lines of the file that change nothing and draw no message: the reader
// skipped them. Each line is tried alone after two opposite starting points.
std::vector<std::pair<int, std::string>> SkippedLines(const std::string& content, int32_t driverNumber) {
  QuietEcho quiet;  // the trials' lines are no news to the reader of -v
  Trial plainBase;
  Trial flippedBase;
  RunTrial(plainBase, "", driverNumber);
  RunTrial(flippedBase, kFlippedPrelude, driverNumber);
  std::vector<std::pair<int, std::string>> skipped;
  std::istringstream lines(content);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    Trial plain;
    Trial flipped;
    RunTrial(plain, line + "\n", driverNumber);
    RunTrial(flipped, std::string(kFlippedPrelude) + line + "\n", driverNumber);
    const bool noEffect = SameConfiguration(plain.instance.record(), plainBase.instance.record()) &&
                          SameConfiguration(flipped.instance.record(), flippedBase.instance.record());
    const bool noMessage = plain.messages == plainBase.messages && flipped.messages == flippedBase.messages;
    if (noEffect && noMessage) skipped.emplace_back(number, line);
  }
  return skipped;
}

std::string YesNo(bool value) { return value ? "YES" : "NO"; }

std::vector<std::string> Remarks(const InstanceRecord& record) {
  std::vector<std::string> remarks;
  for (int s = 0; s < kStationCount; ++s) {
    if (record.stations[s].ip[0] != '\0' && (s < kFirstGatePlc || s > kLastGatePlc)) {
      remarks.push_back("station " + std::to_string(s) +
                        ": gate addresses name PLCs 1 to 64, so only its diagnostic gates reach it");
    }
  }
  for (int p = 1; p < kBackupEntryCount; ++p) {
    const int backup = record.backups[p].backupPlc;
    if (backup == 0) continue;
    if (record.stations[p].ip[0] == '\0') {
      remarks.push_back("PLC " + std::to_string(p) + " has a backup but no station line of its own");
    }
    if (record.stations[backup].ip[0] == '\0') {
      remarks.push_back("the backup of PLC " + std::to_string(p) + ", station " + std::to_string(backup) +
                        ", has no station line");
    }
  }
  return remarks;
}

}  // namespace

int RunCheckConfig(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("check-config [OPTIONS] [FILE]", kDescription, kOptions);
    return kExitOk;
  }
  const CommonOptions common = ReadCommonOptions(arguments);
  if (arguments.Positionals().size() > 1) throw UsageError("name at most one file");
  StartLogging(common.verbosity);

  std::filesystem::path file;
  if (arguments.Positionals().empty()) {
    file = FindInitFile(common.folder, common.driverNumber);
  } else {
    file = arguments.Positionals()[0];
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) throw UsageError("no such file: " + file.string());
  }
  const std::string content = file.empty() ? std::string() : ReadWholeFile(file);

  // The driver reads from the current directory under its own names: a copy
  // of the file under the first of them is read in a private folder.
  TempFolder folder("toldex-check-");
  if (!file.empty()) folder.Write(InitFileName(common.driverNumber), content);
  ScratchInstance instance;
  const InitFileResult result = ReadInitialisationFile(instance, folder.path(), common.driverNumber);
  const InstanceRecord& record = instance.record();

  int exit = file.empty() ? kExitRefused : kExitOk;
  std::vector<const LogEntry*> problems;
  for (const LogEntry& entry : result.messages) {
    if (IsProblem(entry)) {
      problems.push_back(&entry);
      exit = kExitRefused;
    }
  }
  const auto skipped = file.empty() ? std::vector<std::pair<int, std::string>>{} : SkippedLines(content, common.driverNumber);
  const auto remarks = Remarks(record);

  if (arguments.Has("json")) {
    JsonObject object;
    object.Text("file", file.empty() ? "" : std::filesystem::absolute(file).string())
        .Text("protocol", ProtocolName(record.protocol))
        .Text("base", BaseName(record.base))
        .Boolean("swap", (record.options & kOptionSwap) != 0)
        .Boolean("floatSwap", (record.options & kOptionFloatSwap) != 0)
        .Boolean("longAddr", (record.options & kOptionLongAddr) != 0)
        .Boolean("parityAddrChecking", record.parityAddrChecking != 0)
        .Boolean("receivedFramesChecking", record.receivedFramesChecking != 0);
    std::string stations = "[";
    for (int s = 0; s < kStationCount; ++s) {
      const StationRecord& station = record.stations[s];
      if (station.ip[0] == '\0') continue;
      if (stations.size() > 1) stations += ",";
      JsonObject entry;
      entry.Integer("station", s).Text("ip", station.ip).Integer("port", station.port);
      if (station.force_address == -1) entry.Null("forceAddress");
      else entry.Integer("forceAddress", station.force_address);
      stations += entry.str();
    }
    object.Raw("stations", stations + "]");
    std::string backups = "[";
    for (int p = 1; p < kBackupEntryCount; ++p) {
      if (record.backups[p].backupPlc == 0) continue;
      if (backups.size() > 1) backups += ",";
      backups += JsonObject().Integer("plc", p).Integer("backup", record.backups[p].backupPlc).str();
    }
    object.Raw("backups", backups + "]");
    std::string messages = "[";
    for (const LogEntry& entry : result.messages) {
      if (messages.size() > 1) messages += ",";
      messages += JsonObject().Integer("level", entry.level).Text("text", entry.text).Boolean("problem", IsProblem(entry)).str();
    }
    object.Raw("messages", messages + "]");
    std::string skippedJson = "[";
    for (const auto& [number, text] : skipped) {
      if (skippedJson.size() > 1) skippedJson += ",";
      skippedJson += JsonObject().Integer("line", number).Text("text", text).str();
    }
    object.Raw("skippedLines", skippedJson + "]");
    object.Raw("remarks", JsonStringArray(remarks));
    object.Integer("problems", static_cast<long long>(problems.size()));
    std::printf("%s\n", object.str().c_str());
    return exit;
  }

  if (file.empty()) {
    std::printf("No initialisation file found (the driver tries TOLDEX%02d.INT, TOLDEX%d.INT, TOLDEX.INT)\n",
                common.driverNumber, common.driverNumber);
  } else {
    std::printf("File: %s\n", std::filesystem::absolute(file).string().c_str());
  }
  std::printf("\nProtocol                  %s\n", ProtocolName(record.protocol));
  std::printf("Address base              %s\n", BaseName(record.base));
  std::printf("SWAP                      %s   (word swap of 32-bit integer gates)\n",
              YesNo(record.options & kOptionSwap).c_str());
  std::printf("FLOATSWAP                 %s   (word swap of float gates)\n",
              YesNo(record.options & kOptionFloatSwap).c_str());
  std::printf("LONGADDR                  %s   (32-bit gates: one address per value)\n",
              YesNo(record.options & kOptionLongAddr).c_str());
  std::printf("PARITY_ADDR_CHECKING      %s\n", YesNo(record.parityAddrChecking != 0).c_str());
  std::printf("RECEIVED_FRAMES_CHECKING  %s\n", YesNo(record.receivedFramesChecking != 0).c_str());

  Table stations({"STATION", "IP", "PORT", "UNIT ID"});
  for (int s = 0; s < kStationCount; ++s) {
    const StationRecord& station = record.stations[s];
    if (station.ip[0] == '\0') continue;
    stations.AddRow({std::to_string(s), station.ip, std::to_string(station.port),
                     station.force_address == -1 ? "(station number)" : std::to_string(station.force_address)});
  }
  std::printf("\nStations:\n%s", stations.empty() ? "  none\n" : stations.Render().c_str());
  Table backups({"PLC", "BACKUP"});
  for (int p = 1; p < kBackupEntryCount; ++p) {
    if (record.backups[p].backupPlc != 0) backups.AddRow({std::to_string(p), std::to_string(record.backups[p].backupPlc)});
  }
  std::printf("\nBackup pairs:\n%s", backups.empty() ? "  none\n" : backups.Render().c_str());

  std::printf("\nMessages of the driver (%zu that need attention):\n", problems.size());
  for (const LogEntry& entry : result.messages) {
    std::printf("  %s %s\n", IsProblem(entry) ? "!" : " ", FormatLogEntry(entry).c_str());
  }
  if (!skipped.empty()) {
    std::printf("\nLines the driver skips without a message:\n");
    for (const auto& [number, text] : skipped) std::printf("  line %d: %s\n", number, text.c_str());
  }
  if (!remarks.empty()) {
    std::printf("\nRemarks:\n");
    for (const std::string& remark : remarks) std::printf("  %s\n", remark.c_str());
  }
  return exit;
}

}  // namespace toldex::cli
