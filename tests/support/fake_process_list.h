// A process list held in memory for tests: processes are added in the order the
// system would list them, some refuse to be ended, and ended ones may linger in the
// list for a few snapshots, as a process does until the system has cleared it away.
#pragma once

#include <string>
#include <vector>

#include "platform/process/process_list.h"

namespace platform::process {

class FakeProcessList final : public ProcessList {
 public:
  FakeProcessList(ProcessId own, std::string ownName);

  // Appends a process to the end of the list.
  void Add(ProcessId id, std::string exeFile, bool endable = true);
  bool Listed(ProcessId id) const;

  ProcessId OwnProcessId() override { return own_; }
  std::string OwnExecutableName() override { return ownName_; }
  std::optional<std::vector<ProcessEntry>> Snapshot() override;
  bool Terminate(ProcessId id) override;

  bool failSnapshots = false;
  // Snapshots an ended process is still listed in, with its name.
  int lingerSnapshots = 0;
  int snapshotCount = 0;
  std::vector<ProcessId> ended;  // in the order they were ended

 private:
  struct Process {
    ProcessEntry entry;
    bool endable = true;
    int lingerLeft = -1;  // -1 while it runs
  };
  ProcessId own_;
  std::string ownName_;
  std::vector<Process> processes_;
};

}  // namespace platform::process
