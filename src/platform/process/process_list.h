// The process-list service: the running processes in the system's own order, each
// with its executable's file name, and ending one at once. The single-copy rule uses it.
#pragma once

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
  // Ends the process at once: nothing of its own clean-up runs. Does not wait for it to
  // be gone. False when it cannot be ended (no such process, not ours to end).
  [[nodiscard]] virtual bool Terminate(ProcessId id) = 0;
};

}  // namespace platform::process
