// Output for people and for scripts: aligned tables, CSV lines and JSON lines.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace toldex::cli {

enum class OutputFormat { kTable, kCsv, kJson };

// An aligned text table; a row may carry notes printed under it, indented.
class Table {
 public:
  explicit Table(std::vector<std::string> headings) : headings_(std::move(headings)) {}
  void AddRow(std::vector<std::string> cells, std::vector<std::string> notes = {});
  std::string Render() const;
  bool empty() const { return rows_.empty(); }

 private:
  struct Row {
    std::vector<std::string> cells;
    std::vector<std::string> notes;
  };
  std::vector<std::string> headings_;
  std::vector<Row> rows_;
};

// One CSV line (RFC 4180 quoting) without the line end.
std::string CsvLine(const std::vector<std::string>& cells);

// A JSON object written field by field, in order.
class JsonObject {
 public:
  JsonObject& Text(const std::string& key, const std::string& value);
  JsonObject& Number(const std::string& key, double value);
  JsonObject& Integer(const std::string& key, long long value);
  JsonObject& Boolean(const std::string& key, bool value);
  JsonObject& Null(const std::string& key);
  // A value already in JSON form (a number, an array, an object).
  JsonObject& Raw(const std::string& key, const std::string& json);
  std::string str() const { return "{" + body_ + "}"; }

 private:
  void Key(const std::string& key);
  std::string body_;
};

std::string JsonQuote(const std::string& text);
// A JSON array of texts.
std::string JsonStringArray(const std::vector<std::string>& texts);
// The texts with the separator between them.
std::string Joined(const std::vector<std::string>& texts, const char* separator);
// A JSON array of values that are numbers when they read as numbers.
std::string JsonValueArray(const std::vector<std::string>& values);
// One value: a number when it reads as one, else a string.
std::string JsonValue(const std::string& value);

// Wall-clock time for output: "2026-12-11T10:22:59.123Z".
std::string UtcTimestamp();

}  // namespace toldex::cli
