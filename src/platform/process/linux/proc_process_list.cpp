// /proc is read afresh for every snapshot. A process whose executable file was replaced
// or removed since it started (the station reinstalled under a running copy) still
// bears the file's name: the kernel's " (deleted)" mark is taken off. A process asked to
// close is known by its start time as well as its id, so that a new process given the
// same id once it is gone is never waited for.
#include "platform/process/linux/proc_process_list.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace platform::process {

namespace {

// A /proc entry that names a process: digits only.
bool ParseId(const char* name, ProcessId* id) {
  if (*name == '\0') return false;
  long value = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 0x7fffffff) return false;
  }
  *id = static_cast<ProcessId>(value);
  return true;
}

// The fields of /proc/<id>/stat after the name in brackets (which may itself hold spaces
// and brackets, hence the last ')'): the state first, the fourth field, then the parent.
// Empty when the process is gone.
std::vector<std::string> StatFields(ProcessId id) {
  std::ifstream in("/proc/" + std::to_string(id) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream text(stat.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string field; text >> field;) fields.push_back(field);
  return fields;
}

ProcessId ParentOf(ProcessId id) {
  const auto fields = StatFields(id);
  if (fields.size() < 2) return kNoProcess;
  char* end = nullptr;
  const long parent = std::strtol(fields[1].c_str(), &end, 10);
  return *end == '\0' ? static_cast<ProcessId>(parent) : kNoProcess;
}

// The start time (the 22nd field) of a process that still runs; empty when it has ended,
// a zombie waiting for its parent included.
std::string RunningSince(ProcessId id) {
  const auto fields = StatFields(id);
  constexpr size_t kStartTime = 22 - 3;
  if (fields.size() <= kStartTime || fields[0] == "Z" || fields[0] == "X") return {};
  return fields[kStartTime];
}

}  // namespace

std::string ExecutableNameOf(const std::string& id) {
  const std::string link = "/proc/" + id + "/exe";
  std::string target(4096, '\0');
  const ssize_t n = readlink(link.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) return {};
  target.resize(static_cast<size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.size() > kDeleted.size() && target.ends_with(kDeleted))
    target.resize(target.size() - kDeleted.size());
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

ProcProcessList::ProcProcessList(Filter filter) : filter_(std::move(filter)) {}

ProcessId ProcProcessList::OwnProcessId() {
  return static_cast<ProcessId>(getpid());
}

std::string ProcProcessList::OwnExecutableName() {
  return ExecutableNameOf("self");
}

bool ProcProcessList::Admitted(ProcessId id) const {
  return !filter_ || filter_(id, ParentOf(id));
}

std::optional<std::vector<ProcessEntry>> ProcProcessList::Snapshot() {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), closedir);
  if (!dir) return std::nullopt;
  std::vector<ProcessEntry> list;
  while (const dirent* entry = readdir(dir.get())) {
    ProcessId id = kNoProcess;
    if (!ParseId(entry->d_name, &id) || !Admitted(id)) continue;
    list.push_back({id, ExecutableNameOf(entry->d_name)});
  }
  return list;
}

ProcessOutcome ProcProcessList::AskToClose(ProcessId id) {
  // Never this process, a group (0 or a negative id), or one the filter leaves out.
  if (id <= 0 || id == OwnProcessId() || !Admitted(id)) return ProcessOutcome::kRefused;
  const std::string since = RunningSince(id);
  if (since.empty()) return ProcessOutcome::kGone;
  // The owner of /proc/<id> is the user the process runs as. Checked here, not left to
  // kill(): root may signal anyone's process, and a line PC's station may run as root.
  struct stat info {};
  if (stat(("/proc/" + std::to_string(id)).c_str(), &info) != 0) return ProcessOutcome::kGone;
  if (info.st_uid != geteuid()) return ProcessOutcome::kOtherUser;
  if (kill(static_cast<pid_t>(id), SIGTERM) != 0)
    return errno == ESRCH ? ProcessOutcome::kGone : ProcessOutcome::kRefused;
  asked_[id] = since;
  return ProcessOutcome::kDone;
}

ProcessOutcome ProcProcessList::WaitUntilGone(ProcessId id, std::chrono::milliseconds patience) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + patience;
  const auto known = asked_.find(id);
  for (;;) {
    const std::string since = RunningSince(id);
    if (since.empty() || (known != asked_.end() && since != known->second))
      return ProcessOutcome::kGone;
    const auto now = Clock::now();
    if (now >= deadline) return ProcessOutcome::kStillRunning;
    // /proc has no wake-up for a process that is not our child; a short poll is cheap.
    std::this_thread::sleep_for(
        std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(20)));
  }
}

}  // namespace platform::process
