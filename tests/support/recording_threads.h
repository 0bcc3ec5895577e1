// A thread service for tests: it notes the priority each thread was asked for and
// starts the thread as it is, so a test run as root never takes a real-time policy.
#pragma once

#include <mutex>
#include <vector>

#include "platform/thread/thread_service.h"

namespace testsupport {

class RecordingThreadService final : public platform::ThreadService {
 public:
  std::thread Start(platform::ThreadPriority priority, std::function<void()> body) override {
    {
      std::lock_guard lock(mutex_);
      requested_.push_back(priority);
    }
    return std::thread(std::move(body));
  }
  // What was asked for, in order.
  std::vector<platform::ThreadPriority> Requested() const {
    std::lock_guard lock(mutex_);
    return requested_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<platform::ThreadPriority> requested_;
};

}  // namespace testsupport
