// ostrevane-cli on its default backend, libusb, against handsets on an emulated bus
// (umockdev): the automatic start binds them by the instance list and writes them all,
// and the program as its own process is cut off at once by a second stop signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "demo/image_file.h"
#include "demo/line_handsets.h"
#include "handset/virtual_handset.h"
#include "smdtool/image_builder.h"
#include "support/recording_threads.h"
#include "support/test_env.h"
#include "support/umockdev/usb_test_bed.h"

extern char** environ;

namespace {

using nlohmann::json;

struct Paths {
  std::string os;
  std::string csc;
};

Paths SmallProductImages() {
  const std::string dir = testsupport::ScratchDir("cli_libusb_images");
  const auto sample = [](const std::string& name) {
    std::ifstream in(std::string(SAMPLES_DIR) + "/" + name);
    return json::parse(in);
  };
  Paths p{dir + "/os.kx4", dir + "/csc.csc"};
  EXPECT_FALSE(
      smdtool::BuildImage(sample("product_os.json"), SAMPLES_DIR, p.os, {{"size_mb", "1"}}));
  EXPECT_FALSE(smdtool::BuildImage(sample("product_csc.json"), SAMPLES_DIR, p.csc));
  return p;
}

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<json> records;
};

Outcome RunCliWith(const std::vector<std::string>& args, const std::string& results) {
  std::ostringstream out, err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, out, err);
  testsupport::RecordingThreadService threads;
  Outcome o;
  o.status = parsed.options
                 ? cli::RunCli(*parsed.options, testsupport::FastClock(), threads, out, err,
                               /*terminal=*/false)
                 : parsed.exitCode;
  o.out = out.str();
  o.err = err.str();
  std::ifstream in(results);
  // How the channels ended: the records written as they started are passed over.
  for (std::string line; std::getline(in, line);)
    if (json r = json::parse(line); r["result"] != "running") o.records.push_back(std::move(r));
  return o;
}

TEST(CliOverLibusb, BindsTheAttachedHandsetsInPortOrderAndWritesEveryOne) {
  testsupport::UsbTestBed bed;  // before anything asks whether it is mocked
  ASSERT_TRUE(testsupport::UsbTestBed::Mocked());
  const Paths images = SmallProductImages();
  const std::string dir = testsupport::ScratchDir("cli_libusb");

  // Nothing attached: the station starts, binds nothing and says so.
  Outcome none = RunCliWith({"--results", dir + "/none.jsonl", "AUTO_DLOAD", images.os, images.csc},
                            dir + "/none.jsonl");
  EXPECT_EQ(none.status, cli::kExitNoHandset) << none.out << none.err;

  std::string error;
  const auto os = demo::ReadImageFile(images.os, &error);
  ASSERT_TRUE(os) << error;
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  const uint8_t ports[] = {4, 2, 3};  // plugged out of port order on purpose
  for (int i = 0; i < 3; ++i) {
    handsets.push_back(std::make_shared<handset::VirtualHandset>(demo::HandsetFor(&*os, i, 0),
                                                                 testsupport::FastClock()));
    testsupport::MockHandset m;
    m.peer = handsets.back();
    m.kind = static_cast<int>(handsets.back()->config().kind);
    m.location = {1, {ports[i]}};
    bed.Plug(std::move(m));
  }

  const std::string results = dir + "/r.jsonl";
  const Outcome run =
      RunCliWith({"--results", results, "AUTO_DLOAD", images.os, images.csc}, results);
  ASSERT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  ASSERT_EQ(run.records.size(), 3u) << run.out;
  for (const json& r : run.records) {
    SCOPED_TRACE(r.dump());
    EXPECT_EQ(r["result"], "done");
    // The instance list orders by port: channel 0 is the handset on port 2.
    const int channel = r["channel"];
    EXPECT_EQ(r["port"], channel + 2);
  }
  for (const auto& h : handsets) {
    EXPECT_TRUE(h->ChecksumPassed());
    EXPECT_EQ(h->ResetCount(), 1u);  // written, then restarted out of download mode
  }
}

// Reads the child's stream into `seen` until `needle` shows (true), or the stream ends
// or `limit` passes (false).
bool ReadUntil(int fd, std::string* seen, const std::string& needle,
               std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (!needle.empty() && seen->find(needle) != std::string::npos) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    seen->append(chunk, static_cast<size_t>(n));
  }
}

// A handset that stops answering holds its channel in a read that only its pipe timeout
// would end; the second stop signal must end it now, through libusb, in the real program.
TEST(CliOverLibusb, SecondStopSignalCutsOffAReadThatWouldWaitForItsTimeout) {
  testsupport::UsbTestBed bed;  // sets the emulated bus's folder in the environment
  ASSERT_TRUE(testsupport::UsbTestBed::Mocked());
  const Paths images = SmallProductImages();
  const std::string dir = testsupport::ScratchDir("cli_libusb_cut_off");
  std::string error;
  const auto os = demo::ReadImageFile(images.os, &error);
  ASSERT_TRUE(os) << error;
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  for (uint8_t port : {2, 3}) {
    // It answers until its run has started, then never again.
    handset::HandsetConfig config = demo::HandsetFor(&*os, port, 0);
    config.faults.dropAnswerAt = 12;
    handsets.push_back(
        std::make_shared<handset::VirtualHandset>(config, testsupport::FastClock()));
    testsupport::MockHandset m;
    m.peer = handsets.back();
    m.location = {1, {port}};
    bed.Plug(std::move(m));
  }

  const std::string results = dir + "/r.jsonl";
  std::vector<std::string> args = {CLI_PATH, "--results", results, "AUTO_DLOAD", images.os,
                                   images.csc};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The program reaches the emulated bus through umockdev's preload library, and its
  // ioctls are answered by this process's bed.
  std::vector<std::string> env = {std::string("LD_PRELOAD=") + UMOCKDEV_PRELOAD_PATH,
                                  "ASAN_OPTIONS=verify_asan_link_order=0"};
  for (char** e = environ; *e; ++e)
    if (std::string v = *e; v.rfind("LD_PRELOAD=", 0) != 0 && v.rfind("ASAN_OPTIONS=", 0) != 0)
      env.push_back(v);
  std::vector<char*> envp;
  for (std::string& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, CLI_PATH, &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  // A failed assertion leaves no program running against a bed that is gone.
  struct Reaper {
    pid_t& pid;
    ~Reaper() {
      if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  } reaper{pid};

  std::string seen;
  // Every channel has started (its running record is written) and waits for an answer.
  const auto inFlight = [&] {
    std::ifstream in(results);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t running = 0;
    for (size_t at = all.find("\"running\""); at != std::string::npos;
         at = all.find("\"running\"", at + 1))
      ++running;
    if (running < handsets.size()) return false;
    for (const auto& h : handsets)
      if (!bed.InFlight(h.get())) return false;
    return true;
  };
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool waiting = false;  // asked once a turn: a read answered in between ends it again
  while (!(waiting = inFlight()) && std::chrono::steady_clock::now() < end) {
    // Drains the program's output a few milliseconds at a time, so it never blocks on it.
    ReadUntil(pipeFds[0], &seen, "", std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(waiting) << seen;
  kill(pid, SIGTERM);
  EXPECT_TRUE(ReadUntil(pipeFds[0], &seen, "a second signal cuts them off now",
                        std::chrono::seconds(10)))
      << seen;
  const auto second = std::chrono::steady_clock::now();
  kill(pid, SIGTERM);
  ReadUntil(pipeFds[0], &seen, "", std::chrono::seconds(30));
  close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  pid = -1;
  EXPECT_LT(std::chrono::steady_clock::now() - second, std::chrono::seconds(2)) << seen;
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 130) << seen;

  // Each channel: its running record, then its final one.
  std::map<int, std::vector<json>> byChannel;
  std::ifstream in(results);
  for (std::string line; std::getline(in, line);) {
    const json r = json::parse(line);
    byChannel[r["channel"].get<int>()].push_back(r);
  }
  EXPECT_EQ(byChannel.size(), handsets.size()) << seen;
  for (const auto& [channel, records] : byChannel) {
    SCOPED_TRACE(channel);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["result"], "running");
    EXPECT_EQ(records[1]["result"], "interrupted") << records[1].dump();
  }
}

}  // namespace
