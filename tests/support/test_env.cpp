// The fast clock and scratch folders for tests.
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace testsupport {

platform::Clock& FastClock() {
  static platform::ScaledClock clock(kTimeScale);
  return clock;
}

std::string TestOutputDir() {
  namespace fs = std::filesystem;
  fs::path dir = fs::current_path() / "test-output";
  // CTest runs every case in a process of its own, several at once: a folder per case
  // keeps one case from removing or rewriting the files another is reading.
  if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info())
    dir /= std::string(test->test_suite_name()) + "." + test->name();
  fs::create_directories(dir);
  return dir.string();
}

std::string ScratchDir(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(TestOutputDir()) / name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  if (ec && fs::exists(dir)) {
    // The runtime's removal stops at paths past 260 characters (Windows): the old tree
    // moves aside, so that the folder handed out is still empty.
    for (int n = 1;; ++n) {
      const fs::path aside = dir.string() + ".stale" + std::to_string(n);
      if (!fs::exists(aside)) {
        fs::rename(dir, aside);
        break;
      }
    }
  }
  fs::create_directories(dir);
  return dir.string();
}

bool PollUntil(const std::function<bool()>& holds, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!holds()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testsupport
