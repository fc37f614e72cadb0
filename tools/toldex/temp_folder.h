// A private temporary folder, removed with everything in it when the scope ends.
#pragma once

#include <filesystem>
#include <string>

namespace toldex::cli {

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The folder stays when the scope ends.
  void Keep() { keep_ = true; }
  // Writes a file in the folder (binary: the text is written as given).
  void Write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& file);

// The initialisation file name of a driver number, as the driver tries first.
std::string InitFileName(int driverNumber);

}  // namespace toldex::cli
