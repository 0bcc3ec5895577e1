// The watchdog's thread waits for the run's end or its bound, whichever comes first.
#include "support/run_watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace testsupport {

RunWatchdog::RunWatchdog(std::string what, std::chrono::seconds bound, int exitCode)
    : what_(std::move(what)) {
  thread_ = std::thread([this, bound, exitCode, done = done_.get_future()] {
    if (done.wait_for(bound) == std::future_status::timeout) {
      std::fprintf(stderr, "HANG: run did not end within %lld s: %s\n",
                   static_cast<long long>(bound.count()), what_.c_str());
      std::fflush(stderr);
      std::_Exit(exitCode);
    }
  });
}

RunWatchdog::~RunWatchdog() {
  done_.set_value();
  thread_.join();
}

}  // namespace testsupport
