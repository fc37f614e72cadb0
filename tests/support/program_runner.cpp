#include "support/program_runner.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/process.h"

namespace toldex::testing {
namespace {

// The whole file, with Windows line ends (a program's text-mode output
// there) turned into plain ones, so that output compares the same everywhere.
std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  std::string plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

}  // namespace

std::filesystem::path BuiltProgram(const std::string& name) {
#if defined(_WIN32)
  return std::filesystem::path(TOLDEX_BIN_DIR) / (name + ".exe");
#else
  return std::filesystem::path(TOLDEX_BIN_DIR) / name;
#endif
}

ProgramResult RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                         uint32_t timeoutMs) {
  static std::atomic<int> counter{0};
  std::random_device random;
  const auto folder = std::filesystem::temp_directory_path() /
                      ("toldex-run-" + std::to_string(random()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(folder);
  platform::ProcessRun run;
  run.arguments = arguments;
  run.outputPath = (folder / "out.txt").string();
  run.errorPath = (folder / "err.txt").string();
  run.environment = environment;
  run.timeoutMs = timeoutMs;
  ProgramResult result;
  result.exitCode = platform::RunProcess(run);
  result.out = ReadAll(run.outputPath);
  result.err = ReadAll(run.errorPath);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace toldex::testing
