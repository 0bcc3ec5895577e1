// The fast clock and scratch folders for tests.
#include "support/test_env.h"

#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/time/clock.h"

namespace testsupport {

void UseFastClock() {
  static std::once_flag once;
  std::call_once(
      once, [] { platform::SetDefaultClock(std::make_shared<platform::ScaledClock>(kTimeScale)); });
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
