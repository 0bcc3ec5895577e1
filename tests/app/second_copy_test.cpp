// A second copy of the real window program started while the first is in a run: the
// first finishes the run and closes, and only then does the second open. Both run as a
// copy named after the test, so that no other station on the machine is ever asked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "smdtool/image_builder.h"
#include "support/station_process.h"
#include "support/test_env.h"


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

size_t Ended(const std::map<int, json>& records) {
  size_t ended = 0;
  for (const auto& [channel, record] : records) ended += record.value("result", "") != "running";
  return ended;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

  testsupport::StationProcess first(
      exe,
      {"--handset-config", config, "--results", firstResults, "AUTO_DLOAD", images.os, images.csc},
      dir + "/first.err");
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(WaitFor([&] { return testsupport::LastRecordPerChannel(firstResults).size() == 4 || first.Ended(); }))
      << ReadAll(dir + "/first.err");
  ASSERT_EQ(Ended(testsupport::LastRecordPerChannel(firstResults)), 0u) << "the run ended before the second copy came";

  testsupport::StationProcess second(
      exe,
      {"--handset-config", config, "--results", secondResults, "AUTO_DLOAD", images.os, images.csc},
      dir + "/second.err");
  ASSERT_TRUE(second.started());
  // The second copy starts no run of its own while the first still runs (until it has
  // ended, the first is not even a zombie).
  bool openedEarly = false;
  ASSERT_TRUE(WaitFor([&] {
    const bool secondRecorded = !testsupport::LastRecordPerChannel(secondResults).empty();
    const bool firstEnded = first.Ended().has_value();
    openedEarly |= secondRecorded && !firstEnded;
    return firstEnded;
  })) << ReadAll(dir + "/first.err");
  EXPECT_FALSE(openedEarly);
  EXPECT_EQ(first.ExitCode(std::chrono::seconds(0)), 0) << ReadAll(dir + "/first.err");

  const auto records = testsupport::LastRecordPerChannel(firstResults);
  ASSERT_EQ(records.size(), 4u);
  for (const auto& [channel, record] : records)
    EXPECT_EQ(record["result"], "done") << record.dump();
  EXPECT_NE(ReadAll(dir + "/second.err").find("process " + std::to_string(first.Id()) + ")"),
            std::string::npos)
      << ReadAll(dir + "/second.err");

  // Then the second copy opens and runs.
  ASSERT_TRUE(WaitFor([&] { return Ended(testsupport::LastRecordPerChannel(secondResults)) == 4 || second.Ended(); }))
      << ReadAll(dir + "/second.err");
  // Closed as the operator would; its window may still be coming up.
  int secondExit = -1;
  ASSERT_TRUE(WaitFor([&] {
    second.AskToClose();
    secondExit = second.ExitCode(std::chrono::seconds(1));
    return secondExit != -1;
  }));
  EXPECT_EQ(secondExit, 0);
  for (const auto& [channel, record] : testsupport::LastRecordPerChannel(secondResults))
    EXPECT_EQ(record["result"], "done") << record.dump();
}

}  // namespace
