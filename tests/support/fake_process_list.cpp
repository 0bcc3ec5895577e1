// The in-memory process list.
#include "support/fake_process_list.h"

#include <algorithm>

namespace platform::process {

FakeProcessList::FakeProcessList(ProcessId own, std::string ownName)
    : own_(own), ownName_(std::move(ownName)) {}

void FakeProcessList::Add(ProcessId id, std::string exeFile, Behaviour behaviour) {
  processes_.push_back({{id, std::move(exeFile)}, behaviour});
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

FakeProcessList::Process* FakeProcessList::Running(ProcessId id) {
  for (Process& p : processes_)
    if (p.entry.id == id && p.lingerLeft < 0) return &p;
  return nullptr;
}

void FakeProcessList::Go(Process& p) {
  gone.push_back(p.entry.id);
  p.lingerLeft = lingerSnapshots;
  std::erase_if(processes_, [](const Process& q) { return q.lingerLeft == 0; });
}

ProcessOutcome FakeProcessList::AskToClose(ProcessId id) {
  Process* p = Running(id);
  if (p == nullptr) return ProcessOutcome::kGone;
  if (p->behaviour.answer != ProcessOutcome::kDone) return p->behaviour.answer;
  if (p->behaviour.windowlessAsks > 0) {
    --p->behaviour.windowlessAsks;
    return ProcessOutcome::kNoWindow;
  }
  asked.push_back(id);
  p->asked = true;
  if (p->behaviour.runningWaits == 0) Go(*p);
  return ProcessOutcome::kDone;
}

ProcessOutcome FakeProcessList::WaitUntilGone(ProcessId id, std::chrono::milliseconds patience) {
  waits.push_back(patience);
  Process* p = Running(id);
  if (p == nullptr) return ProcessOutcome::kGone;
  // Never asked, it never goes; asked, it finishes its run over its waits.
  if (!p->asked || p->behaviour.runningWaits-- > 0) return ProcessOutcome::kStillRunning;
  Go(*p);
  return ProcessOutcome::kGone;
}

}  // namespace platform::process
