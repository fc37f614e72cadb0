#include "demo_plant.h"

#include <cmath>
#include <cstdio>

namespace toldex::cli {
namespace {

using plcsim::Area;

constexpr char kSharedLoopback[] = "127.0.0.1";
// Where the demo's gates point (0-based registers and bits).
constexpr uint16_t kCounterRegister = 0;
constexpr uint16_t kTemperaturePair = 1000;
constexpr uint16_t kTotalPair = 2000;
constexpr uint16_t kLevelRegister = 0;
constexpr uint16_t kFlowPair = 1000;
constexpr uint16_t kRotatingCoils = 8;
constexpr uint16_t kBlinkingInput = 0;
constexpr int kSingleCounterOffset = 500;

constexpr double kCounterRate = 10.0;  // counts per second
constexpr double kTemperatureMean = 20.0;
constexpr double kTemperatureSwing = 5.0;
constexpr double kTemperaturePeriodScale = 2.0;
constexpr uint32_t kTotalStart = 100000;
constexpr double kTotalRate = 37.0;
constexpr double kLevelMean = 500.0;
constexpr double kLevelSwing = 100.0;
constexpr double kLevelPeriodScale = 3.0;
constexpr double kFlowMean = 12.5;
constexpr double kFlowSwing = 2.5;
constexpr double kRotationRate = 2.0;  // coil steps per second
constexpr int kRotationLength = 4;

}  // namespace

DemoPlant::~DemoPlant() { StopAll(); }

bool DemoPlant::StartOn(bool ownAddresses, std::string& error) {
  simulator_ = std::make_unique<plcsim::Simulator>();
  for (const DemoStationSpec& spec : kDemoStations) {
    plcsim::StationConfig config;
    config.number = spec.number;
    config.address = ownAddresses ? spec.address : kSharedLoopback;
    config.port = 0;
    simulator_->AddStation(config);
  }
  if (simulator_->StartAll(&error)) return true;
  simulator_->StopAll();
  return false;
}

bool DemoPlant::Start(std::string& error) {
  if (StartOn(true, error)) return true;
  return StartOn(false, error);
}

void DemoPlant::StopAll() {
  if (simulator_) simulator_->StopAll();
}

std::string DemoPlant::InitFile() const {
  std::string text =
      "; Written by toldex demo: three simulated stations on loopback.\n"
      "BUS=M,D\n"
      "SWAP = NO\n"
      "FLOATSWAP = NO\n"
      "LONGADDR = NO\n"
      "PARITY_ADDR_CHECKING = YES\n"
      "RECEIVED_FRAMES_CHECKING = YES\n";
  for (const DemoStationSpec& spec : kDemoStations) {
    const plcsim::Station* station = Find(spec.number);
    char line[96];
    std::snprintf(line, sizeof line, "%d %s %u\n", spec.number, station->Address().c_str(), station->Port());
    text += line;
  }
  char backup[48];
  std::snprintf(backup, sizeof backup, "BACKUP_%d = %d\n", kDemoMaster, kDemoBackup);
  return text + backup;
}

void DemoPlant::Update(double seconds) {
  const auto counter = static_cast<uint16_t>(static_cast<long>(seconds * kCounterRate) & 0xFFFF);
  const auto temperature = static_cast<float>(kTemperatureMean + kTemperatureSwing * std::sin(seconds / kTemperaturePeriodScale));
  const auto total = static_cast<uint32_t>(kTotalStart + static_cast<uint32_t>(seconds * kTotalRate));
  const auto level = static_cast<uint16_t>(kLevelMean + kLevelSwing * std::cos(seconds / kLevelPeriodScale));
  const auto flow = static_cast<float>(kFlowMean + kFlowSwing * std::sin(seconds));
  const long step = static_cast<long>(seconds * kRotationRate);
  for (const DemoStationSpec& spec : kDemoStations) {
    plcsim::Station* station = Find(spec.number);
    const bool pair = spec.number != kDemoSingle;
    station->SetRegister(Area::kHoldingRegisters, kCounterRegister,
                         pair ? counter : static_cast<uint16_t>(counter + kSingleCounterOffset));
    station->SetPair(Area::kHoldingRegisters, kTemperaturePair, plcsim::FloatBits(temperature));
    station->SetPair(Area::kHoldingRegisters, kTotalPair, total);
    station->SetRegister(Area::kInputRegisters, kLevelRegister, level);
    station->SetPair(Area::kInputRegisters, kFlowPair, plcsim::FloatBits(flow));
    for (uint16_t k = 0; k < kRotatingCoils; ++k) {
      station->SetBit(Area::kCoils, k, (step + k) % kRotationLength == 0);
    }
    station->SetBit(Area::kDiscreteInputs, kBlinkingInput, static_cast<long>(seconds) % 2 == 0);
  }
}

void DemoPlant::StopStation(int number) {
  if (plcsim::Station* station = Find(number)) station->Stop();
}

bool DemoPlant::StartStation(int number, std::string& error) {
  plcsim::Station* station = Find(number);
  if (station == nullptr) return false;
  if (station->Start()) return true;
  error = station->LastError();
  return false;
}

bool DemoPlant::Running(int number) const {
  const plcsim::Station* station = Find(number);
  return station != nullptr && station->Running();
}

std::string DemoPlant::Endpoint(int number) const {
  const plcsim::Station* station = Find(number);
  return station == nullptr ? "" : station->Address() + ":" + std::to_string(station->Port());
}

plcsim::Station* DemoPlant::Find(int number) const { return simulator_ ? simulator_->Find(number) : nullptr; }

}  // namespace toldex::cli
