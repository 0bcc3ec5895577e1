// Ends the process when a run does not end within its bound, naming the run: a hang
// must not pass as a slow run, and the name (seed, faults) lets it be replayed.
#pragma once

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace testsupport {

class RunWatchdog {
 public:
  RunWatchdog(std::string what, std::chrono::seconds bound, int exitCode = 2);
  ~RunWatchdog();
  RunWatchdog(const RunWatchdog&) = delete;
  RunWatchdog& operator=(const RunWatchdog&) = delete;

 private:
  std::string what_;
  std::promise<void> done_;
  std::thread thread_;
};

}  // namespace testsupport
