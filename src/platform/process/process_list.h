// The process-list service: the running processes in the system's own order, each
// with its executable's file name, asking one to close and waiting for it to be gone.
// The single-copy rule uses it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace platform::process {

// A process id; kNoProcess stands for none.
using ProcessId = int;
inline constexpr ProcessId kNoProcess = -1;

struct ProcessEntry {
  ProcessId id = kNoProcess;
  // The executable's file name without its folder ("ostrevane"); empty when it cannot be
  // read (another user's process, a kernel thread, a process that has just ended).
  std::string exeFile;
};

// What became of a request about another process; every backend answers with these.
enum class ProcessOutcome {
  kDone,          // the close request was delivered
  kGone,          // there is no such process (any more)
  kStillRunning,  // it still runs once the patience has run out
  kOtherUser,     // another user's process: never asked anything
  kNoWindow,      // it has no main window to ask (yet: it may still be starting)
  kRefused,       // the system, or the list's own filter, does not let it be asked
};

class ProcessList {
 public:
  virtual ~ProcessList() = default;
  virtual ProcessId OwnProcessId() = 0;
  // The file name of this process's own executable; empty when it cannot be read.
  virtual std::string OwnExecutableName() = 0;
  // What an executable's file name adds to the program's name where programs carry an
  // extension (".exe" on Windows); empty where they do not.
  virtual std::string ExecutableExtension() { return {}; }
  // A fresh list in the system's order; nullopt when the list cannot be read.
  [[nodiscard]] virtual std::optional<std::vector<ProcessEntry>> Snapshot() = 0;
  // Asks the process to close the way its own close box does (SIGTERM on Linux, WM_CLOSE
  // to its main window on Windows), only when it runs as this process's user; its own
  // clean-up runs, and a run in progress is finished first. Never this process. Does
  // not wait: kDone says only that the request was delivered.
  [[nodiscard]] virtual ProcessOutcome AskToClose(ProcessId id) = 0;
  // Waits up to `patience` for the process to end: kGone once it has, kStillRunning when
  // it has not. A process that has ended but is not yet reaped by its parent is gone.
  [[nodiscard]] virtual ProcessOutcome WaitUntilGone(ProcessId id,
                                                     std::chrono::milliseconds patience) = 0;
};

}  // namespace platform::process
