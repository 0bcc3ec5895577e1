// POSIX CPU clocks.
#include "platform/time/cpu_time.h"

#include <time.h>

namespace platform {
namespace {
std::chrono::nanoseconds Read(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}
}  // namespace

std::chrono::nanoseconds ThreadCpuTime() {
  return Read(CLOCK_THREAD_CPUTIME_ID);
}
std::chrono::nanoseconds ProcessCpuTime() {
  return Read(CLOCK_PROCESS_CPUTIME_ID);
}

}  // namespace platform
