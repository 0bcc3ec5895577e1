// The single-copy rule with real processes: copies of a small stand-in station under
// chosen names in a temporary folder, started by this test. The starting copy sees only
// this test's children, so no other process on the machine can be asked to close.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/linux/proc_process_list.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

class SingleCopyProcessTest : public ::testing::Test {
 protected:
  SingleCopyProcessTest() {
    std::string pattern = (fs::temp_directory_path() / "ostrevane-copies-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
  }
  ~SingleCopyProcessTest() override {
    // Only this test's own children, each reaped.
    for (pid_t pid : children_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  fs::path Copy(const std::string& relative, const fs::path& from = OSTREVANE_SINGLE_COPY_PROBE) {
    const fs::path to = dir_ / relative;
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to);
    return to;
  }

  // posix_spawn returns once the child runs the new program, so its /proc entry already
  // names the copy. `input` receives the write end of a pipe to its standard input.
  pid_t Spawn(const fs::path& exe, std::vector<std::string> args, int* input = nullptr,
              int* output = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (input != nullptr && pipe2(in, O_CLOEXEC) == 0)
      posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (output != nullptr && pipe2(out, O_CLOEXEC) == 0)
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> all{exe.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (input != nullptr) {
      close(in[0]);
      *input = in[1];
    }
    if (output != nullptr) {
      close(out[1]);
      *output = out[0];
    }
    if (pid > 0) children_.push_back(pid);
    return pid;
  }

  // How the child ended, once it has; -1 while it still runs after `patience`.
  static int EndOf(pid_t pid, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
      int status = 0;
      const pid_t got = waitpid(pid, &status, WNOHANG);
      if (got == pid) return status;
      if (got < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  void Forget(pid_t pid) { std::erase(children_, pid); }

  // Whether `pid` catches SIGTERM yet (its SigCgt mask): before that, the request to
  // close would end it the default way.
  static bool CatchesStop(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with("SigCgt:"))
        return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
  }

  fs::path dir_;
  std::vector<pid_t> children_;
};

TEST_F(SingleCopyProcessTest, CopiesBeforeTheStarterAreAskedToCloseAndTheOthersLive) {
  ASSERT_FALSE(dir_.empty());
  const fs::path station = Copy("ostrevane");
  const fs::path upper = Copy("Ostrevane");
  const fs::path replaced = Copy("old/ostrevane");

  const pid_t before = Spawn(station, {"sleep"});
  const pid_t otherCase = Spawn(upper, {"sleep"});
  // A copy whose file was removed after it started (reinstalled) is still a copy.
  const pid_t orphanedFile = Spawn(replaced, {"sleep"});
  fs::remove(replaced);
  int go = -1;
  int said = -1;
  const pid_t starter = Spawn(station, {"start", std::to_string(getpid())}, &go, &said);
  const pid_t after = Spawn(station, {"sleep"});
  for (pid_t pid : {before, otherCase, orphanedFile, starter, after}) ASSERT_GT(pid, 0);

  // The rule is about the system's listing order; ids wrapping round would change it.
  platform::process::ProcProcessList mine(
      [](platform::process::ProcessId, platform::process::ProcessId parent) {
        return parent == getpid();
      });
  const auto listed = mine.Snapshot();
  ASSERT_TRUE(listed);
  std::vector<pid_t> order;
  for (const auto& entry : *listed) order.push_back(entry.id);
  if (order != std::vector<pid_t>{before, otherCase, orphanedFile, starter, after})
    GTEST_SKIP() << "process ids wrapped round during the test";

  ASSERT_EQ(write(go, "go\n", 3), 3);
  close(go);
  std::string output;
  char buffer[256];
  for (ssize_t n; (n = read(said, buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(said);

  const int starterEnd = EndOf(starter, std::chrono::seconds(20));
  ASSERT_TRUE(WIFEXITED(starterEnd)) << starterEnd;
  EXPECT_EQ(WEXITSTATUS(starterEnd), 0);
  EXPECT_EQ(output, "started as ostrevane\n");
  Forget(starter);

  // Asked the way a close box would be: the stand-in takes SIGTERM's default. The
  // starter went on only once they had ended (unreaped, they count as gone).
  for (pid_t ended : {before, orphanedFile}) {
    const int end = EndOf(ended, std::chrono::milliseconds(0));
    EXPECT_TRUE(end != -1 && WIFSIGNALED(end) && WTERMSIG(end) == SIGTERM) << ended << " " << end;
    if (end != -1) Forget(ended);
  }
  // Still running: the copy started after the starter, and the one of another case.
  EXPECT_EQ(EndOf(otherCase, std::chrono::milliseconds(0)), -1);
  EXPECT_EQ(EndOf(after, std::chrono::milliseconds(0)), -1);
}

TEST_F(SingleCopyProcessTest, ProcessesThatAreNotOursToAskAreLeftAlone) {
  // Root may signal anyone's process: only the list's own check keeps another user's
  // copy safe, so that is the case that needs root to be shown.
  if (geteuid() != 0) GTEST_SKIP() << "starting a process as another user needs root";
  const pid_t otherUser = fork();
  if (otherUser == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    for (;;) pause();
  }
  ASSERT_GT(otherUser, 0);
  children_.push_back(otherUser);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  struct stat info {};
  while ((stat(("/proc/" + std::to_string(otherUser)).c_str(), &info) != 0 || info.st_uid == 0) &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_NE(info.st_uid, 0u);

  using platform::process::ProcessOutcome;
  platform::process::ProcProcessList mine(
      [](platform::process::ProcessId, platform::process::ProcessId parent) {
        return parent == getpid();
      });
  const struct {
    pid_t id;
    ProcessOutcome outcome;
  } cases[] = {
      {otherUser, ProcessOutcome::kOtherUser},
      {getpid(), ProcessOutcome::kRefused},   // itself
      {getppid(), ProcessOutcome::kRefused},  // not one the filter lets through
  };
  for (const auto& c : cases) EXPECT_EQ(mine.AskToClose(c.id), c.outcome) << c.id;
  EXPECT_EQ(EndOf(otherUser, std::chrono::milliseconds(100)), -1);
  EXPECT_EQ(mine.WaitUntilGone(otherUser, std::chrono::milliseconds(0)),
            ProcessOutcome::kStillRunning);
}

#ifdef OSTREVANE_STATION_APP
// The station itself, under a name no other process bears (the station lists every
// process, so only a name of this test's own keeps it away from anything else).
TEST_F(SingleCopyProcessTest, ASecondStationClosesTheIdleFirst) {
  ASSERT_FALSE(dir_.empty());
  const std::string name = "ostrevane-copy-test-" + std::to_string(getpid());
  const fs::path station = Copy(name, OSTREVANE_STATION_APP);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string results = (dir_ / "results.jsonl").string();

  const pid_t first = Spawn(station, {"--virtual-handsets", "0", "--results", results});
  ASSERT_GT(first, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!CatchesStop(first) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(CatchesStop(first));
  const pid_t second = Spawn(station, {"--virtual-handsets", "0", "--results", results});
  ASSERT_GT(second, 0);

  // An idle window closes at once, as its close box would close it: a clean exit.
  const int end = EndOf(first, std::chrono::seconds(30));
  EXPECT_TRUE(end != -1 && WIFEXITED(end) && WEXITSTATUS(end) == 0) << end;
  if (end != -1) Forget(first);
  EXPECT_EQ(EndOf(second, std::chrono::milliseconds(0)), -1);
}
#endif

}  // namespace
