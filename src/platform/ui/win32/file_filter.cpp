// '|'-separated filter pairs to the NUL-separated form of the open dialog.
#include "platform/ui/win32/file_filter.h"

#include <vector>

#include "platform/text/utf16.h"

namespace ui::native {

std::u16string ToDoubleNulFilter(const std::string& filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < filter.size()) {
    size_t bar = filter.find('|', start);
    if (bar == std::string::npos) bar = filter.size();
    parts.push_back(filter.substr(start, bar - start));
    start = bar + 1;
  }
  std::u16string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() || parts[i + 1].empty()) continue;
    out += platform::Utf8ToUtf16(parts[i]);
    out += u'\0';
    out += platform::Utf8ToUtf16(parts[i + 1]);
    out += u'\0';
  }
  if (!out.empty()) out += u'\0';
  return out;
}

}  // namespace ui::native
