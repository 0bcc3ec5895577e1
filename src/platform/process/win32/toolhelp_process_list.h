// Processes on Windows, from Toolhelp32 snapshots: listed in the system's own order,
// named by their executable's file name with its extension ("ostrevane.exe"), asked to
// close with WM_CLOSE to their main window and waited for on their process handle.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/process/process_list.h"

namespace platform::process {

class ToolhelpProcessList final : public ProcessList {
 public:
  // Decides which processes are listed and may be asked to close, from their id and
  // their parent's id: a test narrows the list to its own children, as on Linux.
  using Filter = std::function<bool(ProcessId id, ProcessId parent)>;
  explicit ToolhelpProcessList(Filter filter = {});
  ~ToolhelpProcessList() override;

  ProcessId OwnProcessId() override;
  std::string OwnExecutableName() override;
  std::string ExecutableExtension() override { return ".exe"; }
  std::optional<std::vector<ProcessEntry>> Snapshot() override;
  ProcessOutcome AskToClose(ProcessId id) override;
  ProcessOutcome WaitUntilGone(ProcessId id, std::chrono::milliseconds patience) override;

 private:
  struct Listed {
    ProcessEntry entry;
    ProcessId parent = kNoProcess;
  };
  std::optional<std::vector<Listed>> Walk();

  Filter filter_;
  // The handle of each process asked, held until the list goes: while it is open the
  // system gives its id to no other process, so the wait is always for that one.
  struct HandleCloser {
    void operator()(void* handle) const noexcept;
  };
  std::map<ProcessId, std::unique_ptr<void, HandleCloser>> asked_;
};

}  // namespace platform::process
