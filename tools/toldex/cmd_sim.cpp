// toldex sim: the PLC simulator on its own, to try a host against it; it can
// also write the initialisation file that matches the stations it serves.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <streambuf>

#include "command_line.h"
#include "commands.h"
#include "common_options.h"
#include "exit_codes.h"
#include "plcsim/command_line.h"
#include "plcsim/simulator.h"
#include "platform/library_loader.h"
#include "platform/process.h"
#include "temp_folder.h"

namespace toldex::cli {
namespace {

constexpr int kSimulatorStartFailed = 1;
constexpr int kSimulatorBadArguments = 2;
constexpr long kMaxDriverNumber = 99;
constexpr int kFirstPlc = 1;
constexpr int kLastPlc = 64;

const char kOwnOptionsHelp[] =
    "\nOptions of toldex sim besides the simulator's own:\n"
    "  --ini FOLDER           once the stations listen, write FOLDER/TOLDEXnn.INT with a\n"
    "                         station line for each of them, for 'toldex poll --dir FOLDER'\n"
    "  --backup P=B           add the line BACKUP_P = B to that file (repeatable)\n"
    "  --driver N             driver number of the file name (default 1)\n"
    "  --run PROGRAM [ARG...] start the stations, write the file, run the program (all the\n"
    "                         words after --run), print what it printed, stop the stations\n"
    "                         and exit with its status; with --run only --station, --delay\n"
    "                         and --silent of the simulator's options apply\n"
    "\nExample:\n"
    "  toldex sim --station 1=127.0.0.11 --station 2=127.0.0.12 --backup 1=2 --ini demo &\n"
    "  toldex poll --dir demo --interval 1 0140001 '$NUMCOMMS:01'\n"
    "  toldex sim --station 1=127.0.0.11 --ini . --run toldex poll 0140001\n"
    "\nExit status: 0, 64 for a bad command line, 69 when a station cannot start; with\n"
    "--run, the program's own status.\n";

// Forwards everything to the target stream and hands each complete line to
// the watcher: how the listening ports reach the initialisation file.
class LineWatcher : public std::streambuf {
 public:
  LineWatcher(std::ostream& target, void (*onLine)(void*, const std::string&), void* context)
      : target_(target), onLine_(onLine), context_(context) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    target_.put(static_cast<char>(c));
    if (c == '\n') {
      onLine_(context_, line_);
      line_.clear();
    } else {
      line_ += static_cast<char>(c);
    }
    return c;
  }
  int sync() override {
    target_.flush();
    return 0;
  }

 private:
  std::ostream& target_;
  void (*onLine_)(void*, const std::string&);
  void* context_;
  std::string line_;
};

struct IniWriter {
  std::string folder;
  int driverNumber = 1;
  std::vector<std::pair<int, int>> backups;
  std::string stationLines;

  static void OnLine(void* context, const std::string& line) {
    auto* writer = static_cast<IniWriter*>(context);
    int number = 0;
    char endpoint[128] = "";
    if (std::sscanf(line.c_str(), "station %d listening on %127s", &number, endpoint) == 2) {
      std::string text = endpoint;
      const auto colon = text.rfind(':');
      if (colon != std::string::npos) {
        writer->stationLines += std::to_string(number) + " " + text.substr(0, colon) + " " + text.substr(colon + 1) + "\n";
      }
      return;
    }
    if (line == "ready" && !writer->folder.empty()) writer->Write();
  }

  void Write() const {
    std::string content = "; Written by toldex sim for the stations it serves.\nBUS=M,D\n" + stationLines;
    for (const auto& [plc, backup] : backups) {
      content += "BACKUP_" + std::to_string(plc) + " = " + std::to_string(backup) + "\n";
    }
    const auto path = std::filesystem::path(folder) / InitFileName(driverNumber);
    std::ofstream out(path, std::ios::binary);
    out << content;
    (out ? std::cout : std::cerr) << (out ? "wrote " : "cannot write ") << path.string() << std::endl;
  }
};

constexpr char kDefaultStation[] = "1=127.0.0.1";
constexpr uint32_t kNoTimeLimit = 0;

// --station N=IP[:PORT] for the simulator that --run starts.
plcsim::StationConfig ReadStation(const std::string& text) {
  plcsim::StationConfig config;
  const auto equals = text.find('=');
  long number = 0;
  if (equals == std::string::npos || !ReadLong(text.substr(0, equals), number) || number < 0 || number > 255) {
    throw UsageError("bad --station '" + text + "', expected N=IP[:PORT], for example 1=127.0.0.1:1502");
  }
  std::string endpoint = text.substr(equals + 1);
  long port = 0;
  if (const auto colon = endpoint.find(':'); colon != std::string::npos) {
    if (!ReadLong(endpoint.substr(colon + 1), port) || port < 0 || port > 65535) {
      throw UsageError("bad --station '" + text + "', the port must be 0 to 65535");
    }
    endpoint.resize(colon);
  }
  config.number = static_cast<int>(number);
  config.address = endpoint;
  config.port = static_cast<uint16_t>(port);
  return config;
}

std::string ReadFileText(const std::string& path) {
  try {
    return ReadWholeFile(path);
  } catch (const std::exception&) {
    return {};
  }
}

// Serves the stations while another program runs.
int RunWithProgram(IniWriter& writer, const std::vector<std::string>& simulatorWords, const std::vector<std::string>& program) {
  std::vector<plcsim::StationConfig> stations;
  long delayMs = 0;
  bool silent = false;
  for (size_t i = 1; i < simulatorWords.size(); ++i) {
    const std::string& word = simulatorWords[i];
    if (word == "--silent") {
      silent = true;
    } else if ((word == "--station" || word == "--delay") && i + 1 < simulatorWords.size()) {
      const std::string& value = simulatorWords[++i];
      if (word == "--station") {
        stations.push_back(ReadStation(value));
      } else if (!ReadLong(value, delayMs) || delayMs < 0) {
        throw UsageError("bad --delay '" + value + "', expected milliseconds");
      }
    } else {
      throw UsageError("with --run, only --station, --delay and --silent apply, not '" + word + "'");
    }
  }
  if (stations.empty()) stations.push_back(ReadStation(kDefaultStation));
  plcsim::Simulator simulator;
  for (const plcsim::StationConfig& config : stations) {
    plcsim::Station& station = simulator.AddStation(config);
    station.SetReplyDelay(static_cast<uint32_t>(delayMs));
    station.SetSilent(silent);
  }
  std::string error;
  if (!simulator.StartAll(&error)) {
    PrintError("sim: " + error);
    return kExitUnavailable;
  }
  for (size_t i = 0; i < simulator.Size(); ++i) {
    const plcsim::Station& station = simulator.At(i);
    IniWriter::OnLine(&writer, "station " + std::to_string(station.Number()) + " listening on " + station.Address() +
                                   ":" + std::to_string(station.Port()));
  }
  if (!writer.folder.empty()) writer.Write();
  TempFolder outputs("toldex-sim-run-");
  platform::ProcessRun run;
  run.arguments = program;
  // "toldex" is this program itself, wherever it was started from.
  char self[4096];
  if (program[0] == "toldex" && platform::ProgramPath(self, sizeof self)) run.arguments[0] = self;
  run.outputPath = (outputs.path() / "out.txt").string();
  run.errorPath = (outputs.path() / "err.txt").string();
  run.timeoutMs = kNoTimeLimit;
  const int status = platform::RunProcess(run);
  std::fputs(ReadFileText(run.outputPath).c_str(), stdout);
  std::fflush(stdout);
  std::fputs(ReadFileText(run.errorPath).c_str(), stderr);
  simulator.StopAll();
  if (status == platform::kProcessNotStarted) {
    PrintError("sim: cannot run " + program[0]);
    return kExitUnavailable;
  }
  return status;
}

}  // namespace

int RunSim(const Words& words) {
  IniWriter writer;
  std::vector<std::string> passed = {"toldex sim"};
  std::vector<std::string> program;
  bool help = false;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "--run") {
      program.assign(words.begin() + static_cast<long>(i) + 1, words.end());
      if (program.empty()) throw UsageError("--run needs a program");
      break;
    }
    const std::string& word = words[i];
    auto value = [&](const char* name) {
      if (i + 1 >= words.size()) throw UsageError(std::string(name) + " needs a value");
      return words[++i];
    };
    if (word == "--ini") {
      writer.folder = value("--ini");
      std::error_code error;
      if (!std::filesystem::is_directory(writer.folder, error)) throw UsageError("--ini " + writer.folder + " is not a folder");
    } else if (word == "--backup") {
      const std::string pair = value("--backup");
      long plc = 0;
      long backup = 0;
      const auto equals = pair.find('=');
      if (equals == std::string::npos || !ReadLong(pair.substr(0, equals), plc) || !ReadLong(pair.substr(equals + 1), backup) ||
          plc < kFirstPlc || plc > kLastPlc || backup < kFirstPlc || backup > kLastPlc) {
        throw UsageError("--backup takes P=B with PLC numbers 1 to 64, not '" + pair + "'");
      }
      writer.backups.emplace_back(static_cast<int>(plc), static_cast<int>(backup));
    } else if (word == "--driver") {
      long number = 0;
      const std::string text = value("--driver");
      if (!ReadLong(text, number) || number < 0 || number > kMaxDriverNumber) {
        throw UsageError("--driver takes a number from 0 to 99, not '" + text + "'");
      }
      writer.driverNumber = static_cast<int>(number);
    } else {
      help = help || word == "--help" || word == "-h";
      passed.push_back(word);
    }
  }
  if (help) {
    // The simulator's exit codes become toldex's own (see below).
    std::string usage = plcsim::UsageText("toldex sim");
    usage = usage.substr(0, usage.find("Exit status:"));
    while (!usage.empty() && usage.back() == '\n') usage.pop_back();
    std::cout << usage << "\n" << kOwnOptionsHelp;
    return kExitOk;
  }
  if (!program.empty()) return RunWithProgram(writer, passed, program);
  std::vector<char*> argv;
  for (std::string& word : passed) argv.push_back(word.data());
  argv.push_back(nullptr);
  LineWatcher watcher(std::cout, &IniWriter::OnLine, &writer);
  std::ostream out(&watcher);
  const int status = plcsim::RunCommandLine(static_cast<int>(passed.size()), argv.data(), out, std::cerr, "toldex sim");
  out.flush();
  if (status == kSimulatorBadArguments) return kExitUsage;
  if (status == kSimulatorStartFailed) return kExitUnavailable;
  return status;
}

}  // namespace toldex::cli
