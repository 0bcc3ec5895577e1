// ostrevane-cli as its own process under stop signals sent at a chosen moment: when a
// line shows the channels writing, or a handset still being bound. The first signal starts
// no channel and lets running ones end, the second cuts them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "smdtool/image_builder.h"
#include "support/test_env.h"

extern char** environ;

namespace {

using nlohmann::json;

// Reads the child's stream into `seen` until `needle` shows (true) or the stream ends
// or a minute passes (false).
bool ReadUntil(int fd, std::string* seen, const std::string& needle) {
  for (;;) {
    if (!needle.empty() && seen->find(needle) != std::string::npos) return true;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) return false;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    seen->append(chunk, static_cast<size_t>(n));
  }
}

TEST(CliSignal, AFirstStopStartsNoChannelAndLetsRunningOnesEndASecondCutsThemOff) {
  const std::string dir = testsupport::ScratchDir("cli_signal");
  std::ifstream layout(std::string(SAMPLES_DIR) + "/product_os.json");
  const std::map<std::string, std::string> size = {{"size_mb", "4"}};
  ASSERT_FALSE(smdtool::BuildImage(json::parse(layout), SAMPLES_DIR, dir + "/os.kx4", size));
  std::ifstream cscLayout(std::string(SAMPLES_DIR) + "/product_csc.json");
  ASSERT_FALSE(smdtool::BuildImage(json::parse(cscLayout), SAMPLES_DIR, dir + "/csc.csc"));

  // The second handset answers its open's questions slowly, so the line is still being
  // bound when the first handset shows; it fails at once if a run ever starts.
  const std::string slowLine = dir + "/slow_line.json";
  std::ofstream(slowLine) << R"([{"instancePart": "5&1d2c3b4a&0&1"},
    {"instancePart": "5&1d2c3b4a&0&2", "refuseStartDownload": true,
     "faults": {"answerDelayMs": 500}}])";

  struct Case {
    const char* name;
    bool slowLine;
    int signals;
    bool resultsToStdout;  // then the person's lines are watched on standard error
    const char* signalAt;  // the line after which the signals are sent
    const char* result;    // each channel's end; none when no channel may start
  };
  const char* writing = "[Channel 1] Channel Write";
  int run = 0;
  const char* firstBound = "[Channel 0] QMR-K220_SIGN   Engineer | Detect KX4 Device !!!";
  for (const Case c : {Case{"first while binding", true, 1, false, firstBound, nullptr},
                       Case{"first while writing", false, 1, true, writing, "done"},
                       Case{"second while writing", false, 2, false, writing, "interrupted"}}) {
    SCOPED_TRACE(c.name);
    const std::string results = dir + "/r" + std::to_string(++run) + ".jsonl";
    const std::string other = dir + "/other" + std::to_string(run) + ".txt";
    std::vector<std::string> args = {CLI_PATH,
                                     c.slowLine ? "--handset-config" : "--virtual-handsets",
                                     c.slowLine ? slowLine : "2",
                                     "--link-mbps",
                                     "20",
                                     "--results",
                                     c.resultsToStdout ? "-" : results,
                                     "AUTO_DLOAD",
                                     dir + "/os.kx4",
                                     dir + "/csc.csc"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const int watched = c.resultsToStdout ? 2 : 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], watched);
    posix_spawn_file_actions_addopen(&actions, 3 - watched,
                                     (c.resultsToStdout ? results : other).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);

    std::string seen;
    EXPECT_TRUE(ReadUntil(pipeFds[0], &seen, c.signalAt)) << seen;
    kill(pid, SIGINT);
    if (c.signals == 2) {
      EXPECT_TRUE(ReadUntil(pipeFds[0], &seen, "a second signal cuts them off now")) << seen;
      kill(pid, SIGINT);
    }
    ReadUntil(pipeFds[0], &seen, "");
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130) << seen;

    // Each channel: its running record, then its end as the signals made it.
    std::map<int, std::vector<json>> byChannel;
    std::ifstream in(results);
    for (std::string line; std::getline(in, line);) {
      const json r = json::parse(line);
      byChannel[r["channel"].get<int>()].push_back(r);
    }
    if (!c.result) {
      EXPECT_TRUE(byChannel.empty()) << seen;
      continue;
    }
    ASSERT_EQ(byChannel.size(), 2u) << seen;
    for (const auto& [channel, records] : byChannel) {
      ASSERT_EQ(records.size(), 2u) << channel;
      EXPECT_EQ(records[0]["result"], "running");
      EXPECT_EQ(records[1]["result"], c.result) << records[1].dump();
      EXPECT_EQ(records[1].value("reason", ""), c.signals == 2 ? "interrupted" : "");
      EXPECT_EQ(records[1]["runId"], records[0]["runId"]);
      if (c.signals == 2) {
        EXPECT_EQ(records[1]["bar"], " Interrupted: cut off by a stop signal");
      }
    }
  }
}

}  // namespace
