// Bytes from outside the station (a handset's answers, an image file's fields) made fit
// for a terminal or a log, where a control byte would drive the screen.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Input bytes kept by default: longer than any field a handset or an image header holds.
inline constexpr size_t kEscapedTextLimit = 256;

// Printable ASCII stays as it is, except the backslash; every other byte and the
// backslash become \xNN (upper-case hex), so the text cannot drive a terminal, and its
// bytes can still be read without doubt. After `maxBytes` input bytes the rest is left
// out and "\..." marks the cut: a raw backslash never comes from the text.
std::string EscapedText(std::string_view text, size_t maxBytes = kEscapedTextLimit);

// A line of the station's own log for a terminal: escaped as above, except that the
// backslash stays, so that a Windows path reads as one. The line still cannot drive the
// terminal; only its \xNN are no longer beyond doubt.
std::string TerminalLogText(std::string_view text, size_t maxBytes);

}  // namespace platform
