// Paths the narrow calls cannot reach, under Wine: a whole CLI run (images, handset config,
// capture, results, dump) in a non-ASCII folder past 260 characters; the user's state folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "platform/file/file.h"
#include "platform/file/state_path.h"
#include "smdtool/image_builder.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

using nlohmann::json;
using platform::file::NativePath;

json Sample(const std::string& name) {
  std::ifstream in(NativePath(std::string(SAMPLES_DIR) + "/" + name));
  return json::parse(in);
}

bool NonEmptyFile(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(NativePath(path), ec);
  return !ec && size > 0;
}

TEST(Win32LongPaths, ACliRunKeepsEveryFileInALongNonAsciiFolder) {
  std::string dir = testsupport::ScratchDir("long") + "\\Prüfstand Ωmega 測試";
  while (NativePath(dir).native().size() <= 280) dir += "\\Übergabe-Ελληνικά-Ablage";
  std::error_code ec;
  std::filesystem::create_directories(NativePath(dir), ec);
  ASSERT_FALSE(ec) << ec.message();

  const std::string os = dir + "\\os.kx4", csc = dir + "\\csc.csc";
  ASSERT_FALSE(smdtool::BuildImage(Sample("product_os.json"), SAMPLES_DIR, os, {{"size_mb", "1"}}));
  ASSERT_FALSE(smdtool::BuildImage(Sample("product_csc.json"), SAMPLES_DIR, csc));
  const std::string config = dir + "\\handsets.json";
  std::ofstream(NativePath(config), std::ios::binary) << "[{}]";
  const std::string results = dir + "\\results.jsonl", capture = dir + "\\capture.pcap",
                    dump = dir + "\\dump";

  std::ostringstream out, err;
  const std::vector<std::string> args = {"--handset-config", config, "--results", results,
                                         "--capture", capture, "--dump-dir", dump,
                                         "AUTO_DLOAD", os, csc};
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, out, err);
  ASSERT_TRUE(parsed.options) << out.str() << err.str();
  testsupport::RecordingThreadService threads;
  EXPECT_EQ(cli::RunCli(*parsed.options, testsupport::FastClock(), threads, out, err, false),
            cli::kExitDone)
      << out.str() << err.str();

  std::ifstream in(NativePath(results));
  std::vector<std::string> ended;
  for (std::string line; std::getline(in, line);)
    if (json::parse(line)["result"] != "running") ended.push_back(json::parse(line)["result"]);
  EXPECT_EQ(ended, std::vector<std::string>{"done"});
  EXPECT_TRUE(NonEmptyFile(capture));
  EXPECT_TRUE(NonEmptyFile(dump + "\\handset0\\emmc.img"));
  EXPECT_TRUE(NonEmptyFile(dump + "\\handset0\\state.txt"));
}

TEST(Win32LongPaths, TheStateFolderKeepsLettersOutsideTheCodePage) {
  wchar_t saved[1024] = {};
  const DWORD had = GetEnvironmentVariableW(L"LOCALAPPDATA", saved, 1024);
  ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", L"C:\\Users\\\x0394\x03ae\x03bc\x03b7\x03c4\x03c1\x03b1"));
  EXPECT_EQ(platform::StateFilePath("results.jsonl"),
            "C:\\Users\\Δήμητρα\\ostrevane\\results.jsonl");
  SetEnvironmentVariableW(L"LOCALAPPDATA", had ? saved : nullptr);
}

}  // namespace
