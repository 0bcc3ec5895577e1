// What a person watching the run sees: the log as it comes and one line per channel.
// On a terminal the channel lines are redrawn in place under the log; into a pipe or a
// file each channel prints a line only when its state changes. Every text shown is
// escaped first: much of it comes from the handsets.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

struct ChannelView {
  int channel = 0;
  std::string box;       // the channel box's text
  std::string bar;       // the status bar's text
  int32_t pos = 0;       // the bar's position: a percentage, or 200 failed / 300 done
  std::string location;  // the handset's seat; empty when unknown
};

// Without the spaces the station pads bar and box texts with.
std::string Trimmed(const std::string& text);
// The bar's text without its running percentage: "MainOS...ing 45%" -> "MainOS...ing".
std::string StateOf(const std::string& barText);
// "[####......]" for a percentage; full for done, crosses for failed.
std::string SmallBar(int32_t pos);
// A text fit to show: one escaped line per line of it ("\r\n" or "\n" ends a line).
std::vector<std::string> DisplayLines(const std::string& text);

class LiveView {
 public:
  // Live lines and the log go to `out`, notices to `notices` (they may be one stream).
  // `columns`: the terminal's width now, asked at each redraw; 0 or empty: no cut.
  LiveView(std::ostream& out, std::ostream& notices, bool terminal,
           std::function<int()> columns = {})
      : out_(out), notices_(notices), terminal_(terminal), columns_(std::move(columns)) {}

  // New log text (it carries its own line breaks). A line is printed once it is whole;
  // on a terminal the live lines make way for it until the next Update.
  void Log(const std::string& text);
  // A text that must stay readable (a message box's): printed whole to `notices` above
  // the live lines, which are drawn again under it at the next Update.
  void Notice(const std::string& text);
  // The channels as they are now; the caller calls this at most ten times a second.
  void Update(const std::vector<ChannelView>& channels);
  // The end: the rest of the log, and the live lines left as they last read.
  void Finish();

 private:
  void EraseLiveLines();
  void DrawLiveLines();

  std::ostream& out_;
  std::ostream& notices_;
  const bool terminal_;
  const std::function<int()> columns_;
  std::string pendingLog_;
  std::vector<ChannelView> shown_;
  int drawnLines_ = 0;
  std::map<int, std::string> lastState_;
};

}  // namespace cli
