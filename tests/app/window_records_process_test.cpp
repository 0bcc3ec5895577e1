// The window program's records, through the program itself: started as a process on its
// virtual line, offscreen, and closed by a stop signal as an operator's close box would.
// It runs under a name of this test's own, since a starting station ends other copies.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/flashing/test_images.h"
#include "support/test_env.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class WindowRecordsProcessTest : public ::testing::Test {
 protected:
  WindowRecordsProcessTest() : dir_(testsupport::ScratchDir("window_process")) {
    station_ = dir_ + "/ostrevane-records-test-" + std::to_string(getpid());
    fs::copy_file(STATION_APP, station_);
    fs::create_directory(dir_ + "/runtime");
    fs::permissions(dir_ + "/runtime", fs::perms::owner_all);
  }
  ~WindowRecordsProcessTest() override {
    // Only this test's own children, each reaped.
    for (pid_t pid : children_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }

  // The program with its settings and default records under this test's folder.
  pid_t Spawn(const std::string& exe, std::vector<std::string> args) {
    // Under AddressSanitizer the whole program's leak report, Qt's and the system
    // libraries' included, would decide the exit status this test reads for the records.
    std::vector<std::string> env = {
        "ASAN_OPTIONS=detect_leaks=0", "QT_QPA_PLATFORM=offscreen", "HOME=" + dir_,
        "XDG_STATE_HOME=" + dir_ + "/state", "XDG_CONFIG_HOME=" + dir_ + "/config",
        "XDG_RUNTIME_DIR=" + dir_ + "/runtime"};
    const size_t ours = env.size();
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view inherited(*e);
      const std::string_view name = inherited.substr(0, inherited.find('=') + 1);
      bool replaced = false;
      for (size_t i = 0; i < ours; ++i) replaced = replaced || env[i].rfind(name, 0) == 0;
      if (!replaced) env.emplace_back(inherited);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    args.insert(args.begin(), exe);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
      return -1;
    children_.push_back(pid);
    return pid;
  }

  // How the child ended; -1 while it still runs after `patience`. A separate process has
  // no clock of ours to wait on: this polls real time.
  int EndOf(pid_t pid, std::chrono::seconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(children_, pid);
        return status;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  static bool WaitFor(const std::function<bool()>& ready, std::chrono::seconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!ready()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // The final records of a records file; every line must be a record.
  static std::vector<json> Finals(const std::string& path) {
    std::vector<json> finals;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      json record = json::parse(line, nullptr, false);
      EXPECT_FALSE(record.is_discarded()) << line;
      if (!record.is_discarded() && record["result"] != "running")
        finals.push_back(std::move(record));
    }
    return finals;
  }

  std::string dir_;
  std::string station_;
  std::vector<pid_t> children_;
};

TEST_F(WindowRecordsProcessTest, ARunOfThreeHandsetsLeavesThreeFinalRecordsInTheDefaultFile) {
  const std::string os = testsupport::BuildOsImage({}, "records.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "records.csc");
  const pid_t window = Spawn(station_, {"--virtual-handsets", "3", "AUTO_DLOAD", os, csc});
  ASSERT_GT(window, 0);
  const std::string results = dir_ + "/state/ostrevane/results.jsonl";
  ASSERT_TRUE(WaitFor([&] { return Finals(results).size() == 3; }, std::chrono::seconds(60)));
  kill(window, SIGTERM);
  const int end = EndOf(window, std::chrono::seconds(30));
  ASSERT_TRUE(end != -1 && WIFEXITED(end)) << end;
  EXPECT_EQ(WEXITSTATUS(end), 0);

  const std::vector<json> finals = Finals(results);
  ASSERT_EQ(finals.size(), 3u);
  for (const json& record : finals) {
    EXPECT_EQ(record["result"], "done") << record.dump();
    EXPECT_EQ(record["runId"], finals[0]["runId"]);
    EXPECT_FALSE(record["station"].get<std::string>().empty());
    EXPECT_TRUE(record.contains("location")) << record.dump();
  }
}

// The window opens its records file at start; the CLI appends while the window idles.
// The window's close leaves the CLI's records where they are.
TEST_F(WindowRecordsProcessTest, AnIdleWindowLeavesTheRecordsOfACliSharingItsFile) {
  const std::string os = testsupport::BuildOsImage({}, "shared.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "shared.csc");
  const std::string results = dir_ + "/shared.jsonl";
  // The capture is started after the records file is opened: once it is there, the
  // window has readied its records.
  const std::string capture = dir_ + "/idle.pcap";
  const pid_t window = Spawn(station_, {"--virtual-handsets", "0", "--results", results,
                                        "--capture", capture});
  ASSERT_GT(window, 0);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(capture); }, std::chrono::seconds(30)));
  EXPECT_FALSE(fs::exists(results));  // an idle program makes no records file

  const pid_t cli = Spawn(CLI_PATH, {"--virtual-handsets", "2", "--results", results,
                                     "AUTO_DLOAD", os, csc});
  ASSERT_GT(cli, 0);
  const int cliEnd = EndOf(cli, std::chrono::seconds(60));
  ASSERT_TRUE(cliEnd != -1 && WIFEXITED(cliEnd)) << cliEnd;
  EXPECT_EQ(WEXITSTATUS(cliEnd), 0);

  kill(window, SIGTERM);
  const int end = EndOf(window, std::chrono::seconds(30));
  ASSERT_TRUE(end != -1 && WIFEXITED(end)) << end;
  EXPECT_EQ(WEXITSTATUS(end), 0);
  EXPECT_EQ(Finals(results).size(), 2u);
}

}  // namespace
