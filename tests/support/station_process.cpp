// A station program as the test's child: posix_spawn and signals on Linux,
// CreateProcessW and its main window's WM_CLOSE on Windows.
#include "support/station_process.h"

#include <cwchar>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>  // last: its macros clash with the station's names
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace testsupport {

namespace {

// The test's environment with `overrides` put over the variables of the same name.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& inherited,
                                         const std::vector<std::string>& overrides) {
  std::vector<std::string> env = overrides;
  for (const std::string& variable : inherited) {
    const std::string name = variable.substr(0, variable.find('=') + 1);
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || o.rfind(name, 0) == 0;
    if (!replaced) env.push_back(variable);
  }
  return env;
}

}  // namespace

#ifdef _WIN32
namespace {

std::wstring Wide(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  out.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                                     static_cast<int>(text.size()), out.data(),
                                                     static_cast<int>(out.size()))));
  return out;
}

std::string Narrow(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  out.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                                     static_cast<int>(text.size()), out.data(),
                                                     static_cast<int>(out.size()), nullptr,
                                                     nullptr)));
  return out;
}

// The environment block CreateProcessW takes: each "NAME=value" ending in a NUL, then
// one more.
std::wstring EnvironmentBlock(const std::vector<std::string>& overrides) {
  std::vector<std::string> inherited;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* v = block; *v != L'\0'; v += std::wcslen(v) + 1)
      inherited.push_back(Narrow(v));
    FreeEnvironmentStringsW(block);
  }
  std::wstring out;
  for (const std::string& variable : EnvironmentWith(inherited, overrides))
    out += Wide(variable) + L'\0';
  return out + L'\0';
}

}  // namespace

struct StationProcess::Native {
  PROCESS_INFORMATION info{};
};

StationProcess::StationProcess(const std::filesystem::path& exe,
                               const std::vector<std::string>& args,
                               const std::string& outputPath, const std::vector<std::string>& env) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE out = CreateFileW(Wide(outputPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out;
  startup.hStdError = out;
  std::wstring line = L"\"" + exe.wstring() + L"\"";
  for (const std::string& a : args) line += L" \"" + Wide(a) + L"\"";
  std::wstring block = env.empty() ? std::wstring() : EnvironmentBlock(env);
  auto native = std::make_unique<Native>();
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                     env.empty() ? nullptr : block.data(), nullptr, &startup,
                     &native->info) != FALSE)
    native_ = std::move(native);
  CloseHandle(out);
}

StationProcess::~StationProcess() {
  if (!native_) return;
  if (!exit_) {
    AskToClose();
    if (ExitCode(std::chrono::seconds(10)) == -1) TerminateProcess(native_->info.hProcess, 99);
  }
  CloseHandle(native_->info.hThread);
  CloseHandle(native_->info.hProcess);
}

long StationProcess::Id() const {
  return native_ ? static_cast<long>(native_->info.dwProcessId) : -1;
}

std::optional<int> StationProcess::Ended() {
  DWORD code = 0;
  if (native_ && !exit_ && WaitForSingleObject(native_->info.hProcess, 0) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(native_->info.hProcess, &code))
    exit_ = static_cast<int>(code);
  return exit_;
}

// The close box of its main window: the visible top-level window of its own that no
// other window owns.
void StationProcess::AskToClose() {
  if (!native_) return;
  struct Search {
    DWORD id;
    HWND found;
  } search{native_->info.dwProcessId, nullptr};
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
  if (search.found) PostMessageW(search.found, WM_CLOSE, 0, 0);
}
#else
struct StationProcess::Native {
  pid_t pid = -1;
};

StationProcess::StationProcess(const std::filesystem::path& exe,
                               const std::vector<std::string>& args,
                               const std::string& outputPath, const std::vector<std::string>& env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> all{exe.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> inherited;
  for (char** e = environ; *e != nullptr; ++e) inherited.emplace_back(*e);
  std::vector<std::string> variables = EnvironmentWith(inherited, env);
  std::vector<char*> envp;
  for (auto& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    native_ = std::make_unique<Native>();
    native_->pid = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

StationProcess::~StationProcess() {
  if (!native_ || exit_) return;
  AskToClose();
  if (ExitCode(std::chrono::seconds(10)) != -1) return;
  kill(native_->pid, SIGKILL);
  waitpid(native_->pid, nullptr, 0);
}

long StationProcess::Id() const {
  return native_ ? native_->pid : -1;
}

std::optional<int> StationProcess::Ended() {
  int status = 0;
  if (native_ && !exit_ && waitpid(native_->pid, &status, WNOHANG) == native_->pid)
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exit_;
}

void StationProcess::AskToClose() {
  if (native_) kill(native_->pid, SIGTERM);
}
#endif

bool StationProcess::started() const {
  return native_ != nullptr;
}

int StationProcess::ExitCode(std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!Ended() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Ended().value_or(-1);
}

std::map<int, nlohmann::json> LastRecordPerChannel(const std::string& path) {
  std::map<int, nlohmann::json> last;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.contains("channel")) continue;
    const int channel = record["channel"].get<int>();  // before the record is moved
    last[channel] = std::move(record);
  }
  return last;
}

}  // namespace testsupport
