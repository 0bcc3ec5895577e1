// One escaping for every place that shows foreign bytes, so they read the same everywhere.
#include "platform/text/escaped_text.h"

#include <cstdint>

namespace platform {

namespace {

std::string Escaped(std::string_view text, size_t maxBytes, bool keepBackslash) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string_view kept = text.substr(0, maxBytes);
  std::string out;
  out.reserve(kept.size() + 4);
  for (const char c : kept) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 0x20 && b < 0x7F && (b != '\\' || keepBackslash)) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
  }
  if (kept.size() < text.size()) out += "\\...";
  return out;
}

}  // namespace

std::string EscapedText(std::string_view text, size_t maxBytes) {
  return Escaped(text, maxBytes, false);
}

std::string TerminalLogText(std::string_view text, size_t maxBytes) {
  return Escaped(text, maxBytes, true);
}

}  // namespace platform
