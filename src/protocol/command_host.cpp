// Log-line and bounded-text formatting shared by the handset commands.
#include "protocol/command_host.h"

#include <cstdio>
#include <vector>

namespace protocol {
namespace {

std::string FormatV(size_t capacity, const char* format, va_list args) {
  std::vector<char> buffer(capacity);
  int n = std::vsnprintf(buffer.data(), capacity, format, args);
  if (n < 0) return {};
  return std::string(buffer.data());
}

}  // namespace

void CommandHost::AppendLog(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(LOG_FORMAT_SIZE, format, args);
  va_end(args);
  AppendLogText(text);
}

std::string FormatBounded(size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(capacity, format, args);
  va_end(args);
  return text;
}

}  // namespace protocol
