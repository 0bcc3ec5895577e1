// The platform's thread service: a worker asked to run at the highest priority gets
// what the process is allowed (real time, else the lowest nice value), and a priority
// that cannot be had never stops the thread from running.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/thread/posix/posix_thread_service.h"

namespace {

using platform::CurrentThreadPriority;
using platform::GrantedPriority;
using platform::PosixThreadService;
using platform::ThreadPriority;

GrantedPriority RunAndReport(ThreadPriority priority) {
  GrantedPriority granted;
  bool ran = false;
  PosixThreadService service;
  std::thread t = service.Start(priority, [&] {
    ran = true;
    granted = CurrentThreadPriority();
  });
  t.join();
  EXPECT_TRUE(ran);
  return granted;
}

TEST(PosixThreadServiceTest, NormalKeepsTheStartersPriorityAndHighestNeverLowersIt) {
  const GrantedPriority own = CurrentThreadPriority();
  const GrantedPriority normal = RunAndReport(ThreadPriority::Normal);
  EXPECT_EQ(normal.realTime, own.realTime);
  EXPECT_EQ(normal.level, own.level);

  const GrantedPriority highest = RunAndReport(ThreadPriority::Highest);
  if (!highest.realTime) {
    EXPECT_LE(highest.level, own.level);
  }
  // The starter itself is not raised along with its worker.
  EXPECT_EQ(CurrentThreadPriority().realTime, own.realTime);
  EXPECT_EQ(CurrentThreadPriority().level, own.level);
}

// In a child process that gives up root and keeps only the given limits, so the
// limits alone decide what "highest" can be.
void ReportHighestUnder(rlim_t rtprio, rlim_t nice) {
  rlimit rt{rtprio, rtprio};
  rlimit ni{nice, nice};
  if (setrlimit(RLIMIT_RTPRIO, &rt) != 0 || setrlimit(RLIMIT_NICE, &ni) != 0) std::_Exit(3);
  if (setgid(65534) != 0 || setuid(65534) != 0) std::_Exit(4);
  const GrantedPriority g = RunAndReport(ThreadPriority::Highest);
  std::fprintf(stderr, "granted %s %d\n", g.realTime ? "rt" : "nice", g.level);
  std::_Exit(0);
}

// Raising a hard limit takes CAP_SYS_RESOURCE, which a container may not grant.
bool CanSetLimit(int resource, rlim_t value) {
  rlimit current{};
  if (getrlimit(resource, &current) == 0 && current.rlim_max >= value) return true;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("CapEff:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> 24 & 1) != 0;
  return false;
}

TEST(PosixThreadServiceTest, HighestFollowsTheProcessLimitsWithoutPrivilege) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privilege";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  if (CurrentThreadPriority().realTime || CurrentThreadPriority().level != 0)
    GTEST_SKIP() << "the test process must start at normal priority";
  // Nothing to be had: the thread still runs, as it was.
  EXPECT_EXIT(ReportHighestUnder(0, 0), testing::ExitedWithCode(0), "granted nice 0\n");
  // RLIMIT_RTPRIO is the ceiling of the real-time priority an ordinary user may take.
  if (CanSetLimit(RLIMIT_RTPRIO, 10)) {
    EXPECT_EXIT(ReportHighestUnder(10, 0), testing::ExitedWithCode(0), "granted rt 10\n");
  }
  // No real time: RLIMIT_NICE 30 allows nice values down to 20 - 30.
  if (CanSetLimit(RLIMIT_NICE, 30)) {
    EXPECT_EXIT(ReportHighestUnder(0, 30), testing::ExitedWithCode(0), "granted nice -10\n");
  }
}

}  // namespace
