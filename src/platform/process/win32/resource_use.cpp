// The peak working set, Windows' name for the largest resident set, from psapi.
#include <windows.h>
#include <psapi.h>

#include "platform/process/resource_use.h"

namespace platform {

uint64_t PeakResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) == FALSE) return 0;
  return static_cast<uint64_t>(counters.PeakWorkingSetSize);
}

}  // namespace platform
