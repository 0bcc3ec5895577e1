// The priority is taken by the new thread itself before its body runs: nice values are
// per thread on Linux and settable only that way, and one std::thread type then serves
// every caller. A refused real-time policy or nice value leaves the thread as it is.
#include "platform/thread/posix/posix_thread_service.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

namespace platform {

namespace {

// Round-robin rather than FIFO: ten workers at one priority share a core in turns
// instead of the first keeping it until it blocks.
constexpr int kRealTimePolicy = SCHED_RR;
constexpr int kNiceFloor = -20;

bool TryRealTime(int level) {
  sched_param param{};
  param.sched_priority = level;
  return level > 0 && pthread_setschedparam(pthread_self(), kRealTimePolicy, &param) == 0;
}

bool TryNice(int value) {
  return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), value) == 0;
}

}  // namespace

void RaiseCurrentThreadToHighest() {
  const int rtMax = sched_get_priority_max(kRealTimePolicy);
  // With CAP_SYS_NICE the top is allowed; without it RLIMIT_RTPRIO is the ceiling.
  if (TryRealTime(rtMax)) return;
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur > 0 &&
      TryRealTime(static_cast<int>(std::min<rlim_t>(limit.rlim_cur, static_cast<rlim_t>(rtMax)))))
    return;

  if (TryNice(kNiceFloor)) return;
  // RLIMIT_NICE n allows nice values down to 20 - n; never go above the current one.
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return;
  const int floor = 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
  if (floor < CurrentThreadPriority().level) (void)TryNice(floor);
}

GrantedPriority CurrentThreadPriority() {
  int policy = SCHED_OTHER;
  sched_param param{};
  if (pthread_getschedparam(pthread_self(), &policy, &param) == 0 &&
      (policy == SCHED_RR || policy == SCHED_FIFO))
    return {true, param.sched_priority};
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  return {false, errno == 0 ? nice : 0};
}

std::thread PosixThreadService::Start(ThreadPriority priority, std::function<void()> body) {
  return std::thread([priority, body = std::move(body)] {
    if (priority == ThreadPriority::Highest) RaiseCurrentThreadToHighest();
    body();
  });
}

std::unique_ptr<ThreadService> MakeSystemThreadService() {
  return std::make_unique<PosixThreadService>();
}

}  // namespace platform
