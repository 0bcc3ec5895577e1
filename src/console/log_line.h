// One log line: formatted like the C runtime's count-limited formatting into a buffer
// of 512 UTF-16 units, so at most 511 units are kept, cut on a character boundary.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace console {

inline constexpr size_t kLogLineUnits = 511;
// The window's log keeps its last lines only (between nine tenths of this and this
// many), the oldest going first: a factory day of hundreds of runs would otherwise grow
// it without bound.
inline constexpr size_t kLogLineLimit = 10000;

std::string FormatLogLine(const char* format, va_list args);

// The channel a log text is about (it begins "[Channel %d]"), or -1.
int ChannelOfLogText(const std::string& text);

}  // namespace console
