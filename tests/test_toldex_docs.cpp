// The examples of the documentation, run: every ```console block of
// README.md and docs/*.md whose commands are `toldex ...` is run with the
// built program, and what it prints must match what the page shows.
//
// Conventions of the pages:
// - A block whose info string carries file=NAME (```ini file=TOLDEX01.INT)
//   is written into the page's working folder under that name. For an
//   initialisation file, a simulated PLC is started for each of its station
//   lines (at the address and port the line gives) before the next command,
//   except the stations listed in stopped=N,M. They keep their registers
//   until the page's next initialisation file.
// - In a ```console block, "$ " starts a command; the lines up to the next
//   command are what it prints (standard output, then standard error).
//   exit=N in the info string is the exit status every command of the block
//   must end with (default 0).
// - A line "..." stands for any number of lines; "..." inside a line for any
//   text. Trailing blanks do not count.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_runner.h"

#if defined(TOLDEX_HAVE_PLCSIM)
#include "plcsim/simulator.h"
#endif

namespace toldex {
namespace {

using testing::BuiltProgram;
using testing::ProgramResult;
using testing::RunProgram;
using testing::SplitLines;

constexpr char kWildcard[] = "...";
constexpr uint32_t kCommandTimeoutMs = 60000;

struct Block {
  int line;  // of the opening fence, 1-based
  std::string language;
  std::map<std::string, std::string> attributes;
  std::vector<std::string> lines;
};

std::vector<Block> ReadBlocks(const std::filesystem::path& page) {
  std::ifstream in(page);
  std::vector<Block> blocks;
  std::string line;
  int number = 0;
  Block* open = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (line.rfind("```", 0) == 0) {
      if (open != nullptr) {
        open = nullptr;
        continue;
      }
      Block block;
      block.line = number;
      std::istringstream info(line.substr(3));
      info >> block.language;
      std::string attribute;
      while (info >> attribute) {
        const auto equals = attribute.find('=');
        if (equals != std::string::npos) block.attributes[attribute.substr(0, equals)] = attribute.substr(equals + 1);
      }
      blocks.push_back(block);
      open = &blocks.back();
      continue;
    }
    if (open != nullptr) open->lines.push_back(line);
  }
  return blocks;
}

// Shell-like words: blanks separate, single and double quotes group.
std::vector<std::string> Words(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : command) {
    if (quote != 0) {
      if (c == quote) quote = 0;
      else word += c;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

bool LineMatches(const std::string& pattern, const std::string& text) {
  const auto star = pattern.find(kWildcard);
  if (star == std::string::npos) return pattern == text;
  const std::string head = pattern.substr(0, star);
  const std::string rest = pattern.substr(star + 3);
  if (text.compare(0, head.size(), head) != 0) return false;
  for (size_t from = head.size(); from <= text.size(); ++from) {
    if (LineMatches(rest, text.substr(from))) return true;
  }
  return false;
}

bool LinesMatch(const std::vector<std::string>& expected, size_t e, const std::vector<std::string>& actual, size_t a) {
  if (e == expected.size()) return a == actual.size();
  if (expected[e] == kWildcard) {
    for (size_t skip = a; skip <= actual.size(); ++skip) {
      if (LinesMatch(expected, e + 1, actual, skip)) return true;
    }
    return false;
  }
  return a < actual.size() && LineMatches(Trimmed(expected[e]), Trimmed(actual[a])) &&
         LinesMatch(expected, e + 1, actual, a + 1);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class Page {
 public:
  explicit Page(const std::filesystem::path& file) : file_(file) {
    std::random_device random;
    do {
      folder_ = std::filesystem::temp_directory_path() /
                ("toldex-docs-" + file.stem().string() + "-" + std::to_string(random()));
    } while (!std::filesystem::create_directories(folder_));
  }
  ~Page() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  void Run() {
    for (const Block& block : ReadBlocks(file_)) {
      if (block.attributes.count("file") != 0) WriteFile(block);
      if (block.language == "console") RunConsole(block);
    }
  }

 private:
  void WriteFile(const Block& block) {
    const std::string name = block.attributes.at("file");
    std::ofstream(folder_ / name, std::ios::binary) << Joined(block.lines);
    if (name.rfind("TOLDEX", 0) == 0) StartStations(block);
  }

  void StartStations(const Block& block) {
#if defined(TOLDEX_HAVE_PLCSIM)
    simulator_ = std::make_unique<plcsim::Simulator>();
    std::vector<int> stopped;
    if (block.attributes.count("stopped") != 0) {
      std::istringstream list(block.attributes.at("stopped"));
      std::string number;
      while (std::getline(list, number, ',')) stopped.push_back(std::stoi(number));
    }
    for (const std::string& line : block.lines) {
      int number = 0;
      int a = 0, b = 0, c = 0, d = 0;
      unsigned port = 0;
      if (std::sscanf(line.c_str(), "%d %d.%d.%d.%d %u", &number, &a, &b, &c, &d, &port) != 6) continue;
      ASSERT_EQ(a, 127) << file_ << ":" << block.line << ": a station that is started must be on loopback: " << line;
      bool skip = false;
      for (int n : stopped) skip = skip || n == number;
      if (skip) continue;
      plcsim::StationConfig config;
      config.number = number;
      config.address = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
      config.port = static_cast<uint16_t>(port);
      simulator_->AddStation(config);
    }
    std::string error;
    ASSERT_TRUE(simulator_->StartAll(&error)) << file_ << ":" << block.line << ": " << error;
#else
    (void)block;
#endif
  }

  void RunConsole(const Block& block) {
    const int expectedExit = block.attributes.count("exit") != 0 ? std::stoi(block.attributes.at("exit")) : 0;
    size_t i = 0;
    while (i < block.lines.size()) {
      const std::string& commandLine = block.lines[i];
      ASSERT_EQ(commandLine.rfind("$ ", 0), 0u) << file_ << ":" << block.line + 1 + i << ": output without a command";
      std::vector<std::string> expected;
      for (++i; i < block.lines.size() && block.lines[i].rfind("$ ", 0) != 0; ++i) expected.push_back(block.lines[i]);
      std::vector<std::string> words = Words(commandLine.substr(2));
      ASSERT_FALSE(words.empty());
      ASSERT_EQ(words[0], "toldex") << file_ << ": console blocks run toldex only: " << commandLine;
      words[0] = BuiltProgram("toldex").string();
      const auto previous = std::filesystem::current_path();
      std::filesystem::current_path(folder_);
      const ProgramResult result = RunProgram(words, {}, kCommandTimeoutMs);
      std::filesystem::current_path(previous);
      std::vector<std::string> actual = SplitLines(result.out);
      for (const std::string& line : SplitLines(result.err)) actual.push_back(line);
      EXPECT_EQ(result.exitCode, expectedExit) << file_ << ": " << commandLine << "\n" << result.out << result.err;
      EXPECT_TRUE(LinesMatch(expected, 0, actual, 0))
          << file_ << ":" << block.line << ": " << commandLine << "\n--- the page shows:\n"
          << Joined(expected) << "--- the program printed:\n" << Joined(actual);
    }
  }

  std::filesystem::path file_;
  std::filesystem::path folder_;
#if defined(TOLDEX_HAVE_PLCSIM)
  std::unique_ptr<plcsim::Simulator> simulator_;
#endif
};

std::vector<std::string> Pages() {
  std::vector<std::string> pages = {"README.md"};
  const auto docs = std::filesystem::path(TOLDEX_SOURCE_DIR) / "docs";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(docs, error)) {
    if (entry.path().extension() == ".md") pages.push_back("docs/" + entry.path().filename().string());
  }
  return pages;
}

class DocumentationExamples : public ::testing::TestWithParam<std::string> {};

TEST_P(DocumentationExamples, PrintWhatThePageShows) {
#if !defined(TOLDEX_HAVE_PLCSIM)
  GTEST_SKIP() << "the examples need the PLC simulator";
#else
  const auto file = std::filesystem::path(TOLDEX_SOURCE_DIR) / GetParam();
  if (!std::filesystem::exists(file)) GTEST_SKIP() << GetParam() << " does not exist";
  Page page(file);
  page.Run();
#endif
}

std::string PageName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Pages, DocumentationExamples, ::testing::ValuesIn(Pages()), PageName);

}  // namespace
}  // namespace toldex
