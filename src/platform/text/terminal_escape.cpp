// Escapes are never split by the cut: a reader sees either "\xNN" whole or the mark.
#include "platform/text/terminal_escape.h"

#include <vector>

namespace platform::text {

std::string EscapeForTerminal(std::string_view bytes, std::size_t maxLength) {
  static constexpr char kHex[] = "0123456789abcdef";
  static constexpr std::string_view kMark = "...";
  std::vector<std::size_t> ends;  // where each byte's piece ends in `out`
  std::string out;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c <= 0x7E) {
      out += static_cast<char>(c);
    } else {
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    }
    ends.push_back(out.size());
  }
  if (out.size() <= maxLength) return out;
  if (maxLength < kMark.size()) return std::string(kMark.substr(0, maxLength));
  std::size_t keep = 0;
  for (std::size_t end : ends) {
    if (end + kMark.size() > maxLength) break;
    keep = end;
  }
  out.resize(keep);
  out += kMark;
  return out;
}

}  // namespace platform::text
