// UTF-8 <-> UTF-16 code units: the station keeps text as UTF-8, but limits and keys
// that the operator's texts are measured by count UTF-16 units.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace platform
