#include "temp_folder.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace toldex::cli {

TempFolder::TempFolder(const std::string& prefix) {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0;; ++attempt) {
    path_ = base / (prefix + std::to_string(random()) + "-" + std::to_string(tick % 100000) + "-" +
                    std::to_string(attempt));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempFolder::~TempFolder() {
  if (keep_) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempFolder::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ / name, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + (path_ / name).string());
}

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string InitFileName(int driverNumber) {
  char name[32];
  std::snprintf(name, sizeof name, "TOLDEX%02d.INT", driverNumber);
  return name;
}

}  // namespace toldex::cli
