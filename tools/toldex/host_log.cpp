#include "host_log.h"

#include <cstdio>

#include "platform/thread.h"
#include "qirpro.h"

namespace toldex::cli {
namespace {

constexpr size_t kKeptLines = 20000;

std::string WithoutLineEnd(const char* line) {
  std::string text(line != nullptr ? line : "");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace

HostLog& HostLog::Instance() {
  static HostLog log;
  return log;
}

void HostLog::Start() {
  QirCtlSetLogLevel(0);
  QirCtlLogToCallback(&HostLog::Receive, this);
}

void HostLog::SetEchoLevel(int level) {
  std::lock_guard<std::mutex> guard(mutex_);
  echoLevel_ = level;
}

int HostLog::EchoLevel() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return echoLevel_;
}

void HostLog::SetMuted(bool muted) {
  std::lock_guard<std::mutex> guard(mutex_);
  muted_ = muted;
}

uint64_t HostLog::Mark() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return next_;
}

std::vector<LogEntry> HostLog::Since(uint64_t mark) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<LogEntry> entries;
  for (const LogEntry& entry : lines_) {
    if (entry.sequence >= mark) entries.push_back(entry);
  }
  return entries;
}

std::vector<LogEntry> HostLog::SinceOnThisThread(uint64_t mark) const {
  const uint32_t self = platform::CurrentThreadId();
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<LogEntry> entries;
  for (const LogEntry& entry : lines_) {
    if (entry.sequence >= mark && entry.threadId == self) entries.push_back(entry);
  }
  return entries;
}

void HostLog::PrintSince(uint64_t mark, int minimumLevel, std::FILE* out, const char* indent) const {
  for (const LogEntry& entry : Since(mark)) {
    if (entry.level >= minimumLevel) std::fprintf(out, "%s%s\n", indent, FormatLogEntry(entry).c_str());
  }
  std::fflush(out);
}

void HostLog::Receive(void* context, int level, const char* line) {
  auto* log = static_cast<HostLog*>(context);
  LogEntry entry{0, level, WithoutLineEnd(line), platform::MonotonicMilliseconds(), platform::CurrentThreadId()};
  std::lock_guard<std::mutex> guard(log->mutex_);
  if (log->muted_) return;
  entry.sequence = log->next_++;
  if (level >= log->echoLevel_) {
    std::fprintf(stderr, "%s\n", FormatLogEntry(entry).c_str());
    std::fflush(stderr);
  }
  log->lines_.push_back(std::move(entry));
  if (log->lines_.size() > kKeptLines) log->lines_.pop_front();
}

std::string FormatLogEntry(const LogEntry& entry) {
  std::string text = "[";
  text += std::to_string(entry.level);
  text += "] ";
  text += entry.text;
  return text;
}

bool ServingStation(const std::vector<LogEntry>& entries, int& station) {
  bool found = false;
  for (const LogEntry& entry : entries) {
    int plc = 0;
    int served = 0;
    if (std::sscanf(entry.text.c_str(), "TolDEX : SingleRead() Tags for plc %d is read from plc %d", &plc, &served) == 2 ||
        std::sscanf(entry.text.c_str(), "TOLDEX: MasterBackupManagement(), Station qui va se connecter : %d", &served) == 1) {
      station = served;
      found = true;
    }
  }
  return found;
}

}  // namespace toldex::cli
