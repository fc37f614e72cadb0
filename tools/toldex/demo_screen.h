// The demo's screen: one frame of text with the gates, the stations' counters
// and the latest events, redrawn in place on a terminal and printed as plain
// successive frames elsewhere.
#pragma once

#include <string>
#include <vector>

namespace toldex::cli {

struct DemoFrame {
  double seconds = 0;
  double duration = 0;
  std::string title;                            // the first line
  std::vector<std::string> facts;               // lines under the title
  std::vector<std::vector<std::string>> gates;  // GATE WHAT TYPE VALUE STATION
  std::vector<std::vector<std::string>> stations;
  std::vector<std::string> events;
};

std::string RenderFrame(const DemoFrame& frame);

class DemoScreen {
 public:
  explicit DemoScreen(bool terminal) : terminal_(terminal) {}
  // A terminal is cleared once and each frame drawn over the last one.
  void Show(const std::string& frame);
  bool terminal() const { return terminal_; }

 private:
  bool terminal_;
  bool cleared_ = false;
};

}  // namespace toldex::cli
