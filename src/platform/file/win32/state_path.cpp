// Windows: %LOCALAPPDATA% and %USERPROFILE% read through the UTF-16 environment, so a user
// whose name leaves the ANSI code page still gets a folder that opens.
#include <windows.h>

#include <string>

#include "platform/file/state_path.h"
#include "platform/text/win32/wide.h"

namespace platform {
namespace {

std::string Variable(const wchar_t* name) {
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return Narrow(value);
    }
    value.resize(n);  // n counts the terminating NUL when the buffer was too small
  }
}

}  // namespace

std::string StateFilePath(const std::string& name) {
  const std::string local = Variable(L"LOCALAPPDATA");
  if (local.empty()) return {};
  return local + "\\ostrevane\\" + name;
}

std::string HomeFolder() { return Variable(L"USERPROFILE"); }

}  // namespace platform
