// What every command that talks to PLCs does as a host: load the driver, start
// an instance from the initialisation file, define each gate in the host
// library (which gives it its gate id) and parse it once, then read and write
// it through VpiMain; after a communication failure, warm start the station as
// a host does; set a PLC's switch gate as an operator would.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common_options.h"
#include "core_access.h"
#include "driver_session.h"
#include "gate.h"
#include "host_log.h"

namespace toldex::cli {

struct HostGate {
  std::string text;
  int32_t gateType = 0;
  int32_t count = 0;  // 0: a single gate; N: a block of N elements
  int32_t gateId = 0;
  GateAddress parsed{};
  int32_t parseStatus = 1;
  std::vector<LogEntry> parseLines;
  std::vector<uint8_t> value;  // the host's value buffer
};

struct CallOutcome {
  int32_t status = 0;
  std::vector<std::string> values;  // read values, one per element; empty unless status 0
  int station = -1;                 // the station that served the call; -1: answered from memory
  std::string address;  // the station's configured IP:port
  std::vector<LogEntry> lines;      // what the driver logged during the call
};

class DriverHost {
 public:
  explicit DriverHost(const CommonOptions& options);
  ~DriverHost();
  DriverHost(const DriverHost&) = delete;
  DriverHost& operator=(const DriverHost&) = delete;

  // Loads the library and enters the folder; false with a reason.
  bool Open(std::string& reason);
  // A full ColdStart with the time-out of the options.
  int32_t Start();
  int32_t End();

  char base() const { return base_; }
  // The configured address of a station ("127.0.0.11:502"), empty when none.
  std::string StationAddress(int station) const;
  DriverSession& session() { return *session_; }
  const DriverLibrary& library() const { return library_; }

  // The gate, defined in the host library and parsed (single, or a block of
  // `count` elements); forcedType -1 takes the type from the memory type.
  HostGate MakeGate(const std::string& text, int32_t forcedType, int32_t count);
  CallOutcome Read(HostGate& gate);
  // Writes values given as text (one for a single gate); false with a reason
  // when a value does not fit the gate type (nothing is sent then).
  bool Write(HostGate& gate, const std::vector<std::string>& values, CallOutcome& outcome, std::string& reason);
  // A host's answer to a communication failure: WarmStart of the gate's PLC,
  // or of 200000 + n for a _SCRUT gate of station n.
  int32_t Recover(const HostGate& gate);

  // Sets PLC p's switch gate ("ppBACKUP") to the value in the host library,
  // as an operator would, and waits until the driver answers it when the gate
  // is read; false when it did not within the wait.
  bool SetSwitch(int plc, double value, uint32_t waitMs);

 private:
  CommonOptions options_;
  DriverLibrary library_;
  std::unique_ptr<CurrentDirectory> directory_;
  std::unique_ptr<DriverSession> session_;
  char base_ = 'D';
  std::vector<std::string> stationAddresses_;
  std::map<int, HostGate> switchGates_;
};

// Driver lines of a call as notes: each text once, with its count, without
// the line that only names the serving station.
std::vector<std::string> CallNotes(const std::vector<LogEntry>& lines, int minimumLevel);

// "ok", "refused", "comm failure".
const char* StatusText(int32_t status);

}  // namespace toldex::cli
