#include "plcsim/simulator.h"

namespace plcsim {

Simulator::~Simulator() { StopAll(); }

Station& Simulator::AddStation(const StationConfig& config) {
  stations_.push_back(std::make_unique<Station>(config));
  return *stations_.back();
}

bool Simulator::StartAll(std::string* error) {
  for (auto& station : stations_) {
    if (station->Running() || station->Start()) continue;
    if (error != nullptr) *error = "station " + std::to_string(station->Number()) + ": " + station->LastError();
    return false;
  }
  return true;
}

void Simulator::StopAll() {
  for (auto& station : stations_) station->Stop();
}

Station* Simulator::Find(int number) {
  for (auto& station : stations_) {
    if (station->Number() == number) return station.get();
  }
  return nullptr;
}

StationCounters Simulator::Totals() const {
  StationCounters totals;
  for (const auto& station : stations_) {
    const StationCounters counters = station->Counters();
    totals.connectionsAccepted += counters.connectionsAccepted;
    totals.connectionsOpen += counters.connectionsOpen;
    totals.requestsReceived += counters.requestsReceived;
    totals.requestsDropped += counters.requestsDropped;
    totals.requestsExecuted += counters.requestsExecuted;
    totals.repliesSent += counters.repliesSent;
    totals.restarts += counters.restarts;
    for (int code = 0; code < kFunctionCodeCount; ++code) {
      totals.requestsByFunction[code] += counters.requestsByFunction[code];
    }
    for (int kind = 0; kind < kFaultKindCount; ++kind) totals.faults[kind] += counters.faults[kind];
  }
  return totals;
}

}  // namespace plcsim
