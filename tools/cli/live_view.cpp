// Redrawing moves the cursor up over the live lines and clears them (ANSI sequences,
// which every terminal a line PC runs understands).
#include "cli/live_view.h"

#include <algorithm>

namespace cli {
namespace {

std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

std::string Line(const ChannelView& c) {
  return "[Channel " + std::to_string(c.channel) + "] " + Trimmed(c.box) + " | " + Trimmed(c.bar);
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

void LiveView::Log(const std::string& text) {
  pendingLog_ += WithoutCarriageReturns(text);
  const size_t end = pendingLog_.rfind('\n');
  if (end == std::string::npos) return;
  // The live lines come back with the next Update, so they are drawn once per refresh.
  if (terminal_) EraseLiveLines();
  out_ << pendingLog_.substr(0, end + 1);
  pendingLog_.erase(0, end + 1);
  out_.flush();
}

void LiveView::Update(const std::vector<ChannelView>& channels) {
  if (terminal_) {
    EraseLiveLines();
    shown_ = channels;
    DrawLiveLines();
  } else {
    for (const ChannelView& c : channels) {
      const std::string state = Trimmed(c.box) + " | " + StateOf(c.bar);
      auto [it, inserted] = lastState_.try_emplace(c.channel, state);
      if (!inserted && it->second == state) continue;
      it->second = state;
      out_ << "[Channel " << c.channel << "] " << state << "\n";
    }
  }
  out_.flush();
}

void LiveView::Finish() {
  if (terminal_) EraseLiveLines();
  if (!pendingLog_.empty()) out_ << pendingLog_ << "\n";
  pendingLog_.clear();
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
  for (const ChannelView& c : shown_) {
    out_ << SmallBar(c.pos) << " " << Line(c) << "\n";
    ++drawnLines_;
  }
}

}  // namespace cli
