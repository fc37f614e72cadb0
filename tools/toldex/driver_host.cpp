#include "driver_host.h"

#include <cmath>
#include <cstdio>

#include "platform/thread.h"
#include "qirpro.h"

namespace toldex::cli {
namespace {

constexpr int32_t kMinimumColdStartMs = 1000;
constexpr int32_t kMillisecondsPerTimeoutUnit = 10;
constexpr int32_t kNoMemoryType = -1;
constexpr uint32_t kSwitchRepostMs = 400;
constexpr uint32_t kSwitchCheckMs = 50;
constexpr char kServingLinePrefix[] = "TolDEX : SingleRead() Tags for plc";

}  // namespace

const char* StatusText(int32_t status) {
  switch (status) {
    case 0: return "ok";
    case 2: return "comm failure";
    default: break;
  }
  return "refused";
}

std::vector<std::string> CallNotes(const std::vector<LogEntry>& lines, int minimumLevel) {
  std::vector<std::string> texts;
  std::vector<int> counts;
  for (const LogEntry& entry : lines) {
    if (entry.level < minimumLevel || entry.text.rfind(kServingLinePrefix, 0) == 0) continue;
    const std::string text = FormatLogEntry(entry);
    bool seen = false;
    for (size_t i = 0; i < texts.size(); ++i) {
      if (texts[i] == text) {
        ++counts[i];
        seen = true;
      }
    }
    if (!seen) {
      texts.push_back(text);
      counts.push_back(1);
    }
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    if (counts[i] > 1) texts[i] += "  (x" + std::to_string(counts[i]) + ")";
  }
  return texts;
}

DriverHost::DriverHost(const CommonOptions& options) : options_(options) {}

DriverHost::~DriverHost() {
  End();
  // Whatever the driver still runs on the host library's side ends with it.
  QirCtlShutdown();
}

bool DriverHost::Open(std::string& reason) {
  if (!LoadDriverLibrary(options_.library, library_, reason)) return false;
  {
    // What the driver will read at ColdStart, read once more here without
    // its messages: the address base for gate types and the stations' addresses.
    QuietEcho quiet;
    ScratchInstance configuration;
    ReadInitialisationFile(configuration, options_.folder, options_.driverNumber);
    base_ = configuration.record().base;
    for (const StationRecord& station : configuration.record().stations) {
      stationAddresses_.push_back(station.ip[0] == '\0' ? std::string()
                                                        : std::string(station.ip) + ":" + std::to_string(station.port));
    }
  }
  directory_ = std::make_unique<CurrentDirectory>(options_.folder);
  session_ = std::make_unique<DriverSession>(library_, options_.driverNumber);
  return true;
}

int32_t DriverHost::Start() {
  const int32_t coldMs = options_.timeoutMs > kMinimumColdStartMs ? options_.timeoutMs : kMinimumColdStartMs;
  const int32_t status = session_->ColdStart((coldMs + kMillisecondsPerTimeoutUnit - 1) / kMillisecondsPerTimeoutUnit);
  // The driver's least cold-start time-out is one second; a shorter one still
  // applies to every connection made later.
  if (options_.timeoutMs < kMinimumColdStartMs) session_->ChangeTimeout(options_.timeoutMs);
  return status;
}

std::string DriverHost::StationAddress(int station) const {
  if (station < 0 || station >= static_cast<int>(stationAddresses_.size())) return {};
  return stationAddresses_[station].empty() ? "not configured" : stationAddresses_[station];
}

int32_t DriverHost::End() { return session_ ? session_->End() : 0; }

HostGate DriverHost::MakeGate(const std::string& text, int32_t forcedType, int32_t count) {
  HostGate gate;
  gate.text = text;
  gate.gateType = forcedType >= 0 ? forcedType : DefaultGateType(text, base_);
  gate.count = count;
  gate.gateId = QirCtlDefineGate(static_cast<uint8_t>(options_.driverNumber), text.c_str());
  gate.parsed.address = gate.text.c_str();
  gate.parsed.gateType = gate.gateType;
  gate.parsed.blockLength = count;
  gate.parsed.memoryType = kNoMemoryType;
  gate.parsed.bitNumber = -1;
  const uint64_t mark = HostLog::Instance().Mark();
  gate.parseStatus = count > 0 ? session_->ParseBlock(gate.parsed) : session_->ParseSingle(gate.parsed);
  gate.parseLines = HostLog::Instance().SinceOnThisThread(mark);
  gate.parsed.address = nullptr;  // the text moves with the gate; set again at each call
  gate.value.assign(ValueBufferSize(gate.parsed.bitWidth, count), 0);
  return gate;
}

CallOutcome DriverHost::Read(HostGate& gate) {
  CallOutcome outcome;
  GateIo io = MakeGateIo(gate.parsed, gate.text.c_str(), gate.gateId, gate.count, gate.value.data());
  const uint64_t mark = HostLog::Instance().Mark();
  outcome.status = gate.count > 0 ? session_->ReadBlock(io) : session_->ReadSingle(io);
  outcome.lines = HostLog::Instance().SinceOnThisThread(mark);
  if (ServingStation(outcome.lines, outcome.station)) outcome.address = StationAddress(outcome.station);
  if (outcome.status == 0) {
    outcome.values = gate.count > 0 ? FormatBlockValues(gate.gateType, gate.parsed.bitWidth, gate.count, gate.value.data())
                                    : std::vector<std::string>{FormatSingleValue(gate.gateType, gate.value.data())};
  }
  return outcome;
}

bool DriverHost::Write(HostGate& gate, const std::vector<std::string>& values, CallOutcome& outcome,
                       std::string& reason) {
  std::vector<uint8_t> buffer(ValueBufferSize(gate.parsed.bitWidth, gate.count), 0);
  const bool encoded = gate.count > 0 ? EncodeBlockValues(gate.gateType, gate.parsed.bitWidth, values, buffer.data(), reason)
                                      : EncodeSingleValue(gate.gateType, values.at(0), buffer.data(), reason);
  if (!encoded) return false;
  GateIo io = MakeGateIo(gate.parsed, gate.text.c_str(), gate.gateId, gate.count, buffer.data());
  const uint64_t mark = HostLog::Instance().Mark();
  outcome.status = gate.count > 0 ? session_->WriteBlock(io) : session_->WriteSingle(io);
  outcome.lines = HostLog::Instance().SinceOnThisThread(mark);
  if (ServingStation(outcome.lines, outcome.station)) outcome.address = StationAddress(outcome.station);
  return true;
}

int32_t DriverHost::Recover(const HostGate& gate) {
  const GateKind kind = KindOf(gate.parsed.plcNumber, gate.parsed.memoryType);
  if (kind != GateKind::kOrdinary && kind != GateKind::kScrut) return 0;
  // The parsed number is what WarmStart takes: the PLC 1..64, or 200000 + n.
  return session_->WarmStart(gate.parsed.plcNumber);
}

bool DriverHost::SetSwitch(int plc, double value, uint32_t waitMs) {
  auto found = switchGates_.find(plc);
  if (found == switchGates_.end()) {
    char text[16];
    std::snprintf(text, sizeof text, "%02dBACKUP", plc);
    found = switchGates_.emplace(plc, MakeGate(text, kTypeDigital, 0)).first;
  }
  HostGate& gate = found->second;
  if (gate.parseStatus != 0) return false;
  const long expected = static_cast<long>(std::trunc(value));
  const uint64_t deadline = platform::MonotonicMilliseconds() + waitMs;
  uint64_t nextPost = 0;
  for (;;) {
    const uint64_t now = platform::MonotonicMilliseconds();
    if (now >= nextPost) {
      // The notification thread registers the gate within a cycle of its
      // parsing; a change posted before that reaches no one, so it is posted
      // again until the driver shows it.
      QirCtlPostGateValue(gate.gateId, value);
      nextPost = now + kSwitchRepostMs;
    }
    platform::SleepMilliseconds(kSwitchCheckMs);
    const CallOutcome read = Read(gate);
    if (read.status == 0 && !read.values.empty() && read.values[0] == std::to_string(expected)) return true;
    if (platform::MonotonicMilliseconds() >= deadline) return false;
  }
}

}  // namespace toldex::cli
