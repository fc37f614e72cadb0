#include "plant.h"

#include <algorithm>
#include <fstream>

namespace soak {
namespace {

constexpr int kStationsPerBackup = 4;

}  // namespace

std::vector<int> PlantLayout::Stations() const {
  std::vector<int> stations = masters;
  stations.insert(stations.end(), singles.begin(), singles.end());
  stations.insert(stations.end(), backups.begin(), backups.end());
  std::sort(stations.begin(), stations.end());
  return stations;
}

std::vector<int> PlantLayout::Plcs() const {
  std::vector<int> plcs = masters;
  plcs.insert(plcs.end(), singles.begin(), singles.end());
  return plcs;
}

int PlantLayout::BackupOf(int plc) const {
  for (size_t i = 0; i < masters.size(); ++i) {
    if (masters[i] == plc) return backups[i];
  }
  return 0;
}

PlantLayout MakeLayout(int stationCount) {
  PlantLayout layout;
  const int pairs = std::max(1, stationCount / kStationsPerBackup);
  int next = 1;
  for (int i = 0; i < pairs; ++i) {
    layout.masters.push_back(next++);
    layout.backups.push_back(kFirstBackupStation + i);
  }
  for (int i = 0; i < stationCount - 2 * pairs; ++i) layout.singles.push_back(next++);
  return layout;
}

std::string StationAddress(int station) { return "127.0.1." + std::to_string(station); }

Plant::Plant(const PlantLayout& layout) : layout_(layout) {
  for (int station : layout_.Stations()) {
    simulator_.AddStation({.number = station, .address = StationAddress(station), .port = 0, .chaos = {}});
  }
}

bool Plant::Start(std::string& reason) { return simulator_.StartAll(&reason); }

void Plant::Stop() { simulator_.StopAll(); }

bool Plant::WriteInitFile(const std::filesystem::path& path, std::string& reason) {
  std::ofstream file(path);
  file << "; written by the soak\n"
       << "BUS=M,D\n"
       << "PARITY_ADDR_CHECKING = YES\n"
       << "RECEIVED_FRAMES_CHECKING = YES\n";
  for (size_t i = 0; i < simulator_.Size(); ++i) {
    plcsim::Station& station = simulator_.At(i);
    file << station.Number() << ' ' << station.Address() << ' ' << station.Port() << '\n';
  }
  for (size_t i = 0; i < layout_.masters.size(); ++i) {
    file << "BACKUP_" << layout_.masters[i] << " = " << layout_.backups[i] << '\n';
  }
  file.close();
  if (!file) {
    reason = "cannot write " + path.string();
    return false;
  }
  return true;
}

void Plant::StartChaos(uint64_t seed, double rate, uint32_t lateMs) {
  plcsim::ChaosConfig chaos = plcsim::MakeChaos(seed, rate);
  chaos.lateReplyDelayMs = lateMs;
  for (size_t i = 0; i < simulator_.Size(); ++i) simulator_.At(i).SetChaos(chaos);
}

void Plant::StopChaos() {
  for (size_t i = 0; i < simulator_.Size(); ++i) simulator_.At(i).SetChaos(plcsim::ChaosConfig{});
}

plcsim::StationCounters Plant::Totals() const { return simulator_.Totals(); }

}  // namespace soak
