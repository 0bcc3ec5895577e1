// A process list held in memory for tests: processes are added in the order the system
// would list them, each answers a close request its own way and takes its own time to
// go, and gone ones may linger in the list for a few snapshots, as a process does until
// the system has cleared it away.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/process/process_list.h"

namespace platform::process {

// How a listed process takes a close request.
struct FakeCloseBehaviour {
  // What AskToClose answers once the process has a window; kDone delivers it.
  ProcessOutcome answer = ProcessOutcome::kDone;
  // Requests answered kNoWindow first, as by a copy still starting.
  int windowlessAsks = 0;
  // Waits it is still running for once asked (a run being finished); 0: it goes at once.
  int runningWaits = 0;
};

class FakeProcessList final : public ProcessList {
 public:
  FakeProcessList(ProcessId own, std::string ownName);

  using Behaviour = FakeCloseBehaviour;
  // Appends a process to the end of the list.
  void Add(ProcessId id, std::string exeFile, Behaviour behaviour = {});
  bool Listed(ProcessId id) const;

  ProcessId OwnProcessId() override { return own_; }
  std::string OwnExecutableName() override { return ownName_; }
  std::optional<std::vector<ProcessEntry>> Snapshot() override;
  ProcessOutcome AskToClose(ProcessId id) override;
  ProcessOutcome WaitUntilGone(ProcessId id, std::chrono::milliseconds patience) override;

  bool failSnapshots = false;
  // Snapshots a gone process is still listed in, with its name.
  int lingerSnapshots = 0;
  int snapshotCount = 0;
  std::vector<ProcessId> asked;                  // the delivered close requests, in order
  std::vector<ProcessId> gone;                   // in the order they went
  std::vector<std::chrono::milliseconds> waits;  // each wait's patience, in order

 private:
  struct Process {
    ProcessEntry entry;
    Behaviour behaviour;
    bool asked = false;
    int lingerLeft = -1;  // -1 while it runs
  };
  Process* Running(ProcessId id);
  void Go(Process& p);

  ProcessId own_;
  std::string ownName_;
  std::vector<Process> processes_;
};

}  // namespace platform::process
