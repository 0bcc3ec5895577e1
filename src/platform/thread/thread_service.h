// The thread service: every thread the engine starts goes through it, so that a worker
// can ask for the highest priority the process may have and a test can see what it asked.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace platform {

enum class ThreadPriority {
  Normal,   // as the starting thread runs
  Highest,  // the highest this process is allowed; falls back quietly when none is
};

class ThreadService {
 public:
  virtual ~ThreadService() = default;
  // Starts `body` on a new thread at `priority`. A priority that cannot be had leaves the
  // thread at what it can have: only a thread that cannot be created at all throws
  // (std::system_error, as std::thread does).
  [[nodiscard]] virtual std::thread Start(ThreadPriority priority, std::function<void()> body) = 0;
};

// The thread service of the platform the station is built for (POSIX or Win32).
std::unique_ptr<ThreadService> MakeSystemThreadService();

}  // namespace platform
