// The remembered image paths and their three uses.
#include "console/remembered_paths.h"

#include <algorithm>

#include "platform/text/utf16.h"

namespace console {

std::mutex RememberedPathMutex;
RememberedPath RememberedOsPath{};
RememberedPath RememberedCscPath{};

bool RememberPath(RememberedPath& buffer, const std::string& path) {
  const std::u16string units = platform::Utf8ToUtf16(path);
  if (units.size() >= buffer.size()) return false;
  std::copy(units.begin(), units.end(), buffer.begin());
  buffer[units.size()] = 0;
  return true;
}

std::string StartFolderOf(const RememberedPath& buffer) {
  const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
  std::u16string text(buffer.begin(), end);
  const size_t slash = text.find_last_of(u'/');
  if (slash == std::u16string::npos) return {};
  text.resize(slash + 1);
  return platform::Utf16ToUtf8(text);
}

std::vector<uint8_t> RememberedPathBytes(const RememberedPath& buffer) {
  std::vector<uint8_t> bytes;
  bytes.reserve(buffer.size() * 2);
  for (char16_t unit : buffer) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

}  // namespace console
