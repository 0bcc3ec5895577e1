// Every request looks again from the top of a fresh list. A copy already asked, or one
// that cannot be asked, is passed over by the later ones: otherwise a copy that is still
// closing, or one of another user's, would be picked every time and shield the copies
// listed after it. This process is never passed over, so once it is the first bearer of
// the name the requests end: no copy after it is touched. All are asked before any is
// waited for, so that copies finishing runs finish them side by side.
#include "console/single_copy.h"

#include <vector>

namespace console {

using platform::process::kNoProcess;
using platform::process::ProcessId;
using platform::process::ProcessOutcome;

ProcessId FindProcessIdByName(platform::process::ProcessList& processes, const std::string& name,
                              const std::set<ProcessId>& passedOver) {
  if (name.empty()) return kNoProcess;
  const auto list = processes.Snapshot();
  if (!list) return kNoProcess;
  for (const auto& entry : *list)
    if (entry.exeFile == name && !passedOver.contains(entry.id)) return entry.id;
  return kNoProcess;
}

std::string WaitingForCopyLine(ProcessId id) {
  return "the copy already running (process " + std::to_string(id) +
         ") is finishing its run; this copy opens once it has closed";
}

namespace {

struct Asked {
  ProcessId id = kNoProcess;
  bool delivered = false;  // false: it had no window to ask yet
};

// Until `copy` is gone; false when `wait.stopped` came first.
bool WaitForCopy(platform::process::ProcessList& processes, Asked copy, const CopyWait& wait) {
  bool told = false;
  for (;;) {
    if (wait.stopped && wait.stopped()) return false;
    if (!copy.delivered) {
      // A copy still starting (or itself waiting for an older one) has no window yet.
      const ProcessOutcome again = processes.AskToClose(copy.id);
      if (again == ProcessOutcome::kDone)
        copy.delivered = true;
      else if (again != ProcessOutcome::kNoWindow)
        return true;  // gone, or no longer ours to ask: nothing to wait for
    }
    const ProcessOutcome waited = processes.WaitUntilGone(copy.id, told ? wait.slice : wait.quiet);
    if (waited != ProcessOutcome::kStillRunning) return true;
    if (!told && wait.say) wait.say(WaitingForCopyLine(copy.id));
    told = true;
  }
}

}  // namespace

OtherCopies CloseOtherInstances(platform::process::ProcessList& processes, const std::string& name,
                                const CopyWait& wait) {
  const ProcessId own = processes.OwnProcessId();
  const auto first = processes.Snapshot();
  if (!first) return OtherCopies::kNoList;
  std::set<ProcessId> tried;
  std::vector<Asked> asked;
  for (size_t attempt = 0; attempt < first->size(); ++attempt) {
    const ProcessId id = FindProcessIdByName(processes, name, tried);
    // From here every attempt would pick the same again: stop, rather than read the
    // whole list once more for each process on the machine (seconds on a busy one).
    if (id == kNoProcess || id == own) break;
    tried.insert(id);
    const ProcessOutcome outcome = processes.AskToClose(id);
    // Another user's copy, one already gone or one the system will not let us ask is
    // not waited for: start-up goes on regardless.
    if (outcome == ProcessOutcome::kDone || outcome == ProcessOutcome::kNoWindow)
      asked.push_back({id, outcome == ProcessOutcome::kDone});
  }
  for (const Asked& copy : asked)
    if (!WaitForCopy(processes, copy, wait)) return OtherCopies::kStopped;
  return OtherCopies::kGone;
}

}  // namespace console
