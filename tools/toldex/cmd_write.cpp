// toldex write: writes one gate (or a block) through the driver and reads it back.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "driver_host.h"
#include "exit_codes.h"
#include "report.h"

namespace toldex::cli {
namespace {

const std::vector<OptionSpec> kOptions = {
    {"type", 'T', "TYPE", "gate type: u16 i16 w16 float i32 u32 digital, or 0-6 (default: from the memory type)"},
    {"block", 'n', nullptr, "write the values as a block (BlockWrite), also a single one"},
    {"no-read-back", 0, nullptr, "do not read the gate back"},
    {"json", 0, nullptr, "print one JSON object"},
    kTimeoutOption,
    kDirOption,
    kDriverNumberOption,
    kLibraryOption,
    kVerboseOption,
    kHelpOption,
};

const char kDescription[] =
    "Starts the driver as a host does, parses the gate, writes the value with SingleWrite\n"
    "(several values, or --block: BlockWrite of that many elements) and reads the gate back.\n"
    "Digital values are 0/1 (on/off); 16- and 32-bit values are decimal or 0x hexadecimal;\n"
    "floats are decimal. Bit and byte gates are written by the driver as a read of the\n"
    "register and a write of it with the bit or byte changed. \"$ST_ONLINE:nn\" sets a\n"
    "station's online flag; the driver refuses writes to inputs and counters, and ignores\n"
    "writes to switch gates (a switch comes from the host: see poll --switch).\n"
    "Exit status: 0 written and read back, 1 refused, 2 communication failure.\n"
    "\nExamples:\n"
    "  toldex write 0140010 1234\n"
    "  toldex write 0170001 3.25\n"
    "  toldex write 01400013 1\n"
    "  toldex write 0140001 10 20 30";

}  // namespace

int RunWrite(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("write [OPTIONS] GATE VALUE [VALUE...]", kDescription, kOptions);
    return kExitOk;
  }
  const CommonOptions common = ReadCommonOptions(arguments);
  const auto& positionals = arguments.Positionals();
  if (positionals.size() < 2) throw UsageError("name a gate and the value to write");
  int32_t forcedType = -1;
  if (arguments.Has("type") && !GateTypeFromText(arguments.Get("type"), forcedType)) {
    throw UsageError("unknown gate type '" + arguments.Get("type") + "'");
  }
  const std::vector<std::string> values(positionals.begin() + 1, positionals.end());
  const bool block = arguments.Has("block") || values.size() > 1;
  const bool json = arguments.Has("json");

  StartLogging(common.verbosity);
  DriverHost host(common);
  std::string reason;
  if (!host.Open(reason)) {
    PrintError(reason);
    return kExitUnavailable;
  }
  host.Start();
  HostGate gate = host.MakeGate(positionals[0], forcedType, block ? static_cast<int32_t>(values.size()) : 0);
  if (gate.parseStatus != 0) {
    if (json) {
      std::printf("%s\n", JsonObject().Text("gate", gate.text).Text("type", GateTypeName(gate.gateType))
                              .Text("phase", "parse").Integer("status", gate.parseStatus).str().c_str());
    } else {
      std::printf("%s: the driver refused the address\n", gate.text.c_str());
    }
    for (const std::string& note : CallNotes(gate.parseLines, 0)) std::fprintf(json ? stderr : stdout, "    %s\n", note.c_str());
    return kExitRefused;
  }
  CallOutcome written;
  if (!host.Write(gate, values, written, reason)) throw UsageError(reason);
  int exit = WorseExit(kExitOk, written.status);
  CallOutcome readBack;
  const bool reading = written.status == 0 && !arguments.Has("no-read-back");
  if (reading) {
    readBack = host.Read(gate);
    exit = WorseExit(exit, readBack.status);
  }
  host.End();
  // A block write names no station in the driver's log; its read back does.
  if (written.station < 0 && reading && readBack.station >= 0) {
    written.station = readBack.station;
    written.address = readBack.address;
  }

  if (json) {
    JsonObject object;
    object.Text("gate", gate.text).Text("type", GateTypeName(gate.gateType))
        .Raw("written", block ? JsonValueArray(values) : JsonValue(values[0]))
        .Integer("status", written.status);
    if (written.station < 0) object.Null("station");
    else object.Integer("station", written.station).Text("address", written.address);
    if (reading) {
      object.Integer("readStatus", readBack.status);
      if (readBack.status != 0) object.Null("readBack");
      else object.Raw("readBack", block ? JsonValueArray(readBack.values) : JsonValue(readBack.values[0]));
    }
    std::vector<std::string> log = CallNotes(written.lines, 0);
    for (const std::string& note : CallNotes(readBack.lines, 0)) log.push_back(note);
    object.Raw("log", JsonStringArray(log));
    std::printf("%s\n", object.str().c_str());
    return exit;
  }
  Table table({"GATE", "TYPE", "WRITTEN", "STATUS", "READ BACK", "STATION"});
  std::vector<std::string> notes = written.status != 0 ? CallNotes(written.lines, 0) : std::vector<std::string>{};
  if (reading && readBack.status != 0) {
    for (const std::string& note : CallNotes(readBack.lines, 0)) notes.push_back(note);
  }
  // A write the driver ignores or answers from memory says so at level 32.
  if (written.status == 0) {
    for (const std::string& note : CallNotes(written.lines, kLevelEvent)) notes.push_back(note);
  }
  table.AddRow({gate.text, GateTypeName(gate.gateType), Joined(values, " "), StatusText(written.status),
                !reading ? "-" : readBack.status == 0 ? Joined(readBack.values, " ") : StatusText(readBack.status),
                written.station < 0 ? "-" : std::to_string(written.station) + " (" + written.address + ")"},
               notes);
  std::printf("%s", table.Render().c_str());
  return exit;
}

}  // namespace toldex::cli
