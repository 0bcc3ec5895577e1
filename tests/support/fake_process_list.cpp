// The in-memory process list.
#include "support/fake_process_list.h"

#include <algorithm>

namespace platform::process {

FakeProcessList::FakeProcessList(ProcessId own, std::string ownName)
    : own_(own), ownName_(std::move(ownName)) {}

void FakeProcessList::Add(ProcessId id, std::string exeFile, bool endable) {
  processes_.push_back({{id, std::move(exeFile)}, endable, -1});
}

bool FakeProcessList::Listed(ProcessId id) const {
  return std::any_of(processes_.begin(), processes_.end(),
                     [id](const Process& p) { return p.entry.id == id; });
}

std::optional<std::vector<ProcessEntry>> FakeProcessList::Snapshot() {
  ++snapshotCount;
  if (failSnapshots) return std::nullopt;
  std::vector<ProcessEntry> list;
  for (Process& p : processes_) {
    list.push_back(p.entry);
    if (p.lingerLeft > 0) --p.lingerLeft;
  }
  std::erase_if(processes_, [](const Process& p) { return p.lingerLeft == 0; });
  return list;
}

bool FakeProcessList::Terminate(ProcessId id) {
  for (Process& p : processes_) {
    if (p.entry.id != id || p.lingerLeft >= 0) continue;
    if (!p.endable) return false;
    ended.push_back(id);
    p.lingerLeft = lingerSnapshots;
    std::erase_if(processes_, [](const Process& q) { return q.lingerLeft == 0; });
    return true;
  }
  return false;
}

}  // namespace platform::process
