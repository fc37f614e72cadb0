// The driver's log lines as the command-line host receives them through the
// host library stand-in: every line is kept (the last few thousand) with its
// level, so a command can show what the driver said during one call, and lines
// of a chosen level and above are echoed to stderr as they come ("-v").
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace toldex::cli {

constexpr int kLevelDetail = 8;
constexpr int kLevelEvent = 32;
constexpr int kEchoNothing = 1000;  // an echo level above every driver level

struct LogEntry {
  uint64_t sequence;
  int level;
  std::string text;  // without a trailing line end
  uint64_t atMs;     // monotonic clock when it arrived
  uint32_t threadId; // the thread that logged it
};

class HostLog {
 public:
  static HostLog& Instance();

  // Routes the stand-in's log here; every level is kept.
  void Start();
  // Lines of at least this level go to stderr as they arrive.
  void SetEchoLevel(int level);
  // While muted, lines are dropped (for reads whose messages a command does
  // not want to show twice).
  void SetMuted(bool muted);

  int EchoLevel() const;

  // The sequence number the next line will get.
  uint64_t Mark() const;
  std::vector<LogEntry> Since(uint64_t mark) const;
  // Only the lines the calling thread logged: what the driver said during a
  // call, without the lines its background threads wrote meanwhile.
  std::vector<LogEntry> SinceOnThisThread(uint64_t mark) const;
  // "[32] TOLDEX: ..." for each line since the mark of at least the level.
  void PrintSince(uint64_t mark, int minimumLevel, std::FILE* out, const char* indent) const;

  // Called by the stand-in, from any thread.
  static void Receive(void* context, int level, const char* line);

 private:
  HostLog() = default;
  mutable std::mutex mutex_;
  std::deque<LogEntry> lines_;
  uint64_t next_ = 0;
  int echoLevel_ = kEchoNothing;
  bool muted_ = false;
};

// Keeps lines without echoing them for the life of the scope.
class QuietEcho {
 public:
  QuietEcho() : saved_(HostLog::Instance().EchoLevel()) { HostLog::Instance().SetEchoLevel(kEchoNothing); }
  ~QuietEcho() { HostLog::Instance().SetEchoLevel(saved_); }
  QuietEcho(const QuietEcho&) = delete;
  QuietEcho& operator=(const QuietEcho&) = delete;

 private:
  int saved_;
};

// "[32] text", the form in which every command shows a driver line.
std::string FormatLogEntry(const LogEntry& entry);

// The station that served a read or write, from the driver's lines: the one
// it names before the first exchange ("TolDEX : SingleRead() Tags for plc %d
// is read from plc %d sur ip : %s"), or the one a later switch report names
// ("... Station qui va se connecter : %d") when the PLC changed over to its
// other station during the call. False when no such line is among them.
bool ServingStation(const std::vector<LogEntry>& entries, int& station);

}  // namespace toldex::cli
