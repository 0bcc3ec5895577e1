// The records' disk fills during a ten-handset run and empties again: a real tmpfs in a
// private mount namespace, so the file system's own short writes and refusals are met.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "smdtool/image_builder.h"
#include "support/test_env.h"

namespace {

using nlohmann::json;

std::string Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliFullDisk, EveryChannelKeepsItsFinalRecordAndEveryLineIsJson) {
  if (geteuid() != 0) GTEST_SKIP() << "a private tmpfs needs root (unshare -m, mount)";
  if (std::system("unshare -m true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "unshare -m is not available here";
  const std::string dir = testsupport::ScratchDir("full_disk");
  const std::string os = dir + "/os.kx4";
  const std::string csc = dir + "/csc.csc";
  std::ifstream osLayout(std::string(SAMPLES_DIR) + "/product_os.json");
  std::ifstream cscLayout(std::string(SAMPLES_DIR) + "/product_csc.json");
  ASSERT_FALSE(smdtool::BuildImage(json::parse(osLayout), SAMPLES_DIR, os));
  ASSERT_FALSE(smdtool::BuildImage(json::parse(cscLayout), SAMPLES_DIR, csc));

  const std::string command = std::string("unshare -m sh ") + FULL_DISK_RUN + " " + CLI_PATH +
                              " " + os + " " + csc + " " + dir;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string err = Text(dir + "/stderr");
  EXPECT_EQ(Text(dir + "/status"), "0\n") << err;
  // Told each time records began to wait, and each time they were written.
  auto count = [&err](const std::string& text) {
    size_t n = 0;
    for (size_t at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("records file: no space left on device;"), 2u) << err;
  EXPECT_EQ(count("waiting records written"), 2u) << err;
  EXPECT_EQ(Text(dir + "/retry"), "running\n");

  std::ifstream in(dir + "/results.jsonl");
  std::set<int> done;
  for (std::string line; std::getline(in, line);) {
    // A line the full disk cut is finished once the disk takes writes again.
    const json record = json::parse(line, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << line;
    if (record["result"] == "done") done.insert(record["channel"].get<int>());
  }
  EXPECT_EQ(done.size(), 10u) << Text(dir + "/results.jsonl");
}

}  // namespace
