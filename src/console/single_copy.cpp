// Every attempt looks again from the top of a fresh list. A copy already ended or found
// unendable is passed over by the later attempts: otherwise a copy that is still being
// cleared away, or one of another user's, would be picked every time and shield the
// copies listed after it. This process is never passed over, so once it is the first
// bearer of the name the attempts end: no copy after it is touched.
#include "console/single_copy.h"

namespace console {

using platform::process::kNoProcess;
using platform::process::ProcessId;

ProcessId FindProcessIdByName(platform::process::ProcessList& processes, const std::string& name,
                              const std::set<ProcessId>& passedOver) {
  if (name.empty()) return kNoProcess;
  const auto list = processes.Snapshot();
  if (!list) return kNoProcess;
  for (const auto& entry : *list)
    if (entry.exeFile == name && !passedOver.contains(entry.id)) return entry.id;
  return kNoProcess;
}

bool KillOtherInstances(platform::process::ProcessList& processes, std::string name) {
  const ProcessId own = processes.OwnProcessId();
  const auto first = processes.Snapshot();
  if (!first) return false;
  std::set<ProcessId> tried;
  for (size_t attempt = 0; attempt < first->size(); ++attempt) {
    const ProcessId id = FindProcessIdByName(processes, name, tried);
    // From here every attempt would pick the same again: stop, rather than read the
    // whole list once more for each process on the machine (seconds on a busy one).
    if (id == kNoProcess || id == own) break;
    tried.insert(id);
    // A process that cannot be ended keeps running; start-up goes on regardless.
    (void)processes.Terminate(id);
  }
  return true;
}

}  // namespace console
