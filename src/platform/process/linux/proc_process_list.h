// Processes on Linux, read from /proc: listed in the directory's own order (by id),
// named by the file their /proc/<id>/exe link points at, ended with SIGKILL.
#pragma once

#include <functional>
#include <string>

#include "platform/process/process_list.h"

namespace platform::process {

class ProcProcessList final : public ProcessList {
 public:
  // Decides which processes are listed and may be ended, from their id and their
  // parent's id. The station lists every process; a test narrows the list to the
  // children it started, so that nothing else can ever be ended by it.
  using Filter = std::function<bool(ProcessId id, ProcessId parent)>;
  explicit ProcProcessList(Filter filter = {});

  ProcessId OwnProcessId() override;
  std::string OwnExecutableName() override;
  std::optional<std::vector<ProcessEntry>> Snapshot() override;
  bool Terminate(ProcessId id) override;

 private:
  bool Admitted(ProcessId id) const;

  Filter filter_;
};

// The executable file name of process `id` ("self" for this one), as Snapshot gives it.
std::string ExecutableNameOf(const std::string& id);

}  // namespace platform::process
