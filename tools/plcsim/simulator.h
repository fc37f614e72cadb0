// The PLC simulator as a library: any number of simulated Modbus TCP stations
// on loopback addresses, for tests, the command-line host's demo and the
// benchmarks. Linux only (it is built on libmodbus's server).
//
//   plcsim::Simulator simulator;
//   plcsim::Station& plc = simulator.AddStation({.number = 1, .address = "127.0.0.1"});
//   simulator.StartAll();            // plc.Port() is the port it chose
//   plc.SetRegister(plcsim::Area::kHoldingRegisters, 9, 0x1234);
//   plc.Stop(); plc.Start();         // refused connects in between
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plcsim/chaos.h"
#include "plcsim/start_pattern.h"
#include "plcsim/station.h"

namespace plcsim {

class Simulator {
 public:
  Simulator() = default;
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // A new station, not started yet.
  Station& AddStation(const StationConfig& config);
  // Starts every station that is not running; false (and the first error in
  // `error`) when one cannot start.
  bool StartAll(std::string* error = nullptr);
  void StopAll();

  size_t Size() const { return stations_.size(); }
  Station& At(size_t index) { return *stations_[index]; }
  // The first station with that number, or nullptr.
  Station* Find(int number);
  // Counters summed over every station.
  StationCounters Totals() const;

 private:
  std::vector<std::unique_ptr<Station>> stations_;
};

}  // namespace plcsim
