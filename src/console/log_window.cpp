// The shared log: each line is formatted on the caller's thread and inserted whole by
// the window's thread, so lines of different workers never mix.
#include <cstdio>
#include <vector>

#include "console/log_line.h"
#include "console/ostrevane_dlg.h"
#include "platform/ui/utf16_cut.h"

namespace console {

std::string FormatLogLine(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length < 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return ui::CutToUtf16Units(std::string(buffer.data(), static_cast<size_t>(length)),
                             kLogLineUnits);
}

int ChannelOfLogText(const std::string& text) {
  static constexpr char kPrefix[] = "[Channel ";
  constexpr size_t kPrefixLength = sizeof kPrefix - 1;
  if (text.compare(0, kPrefixLength, kPrefix) != 0) return -1;
  size_t i = kPrefixLength;
  int channel = 0;
  const size_t digitsFrom = i;
  while (i < text.size() && i - digitsFrom < 3 && text[i] >= '0' && text[i] <= '9')
    channel = channel * 10 + (text[i++] - '0');
  if (i == digitsFrom || i >= text.size() || text[i] != ']') return -1;
  return channel;
}

void COstrevaneDlg::AppendLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendLogV(format, args);
  va_end(args);
}

void COstrevaneDlg::AppendLogV(const char* format, va_list args) {
  m_window->AppendToEdit(IDC_LOG, FormatLogLine(format, args));
}

void COstrevaneDlg::AppendLogText(const std::string& text) {
  m_window->AppendToEdit(IDC_LOG, ui::CutToUtf16Units(text, kLogLineUnits));
}

}  // namespace console
