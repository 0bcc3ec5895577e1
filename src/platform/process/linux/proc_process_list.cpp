// /proc is read afresh for every snapshot. A process whose executable file was replaced
// or removed since it started (the station reinstalled under a running copy) still
// bears the file's name: the kernel's " (deleted)" mark is taken off.
#include "platform/process/linux/proc_process_list.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <sstream>

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

// The parent's id from /proc/<id>/stat: the fourth field, after the name in brackets
// (which may itself hold spaces and brackets, hence the last ')').
ProcessId ParentOf(ProcessId id) {
  std::ifstream in("/proc/" + std::to_string(id) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return kNoProcess;
  std::istringstream fields(stat.substr(close + 1));
  std::string state;
  ProcessId parent = kNoProcess;
  fields >> state >> parent;
  return fields ? parent : kNoProcess;
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

bool ProcProcessList::Terminate(ProcessId id) {
  // Never this process, a group (0 or a negative id), or one the filter leaves out.
  if (id <= 0 || id == OwnProcessId() || !Admitted(id)) return false;
  return kill(static_cast<pid_t>(id), SIGKILL) == 0;
}

}  // namespace platform::process
