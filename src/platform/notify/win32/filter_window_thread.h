// A hidden window of its own, on a thread of its own, whose messages go to a filter: how
// a front end without a window (the command-line tool) still hears of arrivals.
#pragma once

#include <string>
#include <thread>

#include "platform/ui/native_message_filter.h"

namespace platform::notify {

class FilterWindowThread {
 public:
  // Returns once the window exists and `filter` has seen OnWindowCreated, or once it
  // could not be made (ok() false, error() says why). `filter` must outlive this.
  explicit FilterWindowThread(ui::NativeMessageFilter& filter);
  // Destroys the window on its thread (the filter sees OnWindowDestroying) and joins it.
  ~FilterWindowThread();
  FilterWindowThread(const FilterWindowThread&) = delete;
  FilterWindowThread& operator=(const FilterWindowThread&) = delete;

  bool ok() const { return window_ != nullptr; }
  const std::string& error() const { return error_; }
  void* window() const { return window_; }

 private:
  void Run(ui::NativeMessageFilter& filter);

  void* window_ = nullptr;
  std::string error_;
  std::thread thread_;
};

}  // namespace platform::notify
