// The fast clock and scratch folders for tests.
#include "support/test_env.h"

#include <filesystem>

namespace testsupport {

platform::Clock& FastClock() {
  static platform::ScaledClock clock(kTimeScale);
  return clock;
}

std::string ScratchDir(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::current_path() / "test-output" / name;
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  return dir.string();
}

}  // namespace testsupport
