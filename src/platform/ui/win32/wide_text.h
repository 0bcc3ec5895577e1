// UTF-8 text of the window layer to the UTF-16 of the Windows API and back.
#pragma once

#include <string>
#include <string_view>

#include "platform/text/utf16.h"

namespace ui {

inline std::wstring Wide(std::string_view utf8) {
  std::u16string s = platform::Utf8ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

inline std::string Narrow(std::wstring_view wide) {
  return platform::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace ui
