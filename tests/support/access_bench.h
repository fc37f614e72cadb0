// A bench for the read and write paths: an instance set up by hand (as a full
// start leaves it, without a file) whose stations are scripted peers on
// loopback, each with a PLC memory behind it, and the host's calls through
// VpiMain with GateIo records.
//
//   AccessBench bench(200);                 // 200 ms socket time-out
//   bench.AddStation(3).SetHolding(9, 0x1234);
//   uint8_t slot[4] = {};
//   GateIo gate = HoldingGate(3, 9, slot);
//   EXPECT_EQ(bench.Call(kOpSingleRead, gate), 0);
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "driver/host_records.h"
#include "driver/instance.h"
#include "support/driver_fixture.h"
#include "support/register_bank.h"
#include "support/scripted_peer.h"

namespace toldex::testing {

class AccessBench {
 public:
  explicit AccessBench(int32_t timeoutMs = 1000);
  ~AccessBench();  // closes the instance's sockets and events, then the peers
  AccessBench(const AccessBench&) = delete;
  AccessBench& operator=(const AccessBench&) = delete;

  InstanceRecord& record() { return block_.record(); }
  // Station s served by a new peer with a fresh memory, connected.
  RegisterBank& AddStation(int s);
  RegisterBank& bank(int s) { return *stations_.at(s)->bank; }
  ScriptedPeer& peer(int s) { return *stations_.at(s)->peer; }
  // The peer of station s answers nothing from now on.
  void Silence(int s);
  // The peer of station s is gone: its connection closed, nothing listens.
  void Stop(int s);
  // Station s is connected again to a new peer with the same memory.
  void Restart(int s);
  // PLC p with its backup station and switch value.
  void Pair(int plc, int backup, double switchValue);

  int32_t Call(int32_t op, GateIo& gate) { return block_.Call(op, &gate); }

 private:
  struct Station {
    std::unique_ptr<RegisterBank> bank;  // outlives the peer that answers from it
    std::unique_ptr<ScriptedPeer> peer;
  };
  InstanceBlock block_;
  std::map<int, std::unique_ptr<Station>> stations_;
};

// GateIo records as the address parsers leave them.
GateIo MakeGate(int32_t plcNumber, int32_t memoryType, int32_t registerAddress, int32_t bitNumber,
                int32_t bitWidth, int32_t elementCount, void* value, const char* address = "gate");
inline GateIo HoldingGate(int32_t plcNumber, int32_t registerAddress, void* value) {
  return MakeGate(plcNumber, 4, registerAddress, -1, 16, 1, value);
}

}  // namespace toldex::testing
