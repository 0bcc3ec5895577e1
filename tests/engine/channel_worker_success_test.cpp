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

using Images = ImagePair;

const Images& ProductImages() {
  static const Images images = BuildImagePair("product");
  return images;
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

std::vector<uint32_t> Commands(const handset::VirtualHandset& h) {
  std::vector<uint32_t> out;
  for (const auto& r : h.Requests()) out.push_back(r.command);
  return out;
}

size_t IndexOf(const std::vector<uint32_t>& commands, uint32_t command, size_t from = 0) {
  for (size_t i = from; i < commands.size(); ++i)
    if (commands[i] == command) return i;
  return commands.size();
}

// Fills a partition's whole range on the handset, as an earlier firmware would have.
void Prefill(handset::VirtualHandset& h, const std::string& imagePath, const std::string& name) {
  auto e = EntryNamed(ReadHeaderRegion(imagePath), name);
  std::vector<uint8_t> junk(uint64_t{e.sectorCount} * 512, 0xEE);
  ASSERT_TRUE(h.emmc().Write(e.startSector, junk.data(), junk.size()));
}

// The OS area's erase runs from MainOS's first sector to Data's last, both included.
TEST(ChannelDownload, TheOsAreaEraseEndsWithTheLastSectorOfData) {
  const Images& img = ProductImages();
  ChannelRig rig(HandsetFor(img.os), 0);
  rig.LoadImages(img.os, img.csc);
  ASSERT_EQ(rig.Run(), 1) << rig.Log();
  const auto region = ReadHeaderRegion(img.os);
  const auto mainOs = EntryNamed(region, "MainOS");
  const auto data = EntryNamed(region, "Data");
  std::vector<handset::RequestRecord> erases;
  for (const auto& r : rig.handset().Requests())
    if (r.command == protocol::CMD_ERASE_RANGE) erases.push_back(r);
  ASSERT_EQ(erases.size(), 1u);
  EXPECT_EQ(erases[0].param1, mainOs.startSector);
  EXPECT_EQ(erases[0].param2, data.startSector + data.sectorCount - mainOs.startSector);
}

TEST(ChannelDownload, FactoryModeWritesOnlyTheCheckedGroupsAndTheSalesCode) {
  OsImageSpec spec;
  spec.magic = "FAC_EMMC_MainOS";
  spec.model = "FW80_K220_SIGN";
  const std::string os = BuildOsImage(spec, "factory.kx4");
  CscImageSpec cscSpec;
  cscSpec.magic = "FAC_EMMC_CSC";
  cscSpec.model = "FW80_K220_SIGN";
  const std::string csc = BuildCscImage(cscSpec, "factory.csc");
  ChannelRig rig(HandsetFor(os), 2);
  rig.LoadImages(os, csc);
  rig.host.mode = engine::DOWNLOAD_MODE_FACTORY;
  rig.host.salesCode = "FTA";
  rig.host.groupChecks = {1, 0, 0, 0, 0};  // only "SBL,  TZ"
  Prefill(rig.handset(), os, "MainOS");
  Prefill(rig.handset(), os, "RPM");
  ASSERT_EQ(rig.Run(), 1) << rig.Log();

  auto& h = rig.handset();
  for (const char* name : {"GPT", "SBL1", "SBL2", "SBL3", "TZ", "WINSECAPP"})
    EXPECT_TRUE(PartitionOnHandset(h, os, name)) << name;
  // The OS area is erased whatever the groups say; other groups stay as they were.
  for (const char* name : {"MainOS", "Data", "CrashDump", "UEFI", "EFIESP"})
    EXPECT_TRUE(PartitionEmpty(h, os, name)) << name;
  EXPECT_EQ(h.emmc().Read(EntryNamed(ReadHeaderRegion(os), "RPM").startSector, 1)[0], 0xEE);
  auto files = h.Files();
  EXPECT_TRUE(files["\\Dravnik\\CSC\\CSC.mbn"].empty());  // selected, but no package sent
  EXPECT_EQ(files["\\Dravnik\\CSC\\SalesCode.cfg"], (std::vector<uint8_t>{'F', 'T', 'A', 0}));
  EXPECT_EQ(rig.Log().find("Partition info does not Match"), std::string::npos);
}

TEST(ChannelDownload, PartitionTableMismatchForcesAllGroupsOnlyOutsideModeAll) {
  const Images& img = ProductImages();
  auto handsetGpt = GptOfImage(img.os);
  handsetGpt.pop_back();  // the handset's table lacks one partition
  for (uint32_t mode : {engine::DOWNLOAD_MODE_ALL, engine::DOWNLOAD_MODE_FACTORY}) {
    HandsetConfig c;
    c.partitions = handsetGpt;
    ChannelRig rig(c, 1);
    rig.LoadImages(img.os, img.csc);
    rig.host.mode = mode;
    rig.host.groupChecks = {0, 1, 0, 0, 0};  // only "RPM"
    ASSERT_EQ(rig.Run(), 1) << rig.Log();
    EXPECT_NE(rig.Log().find("[Channel 1] Partition info does not Match !!\r\n"),
              std::string::npos);
    auto& h = rig.handset();
    EXPECT_TRUE(PartitionOnHandset(h, img.os, "RPM"));
    if (mode == engine::DOWNLOAD_MODE_ALL) {
      EXPECT_TRUE(PartitionEmpty(h, img.os, "SBL1"));
      EXPECT_TRUE(PartitionEmpty(h, img.os, "MainOS"));
    } else {
      for (const auto& name : kWrittenPartitions) EXPECT_TRUE(PartitionOnHandset(h, img.os, name));
    }
  }
}

TEST(ChannelDownload, RecoverRewritesOnlyDataAndClearsTheFlagOfASecureHandset) {
  OsImageSpec spec;
  spec.discreteOs = true;
  spec.imageType = 0x2EC6D88D;  // don't care, product
  const std::string os = BuildOsImage(spec, "recover.kx4");
  HandsetConfig c = HandsetFor(os);
  c.securityAnswer = "SEC_MODE";
  ChannelRig rig(c, 0);
  rig.LoadImages(os, ProductImages().csc);
  rig.host.mode = engine::DOWNLOAD_MODE_RECOVER;
  ASSERT_EQ(rig.Run(), 1) << rig.Log();

  auto& h = rig.handset();
  EXPECT_TRUE(PartitionOnHandset(h, os, "Data"));
  EXPECT_TRUE(PartitionEmpty(h, os, "MainOS"));
  EXPECT_TRUE(PartitionEmpty(h, os, "SBL1"));
  auto cmds = Commands(h);
  for (uint32_t absent :
       {protocol::CMD_CHECK_PARTITION_INFO, protocol::CMD_ERASE_PARTITION,
        protocol::CMD_ERASE_RANGE, protocol::CMD_FILE_RECORD, protocol::CMD_DOWNLOAD_FLAG_SET})
    EXPECT_EQ(IndexOf(cmds, absent), cmds.size()) << std::hex << absent;
  EXPECT_LT(IndexOf(cmds, protocol::CMD_DOWNLOAD_FLAG_CLEAR), IndexOf(cmds, protocol::CMD_RESET));
  EXPECT_TRUE(h.Files()["\\Dravnik\\CSC\\CSC.mbn"].empty());
}

TEST(ChannelDownload, EraseNvModeErasesTheUefiVariablesAfterUefi) {
  const Images& img = ProductImages();
  ChannelRig rig(HandsetFor(img.os), 0);
  rig.LoadImages(img.os, img.csc);
  rig.host.mode = engine::DOWNLOAD_MODE_ERASE_NV;
  auto nv = handset::GptPartition{};
  for (const auto& p : GptOfImage(img.os))
    if (p.name == "UEFI_NV") nv = p;
  ASSERT_EQ(nv.name, "UEFI_NV");
  std::vector<uint8_t> junk(nv.sectorCount * 512, 0x5A);
  rig.handset().emmc().Write(nv.firstSector, junk.data(), junk.size());
  ASSERT_EQ(rig.Run(), 1) << rig.Log();

  EXPECT_FALSE(rig.handset().emmc().IsWritten(nv.firstSector));
  const std::string log = rig.Log();
  size_t uefi = log.find("[Channel 0] Channel Get UEFI  WritePartitionData !!");
  size_t last = uefi;
  for (const char* name : {"UEFI_BS_NV", "UEFI_NV", "UEFI_RT_NV", "UEFI_RT_NV_RPMB"}) {
    size_t at = log.find(std::string("[Channel 0] Channel Erase ") + name + "  Partition !!\r\n");
    EXPECT_GT(at, last) << name;
    last = at;
  }
  EXPECT_LT(last, log.find("[Channel 0] Channel Get PLAT  info !!"));
}

TEST(ChannelDownload, L330rBootGroupWritesDbiAndTzappsInsteadOfSbl2AndSbl3) {
  OsImageSpec spec;
  spec.model = "QN-L330R_SIGN";
  const std::string os = BuildOsImage(spec, "l330r.kx4");
  CscImageSpec cscSpec;
  cscSpec.model = "QN-L330R";
  const std::string csc = BuildCscImage(cscSpec, "l330r.csc");
  HandsetConfig c = HandsetFor(os);
  c.modelName = "QN-L330R_SIGN";
  ChannelRig rig(c, 0);
  rig.LoadImages(os, csc);
  ASSERT_EQ(rig.host.image.CurrentModelFamily, image::ModelFamily::FamilyL330R);
  ASSERT_EQ(rig.Run(), 1) << rig.Log();

  for (const char* name : {"SBL1", "DBI", "TZAPPS", "TZ", "WINSECAPP"})
    EXPECT_TRUE(PartitionOnHandset(rig.handset(), os, name)) << name;
  EXPECT_TRUE(PartitionEmpty(rig.handset(), os, "SBL2"));
  EXPECT_TRUE(PartitionEmpty(rig.handset(), os, "SBL3"));
  const std::string log = rig.Log();
  EXPECT_LT(log.find("Get SBL1  info"), log.find("Get DBI  info"));
  EXPECT_LT(log.find("Get DBI  info"), log.find("Get TZAPPS  info"));
  EXPECT_LT(log.find("Get TZAPPS  info"), log.find("Get TZ  info"));
}

TEST(ChannelDownload, ProductHandsetGetsTheProductSignatures) {
  const Images& img = ProductImages();
  HandsetConfig c = HandsetFor(img.os);
  c.deviceTypeAnswer = "KX4_Product";
  ChannelRig rig(c, 0);
  rig.LoadImages(img.os, img.csc);
  ASSERT_EQ(rig.Run(), 1) << rig.Log();
  EXPECT_NE(rig.Log().find("[Channel 0] AskDeviceType is Product !!"), std::string::npos);
  auto region = ReadHeaderRegion(img.os);
  auto blocks = rig.handset().SignatureBlocks();
  ASSERT_EQ(blocks.size(), 3u);
  const uint32_t slots[3] = {3, 4, 5};  // SBL1, TZ, UEFI in writing order
  for (size_t i = 0; i < 3; ++i) {
    const uint8_t* product = region.data() + image::SIGNATURE_SLOTS_OFFSET +
                             slots[i] * image::SIGNATURE_SLOT_SIZE + image::SIGNATURE_BLOCK_SIZE;
    EXPECT_TRUE(std::equal(blocks[i].data.begin(), blocks[i].data.end(), product)) << i;
  }
  for (const auto& r : rig.handset().Requests())
    if (r.command == protocol::CMD_WRITE_DATA && r.param1 == 64) {
      EXPECT_EQ(r.dataKind, 0xA1);
    }
}

TEST(ChannelDownload, SecureHandsetHasItsFlagSetAfterTheTableAndClearedAtTheEnd) {
  for (uint32_t type : {0x2ECAD88Du, 0x2EC6D88Du}) {  // secure, don't care
    OsImageSpec spec;
    spec.imageType = type;
    const std::string os = BuildOsImage(spec, "secure.kx4");
    HandsetConfig c = HandsetFor(os);
    c.securityAnswer = "SEC_MODE";
    ChannelRig rig(c, 0);
    rig.LoadImages(os, ProductImages().csc);
    ASSERT_EQ(rig.Run(), 1) << rig.Log();
    auto cmds = Commands(rig.handset());
    const size_t set = IndexOf(cmds, protocol::CMD_DOWNLOAD_FLAG_SET);
    const size_t end = IndexOf(cmds, protocol::CMD_WRITE_END);  // the table's end command
    EXPECT_LT(end, set);
    EXPECT_LT(set, IndexOf(cmds, protocol::CMD_FILE_RECORD));
    const size_t clear = IndexOf(cmds, protocol::CMD_DOWNLOAD_FLAG_CLEAR);
    EXPECT_LT(clear, IndexOf(cmds, protocol::CMD_RESET));
    EXPECT_GT(clear, IndexOf(cmds, protocol::CMD_FILE_RECORD));
    EXPECT_FALSE(rig.handset().DownloadFlag());
    EXPECT_NE(rig.Log().find("[Channel 0] Set download Flag success!!\r\n"), std::string::npos);
  }
}

TEST(ChannelDownload, DiscreteOsPartsAtHighAndNormalSpeed) {
  OsImageSpec spec;
  spec.discreteOs = true;
  const std::string os = BuildOsImage(spec, "discrete.kx4");
  for (bool high : {true, false}) {
    HandsetConfig c = HandsetFor(os);
    c.highSpeed = high;
    ChannelRig rig(c, 0);
    rig.LoadImages(os, ProductImages().csc);
    ASSERT_EQ(rig.Run(), 1) << rig.Log();
    EXPECT_TRUE(PartitionOnHandset(rig.handset(), os, "MainOS"));
    EXPECT_TRUE(PartitionOnHandset(rig.handset(), os, "Data"));
    const auto mainOs = EntryNamed(ReadHeaderRegion(os), "MainOS");
    bool sawDiscrete = false;
    for (const auto& r : rig.handset().Requests()) {
      if (r.command != protocol::CMD_WRITE_DATA || r.param1 < mainOs.startSector ||
          r.param1 >= mainOs.startSector + mainOs.sectorCount)
        continue;
      sawDiscrete = true;
      EXPECT_EQ(r.length, high ? r.param2 + 512 : 65536u);
      EXPECT_EQ(r.dataKind, 0x1A);
    }
    EXPECT_TRUE(sawDiscrete);
    EXPECT_NE(rig.Log().find(high ? "High Speed discrete part!!" : "Normal Speed discrete part!!"),
              std::string::npos);
  }
}

}  // namespace

namespace {

// Edge cases of the sequence's end: no CrashDump entry, and channel 9's elapsed time.
TEST(ChannelDownloadEdges, ImageWithoutCrashDumpCompletesTheOsGroup) {
  testsupport::OsImageSpec spec;
  spec.withCrashDump = false;
  static const std::string os = BuildOsImage(spec, "success_no_crashdump.kx4");
  ChannelRig rig(HandsetFor(os), 0);
  rig.LoadImages(os, ProductImages().csc);
  ASSERT_EQ(rig.Run(), 1) << rig.Log();
  for (const char* name : {"EFIESP", "MMOS", "MainOS", "Data"})
    EXPECT_TRUE(PartitionOnHandset(rig.handset(), os, name)) << name;
  EXPECT_EQ(rig.host.Progress(0).back().value, 300);
  EXPECT_TRUE(rig.host.FailureTexts(0).empty());
}

// The elapsed time on the done text counts from after the stagger, not from the start.
TEST(ChannelDownloadEdges, ChannelNineCountsItsTimeAfterItsWait) {
  const Images& img = ProductImages();
  ChannelRig rig(HandsetFor(img.os), 9);
  rig.LoadImages(img.os, img.csc);
  platform::Clock& clock = rig.host.Clock();
  const uint32_t before = clock.TickCount();
  ASSERT_EQ(rig.Run(), 1) << rig.Log();
  const uint32_t total = clock.TickCount() - before;
  const auto done = rig.host.Progress(9).back();
  ASSERT_EQ(done.value, 300);
  ASSERT_GT(total, 900u);
  EXPECT_LE(done.detail, total - 900);
  EXPECT_GT(done.detail, 0u);
}

}  // namespace
