// The demo's plant: three simulated PLC stations on loopback, a master and its
// backup for PLC 1 and a PLC 3 on its own, the initialisation file that
// matches them, and process values that move while the demo runs. The master
// and its backup hold the same process image, as a redundant pair does; the
// register 9000 of each holds its own station number, so a read of it tells
// which one answered.
#pragma once

#include <string>

#include "plcsim/simulator.h"

namespace toldex::cli {

struct DemoStationSpec {
  int number;
  const char* address;
  const char* role;
};

constexpr int kDemoMaster = 1;
constexpr int kDemoBackup = 2;
constexpr int kDemoSingle = 3;
constexpr DemoStationSpec kDemoStations[] = {
    {kDemoMaster, "127.0.0.11", "master of PLC 1"},
    {kDemoBackup, "127.0.0.12", "backup of PLC 1"},
    {kDemoSingle, "127.0.0.13", "PLC 3"},
};

class DemoPlant {
 public:
  DemoPlant() = default;
  DemoPlant(const DemoPlant&) = delete;
  DemoPlant& operator=(const DemoPlant&) = delete;
  ~DemoPlant();

  // Starts every station on its own loopback address (127.0.0.1 for all of
  // them where the system has only that one) on a free port.
  bool Start(std::string& error);
  void StopAll();

  // TOLDEX01.INT for these stations.
  std::string InitFile() const;

  // The process values at `seconds` into the demo, in every station.
  void Update(double seconds);

  void StopStation(int number);
  bool StartStation(int number, std::string& error);
  bool Running(int number) const;
  // "127.0.0.11:40123".
  std::string Endpoint(int number) const;

 private:
  bool StartOn(bool ownAddresses, std::string& error);
  plcsim::Station* Find(int number) const;

  std::unique_ptr<plcsim::Simulator> simulator_;
};

}  // namespace toldex::cli
