// toldex parse: how the driver's address operations take each gate address,
// with the driver's own log lines; no station is connected.
#include <cstdio>

#include "commands.h"
#include "common_options.h"
#include "core_access.h"
#include "exit_codes.h"
#include "gate.h"
#include "report.h"

namespace toldex::cli {
namespace {

constexpr long kMaxBlockLength = 100000;
constexpr int32_t kNoMemoryType = -1;
constexpr int32_t kSwitchBitNumber = 255;

const std::vector<OptionSpec> kOptions = {
    {"type", 'T', "TYPE", "gate type for every gate: u16 i16 w16 float i32 u32 digital, or 0-6 (default: from the memory type)"},
    {"block", 'n', "N", "parse as a block of N elements (BlockAddressParser)"},
    {"line", 'l', "LINE", "an initialisation-file line read after the file's own, e.g. --line BUS=J,H (repeatable)"},
    {"csv", 0, nullptr, "print CSV lines"},
    {"json", 0, nullptr, "print one JSON object per gate"},
    kDirOption,
    kDriverNumberOption,
    kVerboseOption,
    kHelpOption,
};

const char kDescription[] =
    "Runs the driver's own address operations (SingleAddressParser, or BlockAddressParser\n"
    "with --block) on each gate address, with the address base, protocol and options of the\n"
    "initialisation file in the folder, and shows the parsed address: PLC or station,\n"
    "memory type, register (0-based), bit, width, and the Modbus request a read sends:\n"
    "function code, first 0-based address, quantity. A refused address is shown with the driver's log lines that say why.\n"
    "Nothing is connected. Exit status 0 when every address is accepted, 1 otherwise.\n"
    "\nExamples:\n"
    "  toldex parse 0140010 0170001 '$NUMCOMMS:01' 07BACKUP\n"
    "  toldex parse --line BUS=M,H 1A3FFFF\n"
    "  toldex parse --block 125 0140001";

struct ParsedGate {
  std::string text;
  int32_t gateType;
  int32_t status;
  GateAddress fields;
  std::vector<LogEntry> lines;
};

std::string Cell(int32_t value) { return std::to_string(value); }

std::string RequestText(const ParsedGate& gate, int32_t blockLength, bool longAddressing) {
  ReadRequest request{};
  if (!ReadRequestOf(gate.fields, blockLength, longAddressing, request)) return "none (from memory)";
  return "fc " + Cell(request.functionCode) + ", start " + Cell(request.start) + ", qty " + Cell(request.quantity);
}

std::vector<std::string> Notes(const ParsedGate& gate) {
  std::vector<std::string> notes;
  for (const LogEntry& entry : gate.lines) notes.push_back(FormatLogEntry(entry));
  return notes;
}

}  // namespace

int RunParse(const Words& words) {
  const Arguments arguments = ReadArguments(words, kOptions);
  if (arguments.Has("help")) {
    PrintHelp("parse [OPTIONS] GATE...", kDescription, kOptions);
    return kExitOk;
  }
  const CommonOptions common = ReadCommonOptions(arguments);
  if (arguments.Positionals().empty()) throw UsageError("name at least one gate address");
  int32_t forcedType = -1;
  if (arguments.Has("type") && !GateTypeFromText(arguments.Get("type"), forcedType)) {
    throw UsageError("unknown gate type '" + arguments.Get("type") + "'");
  }
  const int32_t blockLength = static_cast<int32_t>(arguments.GetInteger("block", 0, 1, kMaxBlockLength));
  const OutputFormat format = arguments.Has("json") ? OutputFormat::kJson
                              : arguments.Has("csv") ? OutputFormat::kCsv
                                                     : OutputFormat::kTable;

  StartLogging(common.verbosity);
  ScratchInstance instance;
  const InitFileResult config =
      ReadInitialisationFileWith(instance, common.folder, common.driverNumber, arguments.All("line"));
  const InstanceRecord& record = instance.record();
  const bool longAddressing = (record.options & kOptionLongAddr) != 0;

  std::vector<ParsedGate> gates;
  int exit = kExitOk;
  for (const std::string& text : arguments.Positionals()) {
    ParsedGate gate{text, forcedType >= 0 ? forcedType : DefaultGateType(text, record.base), 0, GateAddress{}, {}};
    gate.fields.address = gate.text.c_str();
    gate.fields.gateType = gate.gateType;
    gate.fields.blockLength = blockLength;
    gate.fields.memoryType = kNoMemoryType;
    gate.fields.bitNumber = -1;
    const uint64_t mark = HostLog::Instance().Mark();
    gate.status = ParseWithCore(instance, common.driverNumber, gate.fields, blockLength > 0);
    gate.lines = HostLog::Instance().SinceOnThisThread(mark);
    exit = WorseExit(exit, gate.status == 0 ? 0 : 1);
    gates.push_back(std::move(gate));
  }

  if (format == OutputFormat::kTable) {
    std::printf("Configuration: %s, %s base, LONGADDR %s, parity checking %s (%s)\n",
                ProtocolName(record.protocol), BaseName(record.base), longAddressing ? "YES" : "NO",
                record.parityAddrChecking != 0 ? "YES" : "NO",
                config.fileRead.empty() ? "no initialisation file: defaults" : config.fileRead.c_str());
    Table table({"GATE", "TYPE", "RESULT", "KIND", "PLC/STATION", "MEMORY", "REGISTER", "BIT", "WIDTH", "READ REQUEST"});
    for (const ParsedGate& gate : gates) {
      if (gate.status != 0) {
        table.AddRow({gate.text, GateTypeName(gate.gateType), "refused"}, Notes(gate));
        continue;
      }
      const GateAddress& f = gate.fields;
      const GateKind kind = KindOf(f.plcNumber, f.memoryType);
      const bool noBit = f.bitNumber == -1 || f.bitNumber == kSwitchBitNumber;
      const bool fromMemory = kind == GateKind::kDiagnostic || kind == GateKind::kSwitch;
      table.AddRow({gate.text, GateTypeName(gate.gateType), "accepted", KindName(kind),
                    Cell(ReducedNumber(f.plcNumber, f.memoryType)),
                    f.memoryType == kNoMemoryType ? "-" : Cell(f.memoryType) + " " + MemoryTypeName(f.memoryType),
                    fromMemory ? "-" : Cell(f.registerAddress), noBit ? "-" : Cell(f.bitNumber),
                    fromMemory ? "-" : Cell(f.bitWidth), RequestText(gate, blockLength, longAddressing)},
                   Notes(gate));
    }
    std::printf("%s", table.Render().c_str());
  } else if (format == OutputFormat::kCsv) {
    std::printf("%s\n", CsvLine({"gate", "type", "status", "kind", "plcNumber", "memoryType", "registerAddress",
                                 "bitNumber", "bitWidth", "functionCode", "start", "quantity", "log"})
                            .c_str());
    for (const ParsedGate& gate : gates) {
      std::string log;
      for (const LogEntry& entry : gate.lines) log += (log.empty() ? "" : " | ") + FormatLogEntry(entry);
      const GateAddress& f = gate.fields;
      if (gate.status != 0) {
        std::printf("%s\n", CsvLine({gate.text, GateTypeName(gate.gateType), Cell(gate.status), "", "", "", "", "", "",
                                     "", "", "", log})
                                .c_str());
        continue;
      }
      ReadRequest request{};
      const bool sent = ReadRequestOf(f, blockLength, longAddressing, request);
      std::printf("%s\n", CsvLine({gate.text, GateTypeName(gate.gateType), "0", KindName(KindOf(f.plcNumber, f.memoryType)),
                                   Cell(f.plcNumber), Cell(f.memoryType), Cell(f.registerAddress), Cell(f.bitNumber),
                                   Cell(f.bitWidth), sent ? Cell(request.functionCode) : "", sent ? Cell(request.start) : "",
                                   sent ? Cell(request.quantity) : "", log})
                              .c_str());
    }
  } else {
    for (const ParsedGate& gate : gates) {
      JsonObject object;
      object.Text("gate", gate.text).Text("type", GateTypeName(gate.gateType)).Integer("gateType", gate.gateType);
      if (blockLength > 0) object.Integer("block", blockLength);
      object.Integer("status", gate.status).Boolean("accepted", gate.status == 0);
      if (gate.status == 0) {
        const GateAddress& f = gate.fields;
        const GateKind kind = KindOf(f.plcNumber, f.memoryType);
        object.Text("kind", KindName(kind))
            .Integer("number", ReducedNumber(f.plcNumber, f.memoryType))
            .Integer("plcNumber", f.plcNumber)
            .Integer("memoryType", f.memoryType)
            .Text("memory", f.memoryType == kNoMemoryType ? "" : MemoryTypeName(f.memoryType))
            .Integer("registerAddress", f.registerAddress)
            .Integer("bitNumber", f.bitNumber)
            .Integer("bitWidth", f.bitWidth);
        ReadRequest request{};
        if (ReadRequestOf(f, blockLength, longAddressing, request)) {
          object.Raw("readRequest", JsonObject()
                                        .Integer("functionCode", request.functionCode)
                                        .Integer("start", request.start)
                                        .Integer("quantity", request.quantity)
                                        .str());
        } else {
          object.Null("readRequest");
        }
      }
      std::string lines = "[";
      for (size_t i = 0; i < gate.lines.size(); ++i) {
        if (i > 0) lines += ",";
        lines += JsonObject().Integer("level", gate.lines[i].level).Text("text", gate.lines[i].text).str();
      }
      object.Raw("log", lines + "]");
      std::printf("%s\n", object.str().c_str());
    }
  }
  return exit;
}

}  // namespace toldex::cli
