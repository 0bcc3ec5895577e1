// What a person watching the run sees: the log as it comes and one line per channel.
// On a terminal the channel lines are redrawn in place under the log; into a pipe or a
// file each channel prints a line only when its state changes.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

struct ChannelView {
  int channel = 0;
  std::string box;  // the channel box's text
  std::string bar;  // the status bar's text
  int32_t pos = 0;  // the bar's position: a percentage, or 200 failed / 300 done
};

// Without the spaces the station pads bar and box texts with.
std::string Trimmed(const std::string& text);
// The bar's text without its running percentage: "MainOS...ing 45%" -> "MainOS...ing".
std::string StateOf(const std::string& barText);
// "[####......]" for a percentage; full for done, crosses for failed.
std::string SmallBar(int32_t pos);

class LiveView {
 public:
  LiveView(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

  // New log text (it carries its own line breaks). A line is printed once it is whole;
  // on a terminal the live lines make way for it until the next Update.
  void Log(const std::string& text);
  // The channels as they are now; the caller calls this at most ten times a second.
  void Update(const std::vector<ChannelView>& channels);
  // The end: the rest of the log, and the live lines left as they last read.
  void Finish();

 private:
  void EraseLiveLines();
  void DrawLiveLines();

  std::ostream& out_;
  const bool terminal_;
  std::string pendingLog_;
  std::vector<ChannelView> shown_;
  int drawnLines_ = 0;
  std::map<int, std::string> lastState_;
};

}  // namespace cli
