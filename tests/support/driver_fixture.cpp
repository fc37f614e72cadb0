#include "support/driver_fixture.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <random>

namespace toldex::testing {

InstanceBlock::InstanceBlock(int32_t driverNumber) : driverNumber_(driverNumber) {
  void* memory = ::operator new(sizeof(InstanceRecord), std::align_val_t{alignof(InstanceRecord)});
  std::memset(memory, 0xA5, sizeof(InstanceRecord));
  record_ = static_cast<InstanceRecord*>(memory);
}

InstanceBlock::~InstanceBlock() {
  ::operator delete(record_, std::align_val_t{alignof(InstanceRecord)});
}

int32_t InstanceBlock::Call(int32_t op, void* params) {
  DriverRequest request{};
  request.instance = record_;
  request.op = op;
  request.driverNumber = driverNumber_;
  request.params = params;
  return VpiMain(&request);
}

TempWorkDir::TempWorkDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("toldex-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path_)) break;
  }
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(path_);
}

TempWorkDir::~TempWorkDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempWorkDir::WriteFile(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ / name, std::ios::binary);
  out << content;
}

}  // namespace toldex::testing
