// Processes on Windows, from Toolhelp32 snapshots: listed in the system's own order,
// named by their executable's file name with its extension ("ostrevane.exe"), ended
// with TerminateProcess and exit code 0.
#pragma once

#include <functional>
#include <string>

#include "platform/process/process_list.h"

namespace platform::process {

class ToolhelpProcessList final : public ProcessList {
 public:
  // Decides which processes are listed and may be ended, from their id and their
  // parent's id: a test narrows the list to its own children, as on Linux.
  using Filter = std::function<bool(ProcessId id, ProcessId parent)>;
  explicit ToolhelpProcessList(Filter filter = {});

  ProcessId OwnProcessId() override;
  std::string OwnExecutableName() override;
  std::string ExecutableExtension() override { return ".exe"; }
  std::optional<std::vector<ProcessEntry>> Snapshot() override;
  bool Terminate(ProcessId id) override;

 private:
  struct Listed {
    ProcessEntry entry;
    ProcessId parent = kNoProcess;
  };
  std::optional<std::vector<Listed>> Walk();

  Filter filter_;
};

}  // namespace platform::process
