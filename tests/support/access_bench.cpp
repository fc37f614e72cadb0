#include "support/access_bench.h"

#include "support/station_setup.h"

namespace toldex::testing {

AccessBench::AccessBench(int32_t timeoutMs) { PrepareInstance(record(), timeoutMs); }

AccessBench::~AccessBench() {
  CloseInstance(record());
  stations_.clear();
}

RegisterBank& AccessBench::AddStation(int s) {
  auto station = std::make_unique<Station>();
  station->bank = std::make_unique<RegisterBank>();
  station->peer = std::make_unique<ScriptedPeer>("127.0.0.1");
  station->peer->SetResponder(station->bank->AsResponder());
  ConnectStation(record(), s, station->peer->ip(), station->peer->port());
  RegisterBank& bank = *station->bank;
  stations_[s] = std::move(station);
  return bank;
}

void AccessBench::Silence(int s) {
  peer(s).SetResponder([](const Bytes&) { return PeerAction::Silence(); });
}

void AccessBench::Stop(int s) { stations_.at(s)->peer.reset(); }

void AccessBench::Restart(int s) {
  Station& station = *stations_.at(s);
  station.peer = std::make_unique<ScriptedPeer>("127.0.0.1");
  station.peer->SetResponder(station.bank->AsResponder());
  ConnectStation(record(), s, station.peer->ip(), station.peer->port());
}

void AccessBench::Pair(int plc, int backup, double switchValue) {
  record().backups[plc].backupPlc = static_cast<uint16_t>(backup);
  StoreSwitchValue(record(), plc, switchValue);
}

GateIo MakeGate(int32_t plcNumber, int32_t memoryType, int32_t registerAddress, int32_t bitNumber,
                int32_t bitWidth, int32_t elementCount, void* value, const char* address) {
  GateIo gate{};
  gate.address = address;
  gate.plcNumber = plcNumber;
  gate.memoryType = memoryType;
  gate.registerAddress = registerAddress;
  gate.bitNumber = bitNumber;
  gate.bitWidth = bitWidth;
  gate.elementCount = elementCount;
  gate.gateId = 0;
  gate.value = value;
  return gate;
}

}  // namespace toldex::testing
