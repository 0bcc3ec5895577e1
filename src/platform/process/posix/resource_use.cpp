// getrusage's maximum resident set size, which Linux gives in KiB.
#include "platform/process/resource_use.h"

#include <sys/resource.h>

namespace platform {

uint64_t PeakResidentBytes() {
  rusage use{};
  if (getrusage(RUSAGE_SELF, &use) != 0) return 0;
  return static_cast<uint64_t>(use.ru_maxrss) * 1024;
}

}  // namespace platform
