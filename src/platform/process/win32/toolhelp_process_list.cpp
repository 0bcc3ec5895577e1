// Every snapshot is a fresh Toolhelp32 walk. A filtered Terminate checks the process
// against a fresh walk too, so a test never ends what it did not start.
#include "platform/process/win32/toolhelp_process_list.h"

#include <windows.h>
#include <tlhelp32.h>

#include <memory>

#include "platform/text/win32/wide.h"

namespace platform::process {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

}  // namespace

ToolhelpProcessList::ToolhelpProcessList(Filter filter) : filter_(std::move(filter)) {}

ProcessId ToolhelpProcessList::OwnProcessId() {
  return static_cast<ProcessId>(GetCurrentProcessId());
}

std::string ToolhelpProcessList::OwnExecutableName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);  // truncated: a long path
  }
  const size_t slash = path.find_last_of(L"\\/");
  return Narrow(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::optional<std::vector<ToolhelpProcessList::Listed>> ToolhelpProcessList::Walk() {
  const HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE) return std::nullopt;
  const Handle snapshot(raw);
  std::vector<Listed> list;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(raw, &entry); more; more = Process32NextW(raw, &entry)) {
    const auto id = static_cast<ProcessId>(entry.th32ProcessID);
    const auto parent = static_cast<ProcessId>(entry.th32ParentProcessID);
    if (filter_ && !filter_(id, parent)) continue;
    list.push_back({{id, Narrow(entry.szExeFile)}, parent});
  }
  return list;
}

std::optional<std::vector<ProcessEntry>> ToolhelpProcessList::Snapshot() {
  auto walked = Walk();
  if (!walked) return std::nullopt;
  std::vector<ProcessEntry> list;
  for (auto& l : *walked) list.push_back(std::move(l.entry));
  return list;
}

bool ToolhelpProcessList::Terminate(ProcessId id) {
  // Never this process or the idle process (id 0).
  if (id <= 0 || id == OwnProcessId()) return false;
  if (filter_) {
    const auto walked = Walk();
    bool listed = false;
    for (const auto& l : walked.value_or(std::vector<Listed>{})) listed |= l.entry.id == id;
    if (!listed) return false;
  }
  const Handle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, static_cast<DWORD>(id)));
  return process && TerminateProcess(process.get(), 0) != FALSE;
}

}  // namespace platform::process
