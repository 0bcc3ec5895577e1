// One of the station's programs run as a child of the test, as an operator or a line
// script runs it: its standard output and error in a file, closed as its close box would.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace testsupport {

class StationProcess {
 public:
  // Starts `exe` with `args`; its standard output and error go to `outputPath` (created
  // anew), its environment is the test's with `env` ("NAME=value") put over it.
  StationProcess(const std::filesystem::path& exe, const std::vector<std::string>& args,
                 const std::string& outputPath, const std::vector<std::string>& env = {});
  // A child still running is asked to close, and ended if it has not within 10 s.
  ~StationProcess();
  StationProcess(const StationProcess&) = delete;
  StationProcess& operator=(const StationProcess&) = delete;

  bool started() const;
  long Id() const;
  // Its exit code once it has ended (128 + the signal when a signal ended it on Linux);
  // nullopt while it runs.
  std::optional<int> Ended();
  // Its exit code once it has ended within `limit`; -1 when it still runs. A separate
  // process has no clock of the test's to wait on: this polls real time.
  int ExitCode(std::chrono::seconds limit);
  // As a stop signal or the close box would: SIGTERM, or WM_CLOSE to its main window.
  void AskToClose();

 private:
  struct Native;
  std::unique_ptr<Native> native_;  // the platform's process handles
  std::optional<int> exit_;
};

// Each channel's last record in a records file (a reader's rule: the last line per
// channel); lines that are not records, such as one still being written, are skipped.
std::map<int, nlohmann::json> LastRecordPerChannel(const std::string& path);

}  // namespace testsupport
