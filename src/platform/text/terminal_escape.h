// Bytes from outside the station (a handset's answers and descriptors) made safe to
// print on a terminal or in a log line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::text {

// Printable ASCII (0x20..0x7E) as it is, every other byte as "\xNN" (lower-case hex).
// The result is at most `maxLength` characters: a longer one is cut at a whole escape
// and ends with "..." so that the cut shows.
std::string EscapeForTerminal(std::string_view bytes, std::size_t maxLength);

}  // namespace platform::text
