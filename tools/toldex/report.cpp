#include "report.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include "gate.h"

namespace toldex::cli {

void Table::AddRow(std::vector<std::string> cells, std::vector<std::string> notes) {
  cells.resize(headings_.size());
  rows_.push_back(Row{std::move(cells), std::move(notes)});
}

std::string Table::Render() const {
  std::vector<size_t> widths;
  for (const std::string& heading : headings_) widths.push_back(heading.size());
  for (const Row& row : rows_) {
    for (size_t c = 0; c < row.cells.size(); ++c) widths[c] = std::max(widths[c], row.cells[c].size());
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < cells.size(); ++c) {
      text += cells[c];
      if (c + 1 < cells.size()) text += std::string(widths[c] - cells[c].size() + 2, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
  };
  std::string text = line(headings_);
  for (const Row& row : rows_) {
    text += line(row.cells);
    for (const std::string& note : row.notes) text += "    " + note + "\n";
  }
  return text;
}

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += ',';
    const std::string& cell = cells[i];
    if (cell.find_first_of(",\"\n\r") == std::string::npos) {
      line += cell;
      continue;
    }
    line += '"';
    for (char c : cell) {
      if (c == '"') line += '"';
      line += c;
    }
    line += '"';
  }
  return line;
}

std::string JsonQuote(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x80) {
          // Driver texts are single-byte (Windows-1252); \u00XX keeps the
          // output valid JSON whatever the byte.
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          quoted += escaped;
        } else {
          quoted += static_cast<char>(c);
        }
    }
  }
  return quoted + "\"";
}

std::string JsonStringArray(const std::vector<std::string>& texts) {
  std::string array = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) array += ',';
    array += JsonQuote(texts[i]);
  }
  array += ']';
  return array;
}

std::string Joined(const std::vector<std::string>& texts, const char* separator) {
  std::string joined;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += texts[i];
  }
  return joined;
}

std::string JsonValue(const std::string& value) {
  return IsNumericText(value) ? value : JsonQuote(value);
}

std::string JsonValueArray(const std::vector<std::string>& values) {
  std::string array = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) array += ',';
    array += JsonValue(values[i]);
  }
  return array + "]";
}

void JsonObject::Key(const std::string& key) {
  if (!body_.empty()) body_ += ',';
  body_ += JsonQuote(key) + ":";
}

JsonObject& JsonObject::Text(const std::string& key, const std::string& value) {
  Key(key);
  body_ += JsonQuote(value);
  return *this;
}

JsonObject& JsonObject::Number(const std::string& key, double value) {
  Key(key);
  if (!std::isfinite(value)) {
    body_ += "null";
    return *this;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%.10g", value);
  body_ += text;
  return *this;
}

JsonObject& JsonObject::Integer(const std::string& key, long long value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Boolean(const std::string& key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Null(const std::string& key) {
  Key(key);
  body_ += "null";
  return *this;
}

JsonObject& JsonObject::Raw(const std::string& key, const std::string& json) {
  Key(key);
  body_ += json;
  return *this;
}

std::string UtcTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const int millis = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  const std::tm* utc = std::gmtime(&seconds);
  char stamp[40] = "";
  if (utc != nullptr) std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", utc);
  char text[48];
  std::snprintf(text, sizeof text, "%s.%03dZ", stamp, millis);
  return text;
}

}  // namespace toldex::cli
