// Threads on Linux: "highest" is a real-time round-robin policy when the process may
// use one (CAP_SYS_NICE or RLIMIT_RTPRIO), otherwise the lowest nice value it may take.
#pragma once

#include "platform/thread/thread_service.h"

namespace platform {

class PosixThreadService final : public ThreadService {
 public:
  std::thread Start(ThreadPriority priority, std::function<void()> body) override;
};

// What the calling thread runs at: a real-time priority (1..99) or, when `realTime` is
// false, its nice value (-20..19).
struct GrantedPriority {
  bool realTime = false;
  int level = 0;
};
GrantedPriority CurrentThreadPriority();

// Raises the calling thread as far as the process is allowed; never fails.
void RaiseCurrentThreadToHighest();

}  // namespace platform
