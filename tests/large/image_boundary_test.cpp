// The image format's 32-bit file length at its edge: an OS image of 4 GiB - 1 bytes is
// confirmed, written and verified; one of 4 GiB is refused at open and the log says why.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "demo/image_file.h"
#include "smdtool/image_builder.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

constexpr uint64_t kLargest = 0xFFFFFFFFull;  // 4 GiB - 1

struct CliOutcome {
  int status = 0;
  std::string out;
  std::string err;
};

CliOutcome RunCommandLine(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(args, out, err);
  testsupport::RecordingThreadService threads;
  CliOutcome run;
  run.status = parsed.options ? cli::RunCli(*parsed.options, testsupport::FastClock(), threads,
                                            out, err, false)
                              : parsed.exitCode;
  run.out = out.str();
  run.err = err.str();
  return run;
}

// The OS image grown to exactly `kLargest` bytes: MainOS takes the room in whole sectors,
// the partition last in the file the bytes that are left.
std::string BuildLargest(const std::string& dir) {
  testsupport::OsImageSpec spec;
  const std::string trial = dir + "/trial.kx4";
  EXPECT_FALSE(smdtool::BuildImage(testsupport::OsLayout(spec), dir, trial));
  std::string error;
  auto image = demo::ReadImageFile(trial, &error);
  EXPECT_TRUE(image) << error;
  if (!image) return {};
  const uint64_t room = kLargest - image->fileSize;
  std::string last;
  uint64_t lastEnd = 0;
  for (const auto& e : image->entries)
    if (uint64_t{e.fileOffset} + e.length > lastEnd) {
      lastEnd = uint64_t{e.fileOffset} + e.length;
      last = e.name;
    }
  spec.mainOsBytes += static_cast<uint32_t>(room / 512 * 512);
  nlohmann::json layout = testsupport::OsLayout(spec);
  for (auto& p : layout["partitions"])
    if (p["name"] == last) p["data"]["size"] = p["data"]["size"].get<uint64_t>() + room % 512;
  const std::string path = dir + "/largest.kx4";
  EXPECT_FALSE(smdtool::BuildImage(layout, dir, path));
  return path;
}

TEST(ImageBoundary, FourGibMinusOneIsConfirmedWrittenAndVerified) {
  const std::string dir = testsupport::ScratchDir("image_boundary");
  const std::string os = BuildLargest(dir);
  ASSERT_EQ(std::filesystem::file_size(os), kLargest);
  const std::string csc = testsupport::BuildCscImage({}, "boundary.csc");
  const CliOutcome run = RunCommandLine({"--virtual-handsets", "1", "--handset-storage", "digest", "--verify",
                              "AUTO_DLOAD", os, csc});
  std::filesystem::remove(os);
  // The run starts only once the digest dialog has confirmed the image.
  EXPECT_EQ(run.status, cli::kExitDone) << run.out << run.err;
  EXPECT_NE(run.out.find("matches the images"), std::string::npos) << run.out;
}

TEST(ImageBoundary, FourGibIsRefusedAtOpenAndTheLogSaysWhy) {
  // A valid small image's bytes, then a hole up to 4 GiB: no disk space, no hashing.
  const std::string small = testsupport::BuildOsImage({}, "boundary_small.kx4");
  const std::string os = testsupport::ScratchDir("image_boundary_4g") + "/four_gib.kx4";
  std::filesystem::copy_file(small, os, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(os, kLargest + 1);
  const std::string csc = testsupport::BuildCscImage({}, "boundary.csc");
  const CliOutcome run = RunCommandLine({"--virtual-handsets", "1", "AUTO_DLOAD", os, csc});
  std::filesystem::remove(os);
  EXPECT_EQ(run.status, cli::kExitRefused) << run.out << run.err;
  EXPECT_NE(run.out.find(os + " is 4 GiB or more: the image format's file length is 32 bits."),
            std::string::npos)
      << run.out;
}

}  // namespace
