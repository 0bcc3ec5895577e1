// The window program's records, through the program itself: started as a process on its
// virtual line, offscreen, and closed by a stop signal as an operator's close box would.
// It runs under a name of this test's own, since a starting station ends other copies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/flashing/test_images.h"
#include "support/station_process.h"
#include "support/test_env.h"

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

  // The program with its settings and default records under this test's folder.
  std::unique_ptr<testsupport::StationProcess> Spawn(const std::string& exe,
                                                     const std::vector<std::string>& args) {
    // Under AddressSanitizer the whole program's leak report, Qt's and the system
    // libraries' included, would decide the exit status this test reads for the records.
    const std::vector<std::string> env = {
        "ASAN_OPTIONS=detect_leaks=0", "QT_QPA_PLATFORM=offscreen", "HOME=" + dir_,
        "XDG_STATE_HOME=" + dir_ + "/state", "XDG_CONFIG_HOME=" + dir_ + "/config",
        "XDG_RUNTIME_DIR=" + dir_ + "/runtime"};
    const std::string output = dir_ + "/" + fs::path(exe).filename().string() + "-" +
                               std::to_string(++spawned_) + ".out";
    return std::make_unique<testsupport::StationProcess>(exe, args, output, env);
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
  int spawned_ = 0;
};

TEST_F(WindowRecordsProcessTest, ARunOfThreeHandsetsLeavesThreeFinalRecordsInTheDefaultFile) {
  const std::string os = testsupport::BuildOsImage({}, "records.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "records.csc");
  auto window =
      Spawn(station_, {"--virtual-handsets", "3", "--station", "line-pc-3", "AUTO_DLOAD", os, csc});
  ASSERT_TRUE(window->started());
  const std::string results = dir_ + "/state/ostrevane/results.jsonl";
  ASSERT_TRUE(WaitFor([&] { return Finals(results).size() == 3; }, std::chrono::seconds(60)));
  window->AskToClose();
  EXPECT_EQ(window->ExitCode(std::chrono::seconds(30)), 0);

  const std::vector<json> finals = Finals(results);
  ASSERT_EQ(finals.size(), 3u);
  for (const json& record : finals) {
    EXPECT_EQ(record["result"], "done") << record.dump();
    EXPECT_EQ(record["runId"], finals[0]["runId"]);
    EXPECT_EQ(record["station"], "line-pc-3");
    EXPECT_TRUE(record.contains("location")) << record.dump();
  }
}

// A station name no one could read back is refused before the window opens or the
// records file is made, with the reason, as the window refuses any bad command line.
TEST_F(WindowRecordsProcessTest, AStationNameThatCannotBeReadIsRefusedBeforeTheWindowOpens) {
  for (const std::string name : {"", "line\npc"}) {
    const std::string results = dir_ + "/refused.jsonl";
    auto window = Spawn(station_, {"--station", name, "--results", results});
    ASSERT_TRUE(window->started());
    EXPECT_EQ(window->ExitCode(std::chrono::seconds(30)), 2) << name;
    std::ifstream out(dir_ + "/" + fs::path(station_).filename().string() + "-" +
                      std::to_string(spawned_) + ".out");
    const std::string said((std::istreambuf_iterator<char>(out)), {});
    EXPECT_NE(said.find("--station: the station name"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(results)) << name;
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
  auto window = Spawn(station_, {"--virtual-handsets", "0", "--results", results, "--capture",
                                 capture});
  ASSERT_TRUE(window->started());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(capture); }, std::chrono::seconds(30)));
  EXPECT_FALSE(fs::exists(results));  // an idle program makes no records file

  auto cli =
      Spawn(CLI_PATH, {"--virtual-handsets", "2", "--results", results, "AUTO_DLOAD", os, csc});
  ASSERT_TRUE(cli->started());
  EXPECT_EQ(cli->ExitCode(std::chrono::seconds(60)), 0);

  window->AskToClose();
  EXPECT_EQ(window->ExitCode(std::chrono::seconds(30)), 0);
  EXPECT_EQ(Finals(results).size(), 2u);
}

}  // namespace
