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
    "\nExample:\n"
    "  toldex sim --station 1=127.0.0.11 --station 2=127.0.0.12 --backup 1=2 --ini demo &\n"
    "  toldex poll --dir demo --interval 1 0140001 '$NUMCOMMS:01'\n"
    "\nExit status: 0, 64 for a bad command line, 69 when a station cannot start.\n";

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
    std::cerr << (out ? "wrote " : "cannot write ") << path.string() << std::endl;
  }
};

}  // namespace

int RunSim(const Words& words) {
  IniWriter writer;
  std::vector<std::string> passed = {"toldex sim"};
  bool help = false;
  for (size_t i = 0; i < words.size(); ++i) {
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
