// Text limits measured in UTF-16 code units on UTF-8 text: the window keeps UTF-8, but
// its fixed buffers (log lines, bar texts) are sized in UTF-16 units.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ui {

// UTF-16 units the text takes; a byte that starts no valid sequence counts as one unit.
size_t Utf16Length(std::string_view utf8);

// The longest prefix of whole characters that fits in `maxUnits` UTF-16 units.
std::string CutToUtf16Units(std::string_view utf8, size_t maxUnits);

}  // namespace ui
