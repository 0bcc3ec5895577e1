// Test fixtures shared across folders: the fast clock that test rigs are built on and a
// per-test scratch folder under the build tree.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/time/clock.h"

namespace testsupport {

// Time runs this many times faster than real time in tests.
inline constexpr unsigned kTimeScale = 50;

// A clock kTimeScale times faster than real time, alive for the whole test process, so
// a thread left running by one test never waits on a clock that is gone.
platform::Clock& FastClock();

// <build>/test-output/<Suite>.<Case> of the running test (created), or
// <build>/test-output outside a test.
std::string TestOutputDir();

// A fresh, empty folder <name> in the running test's output folder.
std::string ScratchDir(const std::string& name);

// For what another thread (a worker, the window's thread, an operator) is due to do:
// polls `holds` every millisecond of real time; false when it still fails after `limit`.
bool PollUntil(const std::function<bool()>& holds,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace testsupport
