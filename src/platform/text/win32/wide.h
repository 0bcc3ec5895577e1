// UTF-8 <-> the UTF-16 of the Windows "W" calls (wchar_t is 16 bits there), for the
// Win32 backends only.
#pragma once

#include <string>
#include <string_view>

#include "platform/text/utf16.h"

namespace platform {

inline std::wstring Wide(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

inline std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace platform
