// Captures the driver's log lines through the host stand-in, with their levels.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace toldex::testing {

struct LogLine {
  int level;
  std::string text;
};

class LogCapture {
 public:
  LogCapture();   // routes the stand-in's log to this capture, every level
  ~LogCapture();  // routes it nowhere again

  std::vector<LogLine> Lines() const;
  // Lines whose text is exactly `text` (and, when level is not 0, of that level).
  int Count(const std::string& text, int level = 0) const;
  bool Has(const std::string& text, int level = 0) const { return Count(text, level) > 0; }
  // Lines whose text contains `part`.
  int CountContaining(const std::string& part) const;
  std::string Dump() const;  // every line, for failure messages
  void Clear();

 private:
  static void Receive(void* context, int level, const char* line);
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
};

}  // namespace toldex::testing
