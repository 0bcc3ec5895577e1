// Redrawing moves the cursor up over the live lines and clears them (ANSI sequences,
// which every terminal a line PC runs understands). Each live line is cut to the width,
// so it takes one row and the count of rows to move up is right.
#include "cli/live_view.h"

#include <algorithm>

#include "platform/text/escaped_text.h"

namespace cli {
namespace {

// A log line is the station's text with handset fields in it: room for several.
constexpr size_t kLineLimit = 1024;

std::string Shown(const std::string& text) {
  return platform::EscapedText(Trimmed(text));
}

std::string Head(const ChannelView& c) {
  std::string head = "[Channel " + std::to_string(c.channel) + "] ";
  if (!c.location.empty()) head.append(platform::EscapedText(c.location)).append(" ");
  return head;
}

}  // namespace

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string StateOf(const std::string& barText) {
  std::string t = Trimmed(barText);
  if (t.empty() || t.back() != '%') return t;
  size_t i = t.size() - 1;
  while (i > 0 && t[i - 1] >= '0' && t[i - 1] <= '9') --i;
  if (i == t.size() - 1) return t;  // a '%' without a number before it
  return Trimmed(t.substr(0, i));
}

std::string SmallBar(int32_t pos) {
  constexpr int kWidth = 10;
  // Built by appends: GCC 12 at -O3 reports a false -Wrestrict for the string sum.
  std::string bar(1, '[');
  if (pos == 200) {
    bar.append(kWidth, 'x');
  } else {
    const int filled = pos >= 300 ? kWidth : std::clamp(pos, 0, 100) * kWidth / 100;
    bar.append(static_cast<size_t>(filled), '#').append(static_cast<size_t>(kWidth - filled), '.');
  }
  return bar.append(1, ']');
}

std::vector<std::string> DisplayLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    size_t cut = end;
    if (cut > begin && text[cut - 1] == '\r') --cut;
    lines.push_back(
        platform::TerminalLogText(std::string_view(text).substr(begin, cut - begin), kLineLimit));
    begin = end + 1;
  }
  return lines;
}

void LiveView::Log(const std::string& text) {
  pendingLog_ += text;
  const size_t end = pendingLog_.rfind('\n');
  if (end == std::string::npos) return;
  // The live lines come back with the next Update, so they are drawn once per refresh.
  if (terminal_) EraseLiveLines();
  for (const std::string& line : DisplayLines(pendingLog_.substr(0, end + 1)))
    out_ << line << "\n";
  pendingLog_.erase(0, end + 1);
  out_.flush();
}

void LiveView::Notice(const std::string& text) {
  if (terminal_) EraseLiveLines();
  out_.flush();  // the erase reaches the terminal before the notice does
  for (const std::string& line : DisplayLines(text)) notices_ << line << "\n";
  notices_.flush();
}

void LiveView::Update(const std::vector<ChannelView>& channels) {
  if (terminal_) {
    EraseLiveLines();
    shown_ = channels;
    DrawLiveLines();
  } else {
    for (const ChannelView& c : channels) {
      const std::string state = Head(c) + Shown(c.box) + " | " + platform::EscapedText(StateOf(c.bar));
      auto [it, inserted] = lastState_.try_emplace(c.channel, state);
      if (!inserted && it->second == state) continue;
      it->second = state;
      out_ << state << "\n";
    }
  }
  out_.flush();
}

void LiveView::Finish() {
  if (terminal_) EraseLiveLines();
  if (!pendingLog_.empty()) Log("\n");
  if (terminal_) {
    DrawLiveLines();
    drawnLines_ = 0;  // they stay on the screen
  }
  out_.flush();
}

void LiveView::EraseLiveLines() {
  for (; drawnLines_ > 0; --drawnLines_) out_ << "\x1b[1A\x1b[2K";
  out_ << "\r";
}

void LiveView::DrawLiveLines() {
  // One column is left free: a line that fills the row may wrap the cursor on its own.
  const int columns = columns_ ? columns_() : 0;
  for (const ChannelView& c : shown_) {
    std::string line = SmallBar(c.pos) + " " + Head(c) + Shown(c.box) + " | " + Shown(c.bar);
    if (columns > 1 && line.size() >= static_cast<size_t>(columns))
      line.resize(static_cast<size_t>(columns - 1));
    out_ << line << "\n";
    ++drawnLines_;
  }
}

}  // namespace cli
