// A second copy of the real window program started while the first is in a run: the
// first finishes the run and closes, and only then does the second open. Both run as a
// copy named after the test, so that no other station on the machine is ever asked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "smdtool/image_builder.h"
#include "support/test_env.h"

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

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

// Generous: a machine shared with other builds, a Wine start taking seconds.
constexpr auto kDeadline = std::chrono::seconds(120);

// The product samples, built small.
struct Images {
  std::string os;
  std::string csc;
};
Images BuildSampleImages(const std::string& dir) {
  const auto sample = [](const std::string& name) {
    std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
    return json::parse(in);
  };
  Images built{dir + "/os.kx4", dir + "/csc.csc"};
  EXPECT_FALSE(
      smdtool::BuildImage(sample("product_os.json"), SAMPLES_DIR, built.os, {{"size_mb", "1"}}));
  EXPECT_FALSE(smdtool::BuildImage(sample("product_csc.json"), SAMPLES_DIR, built.csc));
  return built;
}

// Each channel's last record; "running" until it has ended.
std::map<int, json> LastRecords(const std::string& path) {
  std::map<int, json> last;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    json record = json::parse(line, nullptr, false);
    // A line still being written does not parse yet.
    if (record.is_discarded() || !record.contains("channel")) continue;
    const int channel = record["channel"].get<int>();  // before the record is moved
    last[channel] = std::move(record);
  }
  return last;
}

size_t Ended(const std::map<int, json>& records) {
  size_t ended = 0;
  for (const auto& [channel, record] : records) ended += record.value("result", "") != "running";
  return ended;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The window program as a child of the test, its standard error in a file; asked to
// close at the latest with the test, and ended if it will not.
class Station {
 public:
  Station(const fs::path& exe, const std::vector<std::string>& args, const std::string& stderrPath);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  bool started() const;
  long Id() const;
  // Its exit code once it has ended; nullopt while it runs.
  std::optional<int> Ended();
  // Its exit code once it has ended within `limit`; -1 when it still runs.
  int ExitCode(std::chrono::seconds limit);
  // As a stop signal or the close box would (SIGTERM, WM_CLOSE).
  void AskToClose();

 private:
#ifdef _WIN32
  PROCESS_INFORMATION info_{};
  bool started_ = false;
#else
  pid_t pid_ = -1;
#endif
  std::optional<int> exit_;
};

#ifdef _WIN32
std::wstring Wide(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  out.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                                     static_cast<int>(text.size()), out.data(),
                                                     static_cast<int>(out.size()))));
  return out;
}

Station::Station(const fs::path& exe, const std::vector<std::string>& args,
                 const std::string& stderrPath) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE err = CreateFileW(Wide(stderrPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (err == INVALID_HANDLE_VALUE) return;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = err;
  startup.hStdError = err;
  std::wstring line = L"\"" + exe.wstring() + L"\"";
  for (const std::string& a : args) line += L" \"" + Wide(a) + L"\"";
  started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &info_) != FALSE;
  CloseHandle(err);
}

Station::~Station() {
  if (!started_) return;
  if (!exit_) {
    AskToClose();
    if (ExitCode(std::chrono::seconds(10)) == -1) TerminateProcess(info_.hProcess, 99);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool Station::started() const {
  return started_;
}
long Station::Id() const {
  return static_cast<long>(info_.dwProcessId);
}

std::optional<int> Station::Ended() {
  DWORD code = 0;
  if (!exit_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(info_.hProcess, &code))
    exit_ = static_cast<int>(code);
  return exit_;
}

// The close box of its main window: the visible top-level window of its own that no
// other window owns.
void Station::AskToClose() {
  struct Search {
    DWORD id;
    HWND found;
  } search{info_.dwProcessId, nullptr};
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
Station::Station(const fs::path& exe, const std::vector<std::string>& args,
                 const std::string& stderrPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> all{exe.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

Station::~Station() {
  if (pid_ <= 0 || exit_) return;
  AskToClose();
  if (ExitCode(std::chrono::seconds(10)) != -1) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

bool Station::started() const {
  return pid_ > 0;
}
long Station::Id() const {
  return pid_;
}

std::optional<int> Station::Ended() {
  int status = 0;
  if (!exit_ && waitpid(pid_, &status, WNOHANG) == pid_)
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return exit_;
}

void Station::AskToClose() {
  kill(pid_, SIGTERM);
}
#endif

int Station::ExitCode(std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!Ended() && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return Ended().value_or(-1);
}

bool WaitFor(const std::function<bool()>& ready) {
  const auto end = Clock::now() + kDeadline;
  while (!ready()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(SecondCopy, TheRunningStationFinishesItsRunAndTheSecondCopyThenOpens) {
  const std::string dir = testsupport::ScratchDir("copies");
  const Images images = BuildSampleImages(dir);
  // A copy of the program under a name of this test's own.
  const fs::path exe =
      fs::path(dir) / ("ostrevane-second-copy" + fs::path(STATION_EXE).extension().string());
  fs::copy_file(STATION_EXE, exe, fs::copy_options::overwrite_existing);
  // Slow links: the run lasts some seconds, long enough to start a second copy in it.
  const std::string config = dir + "/handsets.json";
  {
    std::ofstream out(config, std::ios::binary);
    out << "[";
    for (int i = 0; i < 4; ++i)
      out << (i ? ", " : "") << R"({"faults": {"linkBytesPerSecond": 1000000}})";
    out << "]";
  }
  const std::string firstResults = dir + "/first.jsonl";
  const std::string secondResults = dir + "/second.jsonl";

  Station first(
      exe,
      {"--handset-config", config, "--results", firstResults, "AUTO_DLOAD", images.os, images.csc},
      dir + "/first.err");
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(WaitFor([&] { return LastRecords(firstResults).size() == 4 || first.Ended(); }))
      << ReadAll(dir + "/first.err");
  ASSERT_EQ(Ended(LastRecords(firstResults)), 0u) << "the run ended before the second copy came";

  Station second(
      exe,
      {"--handset-config", config, "--results", secondResults, "AUTO_DLOAD", images.os, images.csc},
      dir + "/second.err");
  ASSERT_TRUE(second.started());
  // The second copy starts no run of its own while the first still runs (until it has
  // ended, the first is not even a zombie).
  bool openedEarly = false;
  ASSERT_TRUE(WaitFor([&] {
    const bool secondRecorded = !LastRecords(secondResults).empty();
    const bool firstEnded = first.Ended().has_value();
    openedEarly |= secondRecorded && !firstEnded;
    return firstEnded;
  })) << ReadAll(dir + "/first.err");
  EXPECT_FALSE(openedEarly);
  EXPECT_EQ(first.ExitCode(std::chrono::seconds(0)), 0) << ReadAll(dir + "/first.err");

  const auto records = LastRecords(firstResults);
  ASSERT_EQ(records.size(), 4u);
  for (const auto& [channel, record] : records)
    EXPECT_EQ(record["result"], "done") << record.dump();
  EXPECT_NE(ReadAll(dir + "/second.err").find("process " + std::to_string(first.Id()) + ")"),
            std::string::npos)
      << ReadAll(dir + "/second.err");

  // Then the second copy opens and runs.
  ASSERT_TRUE(WaitFor([&] { return Ended(LastRecords(secondResults)) == 4 || second.Ended(); }))
      << ReadAll(dir + "/second.err");
  // Closed as the operator would; its window may still be coming up.
  int secondExit = -1;
  ASSERT_TRUE(WaitFor([&] {
    second.AskToClose();
    secondExit = second.ExitCode(std::chrono::seconds(1));
    return secondExit != -1;
  }));
  EXPECT_EQ(secondExit, 0);
  for (const auto& [channel, record] : LastRecords(secondResults))
    EXPECT_EQ(record["result"], "done") << record.dump();
}

}  // namespace
