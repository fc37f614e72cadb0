#include "demo_screen.h"

#include <cstdio>

#include "report.h"

namespace toldex::cli {
namespace {

constexpr char kClearScreen[] = "\x1b[H\x1b[2J";
constexpr char kCursorHome[] = "\x1b[H";
constexpr char kClearToEnd[] = "\x1b[J";
constexpr char kClearLineEnd[] = "\x1b[K";

}  // namespace

std::string RenderFrame(const DemoFrame& frame) {
  std::string text = frame.title + "\n";
  for (const std::string& fact : frame.facts) text += fact + "\n";
  Table gates({"GATE", "WHAT", "TYPE", "VALUE", "SERVED BY STATION"});
  for (const auto& row : frame.gates) gates.AddRow(row);
  text += "\n" + gates.Render();
  Table stations({"STATION", "ADDRESS", "ROLE", "SIMULATOR", "$ST_ONLINE", "$NUMCOMMS", "$NUMSUCCESS", "$NUMFAILS",
                  "$ERRORS", "$COMMFAILS"});
  for (const auto& row : frame.stations) stations.AddRow(row);
  text += "\n" + stations.Render();
  text += "\nLatest events:\n";
  if (frame.events.empty()) text += "  (none yet)\n";
  for (const std::string& event : frame.events) text += "  " + event + "\n";
  return text;
}

void DemoScreen::Show(const std::string& frame) {
  if (!terminal_) {
    std::printf("%s\n", frame.c_str());
    std::fflush(stdout);
    return;
  }
  // Each line is cleared to its end, so a shorter line leaves nothing behind.
  std::string drawn = cleared_ ? kCursorHome : kClearScreen;
  cleared_ = true;
  size_t start = 0;
  while (start < frame.size()) {
    const size_t end = frame.find('\n', start);
    const size_t stop = end == std::string::npos ? frame.size() : end;
    drawn += frame.substr(start, stop - start) + kClearLineEnd + "\n";
    start = stop + 1;
  }
  drawn += kClearToEnd;
  std::fputs(drawn.c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace toldex::cli
