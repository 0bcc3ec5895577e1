// The DNS host name, asked for in UTF-16 with the size the call says it needs, and
// handed on in UTF-8.
#include <windows.h>

#include "platform/host/host_name.h"
#include "platform/text/win32/wide.h"

namespace platform {

std::string HostName() {
  DWORD size = 0;
  GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size);
  if (size == 0) return "unknown";
  std::wstring name(size, L'\0');
  if (GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size) == FALSE || size == 0)
    return "unknown";
  name.resize(size);
  return Narrow(name);
}

}  // namespace platform
