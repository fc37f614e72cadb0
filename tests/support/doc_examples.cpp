#include "support/doc_examples.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace toldex::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The index of the line after the marker, or the number of lines.
size_t AfterMarker(const std::vector<std::string>& lines, const std::string& marker) {
  const std::string comment = "<!-- checked: " + marker + " -->";
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Trimmed(lines[i]) == comment) return i + 1;
  }
  ADD_FAILURE() << "no marker '" << comment << "' in the document";
  return lines.size();
}

}  // namespace

std::string ReadDocument(const std::string& name) {
  const std::string path = std::string(TOLDEX_SOURCE_DIR) + "/docs/" + name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> MarkersOf(const std::string& document, const std::string& prefix) {
  const std::string opening = "<!-- checked: " + prefix;
  const std::string closing = " -->";
  std::vector<std::string> names;
  for (const std::string& line : Lines(document)) {
    const std::string text = Trimmed(line);
    if (text.rfind(opening, 0) == 0 && text.size() > closing.size() &&
        text.compare(text.size() - closing.size(), closing.size(), closing) == 0) {
      const size_t start = opening.size() - prefix.size();
      names.push_back(text.substr(start, text.size() - closing.size() - start));
    }
  }
  return names;
}

std::vector<std::string> FencedBlockAfter(const std::string& document, const std::string& marker) {
  const auto lines = Lines(document);
  std::vector<std::string> block;
  size_t i = AfterMarker(lines, marker);
  while (i < lines.size() && lines[i].rfind("```", 0) != 0) ++i;
  for (++i; i < lines.size() && lines[i].rfind("```", 0) != 0; ++i) block.push_back(lines[i]);
  return block;
}

std::vector<std::vector<std::string>> TableAfter(const std::string& document,
                                                 const std::string& marker) {
  const auto lines = Lines(document);
  std::vector<std::vector<std::string>> rows;
  size_t i = AfterMarker(lines, marker);
  while (i < lines.size() && Trimmed(lines[i]).rfind('|', 0) != 0) ++i;
  for (i += 2; i < lines.size(); ++i) {  // header and separator rows
    const std::string row = Trimmed(lines[i]);
    if (row.rfind('|', 0) != 0) break;
    std::vector<std::string> cells;
    size_t start = 1;
    for (size_t bar = row.find('|', start); bar != std::string::npos; bar = row.find('|', start)) {
      cells.push_back(Trimmed(row.substr(start, bar - start)));
      start = bar + 1;
    }
    rows.push_back(cells);
  }
  EXPECT_FALSE(rows.empty()) << "empty table after " << marker;
  return rows;
}

std::string Unquoted(const std::string& cell) {
  const std::string text = Trimmed(cell);
  if (text.size() >= 2 && text.front() == '`' && text.back() == '`') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

std::vector<std::string> CellLines(const std::string& cell) {
  std::vector<std::string> lines;
  if (Trimmed(cell) == "none") return lines;
  size_t start = 0;
  for (;;) {
    const size_t br = cell.find("<br>", start);
    lines.push_back(Unquoted(cell.substr(start, br == std::string::npos ? br : br - start)));
    if (br == std::string::npos) break;
    start = br + 4;
  }
  return lines;
}

long CellNumber(const std::string& cell) {
  const std::string text = Unquoted(cell);
  const bool hexadecimal = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
  return std::strtol(text.c_str(), nullptr, hexadecimal ? 16 : 10);
}

}  // namespace toldex::testing
