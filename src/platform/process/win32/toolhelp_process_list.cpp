// Every snapshot is a fresh Toolhelp32 walk. A filtered AskToClose checks the process
// against a fresh walk too, so a test never asks what it did not start. A process is
// the same user's when its token's user SID is this one's; a token that cannot be read
// (another user's process, as a rule) makes it another user's: it is left alone.
#include "platform/process/win32/toolhelp_process_list.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/text/win32/wide.h"

namespace platform::process {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The user SID in a process's token; empty when it cannot be read.
std::vector<unsigned char> UserSidOf(HANDLE process) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &raw)) return {};
  const Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(raw, TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(raw, TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  if (!IsValidSid(sid)) return {};
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return {bytes, bytes + GetLengthSid(sid)};
}

// The process's main window: a visible top-level window of its own that no other
// window owns (the station's dialog, not a box it has open over it).
HWND MainWindowOf(DWORD processId) {
  struct Search {
    DWORD id;
    HWND found;
  } search{processId, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->id || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr)
          return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

void ToolhelpProcessList::HandleCloser::operator()(void* handle) const noexcept {
  CloseHandle(handle);
}

ToolhelpProcessList::~ToolhelpProcessList() = default;

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

ProcessOutcome ToolhelpProcessList::AskToClose(ProcessId id) {
  // Never this process or the idle process (id 0).
  if (id <= 0 || id == OwnProcessId()) return ProcessOutcome::kRefused;
  if (filter_) {
    const auto walked = Walk();
    bool listed = false;
    for (const auto& l : walked.value_or(std::vector<Listed>{})) listed |= l.entry.id == id;
    if (!listed) return ProcessOutcome::kRefused;
  }
  auto known = asked_.find(id);
  if (known == asked_.end()) {
    HANDLE raw = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                             static_cast<DWORD>(id));
    if (raw == nullptr)
      return GetLastError() == ERROR_INVALID_PARAMETER ? ProcessOutcome::kGone
                                                       : ProcessOutcome::kRefused;
    Handle process(raw);
    if (WaitForSingleObject(raw, 0) == WAIT_OBJECT_0) return ProcessOutcome::kGone;
    const auto theirs = UserSidOf(raw);
    if (theirs.empty() || theirs != UserSidOf(GetCurrentProcess()))
      return ProcessOutcome::kOtherUser;
    known = asked_.emplace(id, std::unique_ptr<void, HandleCloser>(process.release())).first;
  }
  if (WaitForSingleObject(known->second.get(), 0) == WAIT_OBJECT_0) return ProcessOutcome::kGone;
  const HWND window = MainWindowOf(static_cast<DWORD>(id));
  if (window == nullptr) return ProcessOutcome::kNoWindow;
  return PostMessageW(window, WM_CLOSE, 0, 0) ? ProcessOutcome::kDone : ProcessOutcome::kRefused;
}

ProcessOutcome ToolhelpProcessList::WaitUntilGone(ProcessId id,
                                                  std::chrono::milliseconds patience) {
  HANDLE process = nullptr;
  Handle opened;
  if (const auto known = asked_.find(id); known != asked_.end()) {
    process = known->second.get();
  } else {
    opened.reset(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id)));
    if (!opened)
      return GetLastError() == ERROR_INVALID_PARAMETER ? ProcessOutcome::kGone
                                                       : ProcessOutcome::kRefused;
    process = opened.get();
  }
  const auto ms = static_cast<DWORD>(std::max<long long>(0, patience.count()));
  switch (WaitForSingleObject(process, ms)) {
    case WAIT_OBJECT_0: return ProcessOutcome::kGone;
    case WAIT_TIMEOUT: return ProcessOutcome::kStillRunning;
    default: return ProcessOutcome::kRefused;  // cannot be watched: not waited for
  }
}

}  // namespace platform::process
