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
