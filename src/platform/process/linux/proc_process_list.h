// Processes on Linux, read from /proc: listed in the directory's own order (by id),
// named by the file their /proc/<id>/exe link points at, asked to close with SIGTERM.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/process/process_list.h"

namespace platform::process {

class ProcProcessList final : public ProcessList {
 public:
  // Decides which processes are listed and may be asked to close, from their id and
  // their parent's id. The station lists every process; a test narrows the list to the
  // children it started, so that nothing else can ever be asked by it.
  using Filter = std::function<bool(ProcessId id, ProcessId parent)>;
  explicit ProcProcessList(Filter filter = {});

  ProcessId OwnProcessId() override;
  std::string OwnExecutableName() override;
  std::optional<std::vector<ProcessEntry>> Snapshot() override;
  ProcessOutcome AskToClose(ProcessId id) override;
  ProcessOutcome WaitUntilGone(ProcessId id, std::chrono::milliseconds patience) override;

 private:
  bool Admitted(ProcessId id) const;

  Filter filter_;
  std::map<ProcessId, std::string> asked_;  // each asked process's start time
};

// The executable file name of process `id` ("self" for this one), as Snapshot gives it.
std::string ExecutableNameOf(const std::string& id);

}  // namespace platform::process
