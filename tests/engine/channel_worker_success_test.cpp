// Whole downloads onto one virtual handset: what the handset holds afterwards, in
// every mode, and what the operator saw.
#include <gtest/gtest.h>

#include "engine/download_mode.h"
#include "protocol/command_packet.h"
#include "protocol/partition_write.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"

namespace {

using namespace testsupport;
using handset::HandsetConfig;

// Every partition a full download of a non-L330R image writes (DBI and TZAPPS belong to
// the L330R boot group only).
const std::vector<std::string> kWrittenPartitions = {
    "SBL1", "SBL2",   "SBL3", "TZ",     "RPM",  "UEFI", "WINSECAPP",
    "PLAT", "EFIESP", "MMOS", "MainOS", "Data", "GPT",  "CrashDump"};

struct Images {
  std::string os;
  std::string csc;
};

const Images& ProductImages() {
  static const Images images{BuildOsImage({}, "product.kx4"), BuildCscImage({}, "product.csc")};
  return images;
}

HandsetConfig HandsetFor(const std::string& osImage) {
  HandsetConfig c;
  c.partitions = GptOfImage(osImage);
  return c;
}

std::vector<uint8_t> CscPackageOf(const std::string& cscPath) {
  auto region = ReadHeaderRegion(cscPath);
  return ReadFileBytes(cscPath, platform::Le32(region.data() + image::HDR_CSC_PACKAGE_OFFSET),
                       platform::Le32(region.data() + image::HDR_CSC_PACKAGE_LENGTH));
}

TEST(ChannelDownload, ModeAllWritesTheWholeImageAndTheCsc) {
  const Images& img = ProductImages();
  ChannelRig rig(HandsetFor(img.os), 0);
  rig.LoadImages(img.os, img.csc);
  ASSERT_EQ(rig.Run(), 1) << rig.Log();

  auto& h = rig.handset();
  for (const auto& name : kWrittenPartitions) EXPECT_TRUE(PartitionOnHandset(h, img.os, name));
  EXPECT_TRUE(PartitionEmpty(h, img.os, "DBI"));
  EXPECT_TRUE(PartitionEmpty(h, img.os, "TZAPPS"));
  auto files = h.Files();
  EXPECT_EQ(files["\\Dravnik\\CSC\\CSC.mbn"], CscPackageOf(img.csc));
  EXPECT_EQ(files["\\Dravnik\\CSC\\SalesCode.cfg"], (std::vector<uint8_t>{'X', 'E', 'U', 0}));
  EXPECT_TRUE(h.ChecksumPassed());
  EXPECT_EQ(files["\\Dravnik\\DevInfo\\CheckSum.result"].size(), 144u);
  EXPECT_EQ(h.ResetCount(), 1u);
  EXPECT_FALSE(h.DownloadFlag());
  // An engineer handset gets the engineer half of each signature slot, before its data.
  auto blocks = h.SignatureBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  auto region = ReadHeaderRegion(img.os);
  const uint8_t* slot3 = region.data() + image::SIGNATURE_SLOTS_OFFSET + 3 * 0x10000;
  EXPECT_TRUE(std::equal(blocks[0].data.begin(), blocks[0].data.end(), slot3));
  EXPECT_EQ(blocks[0].beforeSector, 64u);

  EXPECT_EQ(rig.host.run.ChannelFinished[0], 1);
  EXPECT_EQ(rig.host.run.ChannelRunning[0], 0);
  EXPECT_EQ(rig.host.run.ChannelFailed[0], 0);
  auto progress = rig.host.Progress(0);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back().value, 300);
  EXPECT_NE(rig.Log().find("[Channel 0] Binary Download complete!!\r\n"), std::string::npos);
  EXPECT_NE(rig.Log().find("[Channel 0] Channel Write XEU  CSC data Success!!\r\n"),
            std::string::npos);
}

}  // namespace
