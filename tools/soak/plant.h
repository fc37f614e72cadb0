// The simulated plant: which stations exist, which PLCs have a backup, the
// simulator stations that serve them on loopback addresses, and the driver's
// initialisation file that describes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "plcsim/simulator.h"

namespace soak {

struct PlantLayout {
  std::vector<int> masters;  // PLCs with a backup
  std::vector<int> backups;  // backups[i] is the station that stands in for masters[i]
  std::vector<int> singles;  // PLCs without a backup
  std::vector<int> Stations() const;  // every station, in increasing order
  std::vector<int> Plcs() const;      // masters, then singles
  int BackupOf(int plc) const;        // 0: none
};

// A quarter of the stations (at least one) are backups of as many masters;
// the others are PLCs without a backup. Masters and singles are numbered from
// 1, backups from kFirstBackupStation.
PlantLayout MakeLayout(int stationCount);
constexpr int kFirstBackupStation = 33;

class Plant {
 public:
  explicit Plant(const PlantLayout& layout);
  Plant(const Plant&) = delete;
  Plant& operator=(const Plant&) = delete;

  bool Start(std::string& reason);
  void Stop();
  // The driver's initialisation file for these stations, with every check on.
  bool WriteInitFile(const std::filesystem::path& path, std::string& reason);
  // Reproducible faults from the seed at the given rate; late replies come
  // after lateMs, past the driver's time-out.
  void StartChaos(uint64_t seed, double rate, uint32_t lateMs);
  void StopChaos();
  plcsim::StationCounters Totals() const;
  size_t Size() const { return simulator_.Size(); }
  plcsim::Station& At(size_t index) { return simulator_.At(index); }
  const PlantLayout& layout() const { return layout_; }

 private:
  PlantLayout layout_;
  plcsim::Simulator simulator_;
};

// "127.0.1.<station>".
std::string StationAddress(int station);

}  // namespace soak
