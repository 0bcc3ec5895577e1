// Threads on Windows: "highest" is THREAD_PRIORITY_HIGHEST, which any process may set
// on its own threads; "normal" is THREAD_PRIORITY_NORMAL.
#pragma once

#include "platform/thread/thread_service.h"

namespace platform {

class Win32ThreadService final : public ThreadService {
 public:
  std::thread Start(ThreadPriority priority, std::function<void()> body) override;
};

// The calling thread's priority as GetThreadPriority gives it (THREAD_PRIORITY_*).
int CurrentThreadPriority();

}  // namespace platform
