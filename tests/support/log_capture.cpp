#include "support/log_capture.h"

#include "qirpro.h"

namespace toldex::testing {

LogCapture::LogCapture() {
  QirCtlSetLogLevel(0);
  QirCtlLogToCallback(&LogCapture::Receive, this);
}

LogCapture::~LogCapture() { QirCtlLogToNowhere(); }

void LogCapture::Receive(void* context, int level, const char* line) {
  auto* self = static_cast<LogCapture*>(context);
  std::lock_guard<std::mutex> guard(self->mutex_);
  self->lines_.push_back(LogLine{level, line});
}

std::vector<LogLine> LogCapture::Lines() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return lines_;
}

int LogCapture::Count(const std::string& text, int level) const {
  std::lock_guard<std::mutex> guard(mutex_);
  int count = 0;
  for (const LogLine& line : lines_) {
    if (line.text == text && (level == 0 || line.level == level)) ++count;
  }
  return count;
}

int LogCapture::CountContaining(const std::string& part) const {
  std::lock_guard<std::mutex> guard(mutex_);
  int count = 0;
  for (const LogLine& line : lines_) {
    if (line.text.find(part) != std::string::npos) ++count;
  }
  return count;
}

std::string LogCapture::Dump() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string all;
  for (const LogLine& line : lines_) {
    all += "[" + std::to_string(line.level) + "] " + line.text + "\n";
  }
  return all;
}

void LogCapture::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  lines_.clear();
}

}  // namespace toldex::testing
