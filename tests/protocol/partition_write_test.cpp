// Partitions as the handset receives them: lookup, the partition-table check,
// contiguous parts (signature blocks, rounding and padding, progress, the end
// command), discrete parts (maps, speeds, packet sizes), the Recover writer, and
// images whose entries point past their file.
#include "protocol/partition_write.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_rig.h"
#include "handset/gpt_table.h"
#include "protocol/command_packet.h"
#include "support/flashing/handset_image_check.h"

namespace {

using handset::HandsetConfig;
using handset::RequestRecord;
using protocoltest::CommandRig;
using protocoltest::Pattern;
using protocoltest::RawImage;
using protocoltest::TestName;
using namespace protocol;

constexpr uint32_t kPacket = 0xFC00;
constexpr uint32_t kHighSpeedPacket = 0x4FFC00;

// A channel past its interrogation: a REV10 engineer handset.
struct Writer : CommandRig {
  explicit Writer(HandsetConfig c = {}) : CommandRig(std::move(c)) {
    flags().UefiVersion = UEFI_VERSION_REV10;
  }
  std::vector<RequestRecord> DataPackets() {
    std::vector<RequestRecord> out;
    for (const auto& r : Since(CMD_WRITE_DATA))
      if (r.param1 != SIGNATURE_BLOCK_PARAM) out.push_back(r);
    return out;
  }
  std::vector<int32_t> Shown() { return host().ProgressValues(0); }
  std::vector<uint8_t> OnHandset(uint32_t sector, size_t bytes) {
    auto v = handset().emmc().Read(sector, (bytes + 511) / 512);
    v.resize(bytes);
    return v;
  }
};

TEST(FindPartitionEntry, ExactNameInAnyOfTheThirtyTwoSlots) {
  Writer w;
  RawImage img;
  img.AddContiguous(0, "GPT2", 100, Pattern(10, 1));
  img.AddContiguous(5, "gpt", 200, Pattern(10, 2));
  img.AddContiguous(31, "GPT", 300, Pattern(10, 3));
  img.AddContiguous(30, "MainOS", 400, Pattern(10, 4));
  img.AddContiguous(31 - 2, "MainOS", 500, Pattern(10, 5));
  w.Load(img, TestName());
  auto gpt = FindPartitionEntry(w.ch, PART_GPT);
  ASSERT_TRUE(gpt.has_value());
  EXPECT_EQ(gpt->startSector, 300u);
  auto mainOs = FindPartitionEntry(w.ch, PART_MAINOS);
  ASSERT_TRUE(mainOs.has_value());
  EXPECT_EQ(mainOs->startSector, 500u) << "the first slot holding the name wins";
  EXPECT_FALSE(FindPartitionEntry(w.ch, PART_DATA).has_value());
}

TEST(CheckPartitionInfo, SendsTheTableAfterTheProtectiveRecord) {
  const std::vector<handset::GptPartition> parts = {{"MainOS", 4096, 8192}, {"Data", 16384, 512}};
  HandsetConfig c;
  c.emmcSectors = 1 << 20;
  c.partitions = parts;
  Writer w(c);
  RawImage img;
  img.AddContiguous(3, "GPT", 0, handset::BuildGpt(parts, c.emmcSectors));
  w.Load(img, TestName());
  EXPECT_EQ(CheckPartitionInfo(w.ch), 0);
  auto asked = w.Since();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].command, CMD_CHECK_PARTITION_INFO);
  EXPECT_EQ(asked[0].tag, TAG_COMMAND);
  EXPECT_EQ(asked[0].answer, "KX4_ACK");

  RawImage other;
  other.AddContiguous(3, "GPT", 0, handset::BuildGpt({{"MainOS", 4096, 8000}}, c.emmcSectors));
  w.Load(other, TestName() + "2");
  EXPECT_EQ(CheckPartitionInfo(w.ch), 1);
}

TEST(CheckPartitionInfo, NoTableOrATableCutShortSendsNothing) {
  Writer w;
  RawImage none;
  none.AddContiguous(0, "SBL1", 64, Pattern(100, 1));
  w.Load(none, TestName());
  EXPECT_EQ(CheckPartitionInfo(w.ch), 1);

  RawImage cut;
  cut.AddContiguous(0, "GPT", 0, Pattern(3000, 1));  // ends before 512 + 5120 bytes
  w.Load(cut, TestName() + "2");
  EXPECT_EQ(CheckPartitionInfo(w.ch), 1);
  EXPECT_TRUE(w.Since().empty());
}

TEST(WriteContiguousPart, EmptyPartitionSendsOnlyTheEndCommand) {
  Writer w;
  RawImage img;
  auto e = img.AddContiguous(0, "PLAT", 2624, {});
  w.Load(img, TestName());
  EXPECT_EQ(WriteContiguousPart(w.ch, e), 0);
  auto sent = w.Since();
  ASSERT_EQ(sent.size(), 2u) << "unjudged end command, then the confirmed one";
  for (const auto& r : sent) {
    EXPECT_EQ(r.command, CMD_WRITE_END);
    EXPECT_EQ(r.tag, TAG_COMMAND);
  }
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{100}));
  EXPECT_EQ(w.host().Positions(0), (std::vector<int32_t>{100}));

  // Older firmware gets no end command and no display.
  Writer old;
  old.flags().UefiVersion = UEFI_VERSION_UNKNOWN;
  old.Load(img, TestName() + "2");
  EXPECT_EQ(WriteContiguousPart(old.ch, e), 0);
  EXPECT_TRUE(old.Since().empty());
  EXPECT_TRUE(old.Shown().empty());
}

// The last packet's length is rounded up to whole sectors; the bytes after the data
// are zeros on the handset, not the tail of the packet before.
TEST(WriteContiguousPart, LastPacketRoundedUpAndPaddedWithZeros) {
  Writer w;
  RawImage img;
  const auto data = Pattern(kPacket + 100, 7);
  auto e = img.AddContiguous(0, "SBL2", 320, data);
  w.Load(img, TestName());
  EXPECT_EQ(WriteContiguousPart(w.ch, e), 0);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0].param1, 320u);
  EXPECT_EQ(packets[0].param2, kPacket);
  EXPECT_EQ(packets[1].param1, 320u + kPacket / 512);
  EXPECT_EQ(packets[1].param2, 512u);
  EXPECT_EQ(packets[1].length, PACKET_SIZE);
  EXPECT_EQ(w.OnHandset(320, data.size()), data);
  auto last = w.handset().emmc().Read(320 + kPacket / 512, 1);
  EXPECT_EQ(std::vector<uint8_t>(last.begin() + 100, last.end()), std::vector<uint8_t>(412, 0));
  auto ends = w.Since(CMD_WRITE_END);
  EXPECT_EQ(ends.size(), 2u);
}

TEST(WriteContiguousPart, SignatureBlockFromSlotThreeOnFirst) {
  RawImage img;
  const auto engineer = Pattern(image::SIGNATURE_BLOCK_SIZE, 31);
  const auto product = Pattern(image::SIGNATURE_BLOCK_SIZE, 32);
  img.SetSignatures(3, engineer, product);
  img.SetSignatures(2, Pattern(image::SIGNATURE_BLOCK_SIZE, 21),
                    Pattern(image::SIGNATURE_BLOCK_SIZE, 22));
  const auto data = Pattern(3000, 9);
  auto unsigned2 = img.AddContiguous(0, "RPM", 1600, data, 2);
  auto signed3 = img.AddContiguous(1, "SBL1", 64, data, 3);

  {
    Writer w;
    w.Load(img, TestName());
    EXPECT_EQ(WriteContiguousPart(w.ch, unsigned2), 0);
    EXPECT_TRUE(w.handset().SignatureBlocks().empty());
    auto packets = w.Since(CMD_WRITE_DATA);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].dataKind, DATA_KIND_PLAIN);
    EXPECT_EQ(packets[0].tag, 0);

    w.Mark();
    EXPECT_EQ(WriteContiguousPart(w.ch, signed3), 0);
    auto sent = w.Since(CMD_WRITE_DATA);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].param1, SIGNATURE_BLOCK_PARAM);
    EXPECT_EQ(sent[0].param2, SIGNATURE_BLOCK_PARAM);
    EXPECT_EQ(sent[0].tag, 0);
    EXPECT_EQ(sent[0].length, PACKET_SIZE);
    EXPECT_EQ(sent[1].dataKind, DATA_KIND_SIGNED);
    EXPECT_EQ(sent[1].tag, 1) << "the block took tag 0";
    EXPECT_EQ(sent[1].param1, 64u);
    auto blocks = w.handset().SignatureBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data, engineer);
    EXPECT_EQ(blocks[0].beforeSector, 64u);
  }
  {
    Writer w;
    w.flags().ProductSignature = 1;
    w.Load(img, TestName() + "product");
    EXPECT_EQ(WriteContiguousPart(w.ch, signed3), 0);
    auto blocks = w.handset().SignatureBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data, product);
  }
  {
    Writer w;
    w.flags().LegacyEngineer = 1;
    w.Load(img, TestName() + "legacy");
    EXPECT_EQ(WriteContiguousPart(w.ch, signed3), 0);
    EXPECT_TRUE(w.handset().SignatureBlocks().empty());
    auto packets = w.Since(CMD_WRITE_DATA);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].dataKind, DATA_KIND_PLAIN);
    EXPECT_EQ(packets[0].tag, 0);
    EXPECT_EQ(w.OnHandset(64, data.size()), data);
  }
}

// A refused block does not stop the data; the partition fails at the end, with no end
// command and no 100 % display.
TEST(WriteContiguousPart, RefusedSignatureBlockFailsAfterTheData) {
  HandsetConfig c;
  c.faults.nakDataPacket = 1;
  c.faults.nakTimes = 2;
  Writer w(c);
  RawImage img;
  img.SetSignatures(4, Pattern(image::SIGNATURE_BLOCK_SIZE, 1),
                    Pattern(image::SIGNATURE_BLOCK_SIZE, 2));
  const auto data = Pattern(5000, 3);
  auto e = img.AddContiguous(0, "TZ", 1088, data, 4);
  w.Load(img, TestName());
  EXPECT_EQ(WriteContiguousPart(w.ch, e), 1);
  EXPECT_EQ(w.DataPackets().size(), 1u);
  EXPECT_EQ(w.OnHandset(1088, data.size()), data);
  EXPECT_TRUE(w.Since(CMD_WRITE_END).empty());
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{0}));
}

// Percents: the packet carries the percent computed after the packet before; the bar
// is drawn only when the percent changes.
TEST(WriteContiguousPart, ProgressStartsAtZeroAndIsShownOnlyWhenItChanges) {
  Writer w;
  RawImage img;
  const uint32_t total = 7000000;  // over 100 packets: some share a percent
  const auto data = Pattern(total, 5);
  auto e = img.AddContiguous(0, "EFIESP", 2880, data);
  w.Load(img, TestName());
  EXPECT_EQ(WriteContiguousPart(w.ch, e), 0);

  auto packets = w.DataPackets();
  const size_t count = (total + kPacket - 1) / kPacket;
  ASSERT_EQ(packets.size(), count);
  std::vector<int32_t> expectedShown;
  int32_t computed = 0;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(packets[i].progress, computed) << "packet " << i;
    EXPECT_EQ(packets[i].tag, static_cast<uint8_t>(i));
    computed = static_cast<int32_t>(i * kPacket / (total / 100));
    if (expectedShown.empty() || expectedShown.back() != computed)
      expectedShown.push_back(computed);
  }
  expectedShown.push_back(100);
  EXPECT_EQ(expectedShown.front(), 0);
  EXPECT_LT(expectedShown.size(), count);
  EXPECT_EQ(w.Shown(), expectedShown);
  EXPECT_EQ(w.host().Positions(0), expectedShown);
  for (const auto& p : w.host().Progress(0)) EXPECT_EQ(p.label, "EFIESP");
  EXPECT_EQ(w.OnHandset(2880, data.size()), data);
}

TEST(WriteContiguousPart, PartitionUnderAHundredBytesShowsZeroThenHundred) {
  Writer w;
  RawImage img;
  const auto data = Pattern(37, 4);
  auto e = img.AddContiguous(0, "WINSECAPP", 2368, data);
  w.Load(img, TestName());
  EXPECT_EQ(WriteContiguousPart(w.ch, e), 0);
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{0, 100}));
  ASSERT_EQ(w.DataPackets().size(), 1u);
  EXPECT_EQ(w.DataPackets()[0].param2, 512u);
  EXPECT_EQ(w.OnHandset(2368, 512), [&] {
    auto v = data;
    v.resize(512, 0);
    return v;
  }());
}

// An entry that points past the end of its file fails at the first packet it cannot
// fill: what is sent is only ever image data.
TEST(WriteContiguousPart, EntryPastTheEndOfTheFileFailsWithoutSendingIt) {
  Writer w;
  RawImage img;
  auto whole = img.AddContiguous(0, "MMOS", 3904, Pattern(kPacket + 4000, 6));
  auto beyond = whole;
  beyond.length = kPacket + 5000;  // the last 1000 bytes are not in the file
  auto outside = whole;
  outside.fileOffset = static_cast<uint32_t>(img.bytes().size()) + 10;
  w.Load(img, TestName());

  EXPECT_EQ(WriteContiguousPart(w.ch, beyond), 1);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 1u) << "the full first packet only";
  EXPECT_EQ(packets[0].param2, kPacket);
  EXPECT_TRUE(w.Since(CMD_WRITE_END).empty());
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{0}));
  EXPECT_FALSE(w.handset().emmc().IsWritten(3904 + kPacket / 512));

  w.Mark();
  EXPECT_EQ(WriteContiguousPart(w.ch, outside), 1);
  EXPECT_TRUE(w.Since().empty());
}

// The handset refuses a packet twice: the partition stops there.
TEST(WriteContiguousPart, UnconfirmedPacketStopsThePartition) {
  HandsetConfig c;
  c.faults.nakDataPacket = 2;
  c.faults.nakTimes = 2;
  Writer w(c);
  RawImage img;
  auto e = img.AddContiguous(0, "UEFI", 1856, Pattern(3 * kPacket, 8));
  w.Load(img, TestName());
  EXPECT_EQ(WriteContiguousPart(w.ch, e), 1);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 3u) << "first packet, second one and its single resend";
  EXPECT_EQ(packets[1].tag, packets[2].tag);
  EXPECT_EQ(packets[2].answer, "KX4_NAK");
  EXPECT_TRUE(w.Since(CMD_WRITE_END).empty());
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{0}));
}

std::vector<uint8_t> RunData(const std::string& imagePath, const image::PartitionEntry& e,
                             uint64_t skip, size_t bytes) {
  return testsupport::ReadFileBytes(imagePath, e.fileOffset + image::DISCRETE_MAP_SIZE + skip,
                                    bytes);
}

TEST(WriteDiscretePart, InvalidMapsFailWithoutAPacket) {
  RawImage img;
  auto good = img.AddDiscrete(0, "MainOS", 4416, {{0, 4}}, 1);
  struct Broken {
    size_t at;
    uint32_t value;
  };
  const std::vector<Broken> cases = {{0, 0xEACC9443}, {4, 0x7260EACD}, {8, 0}, {8, 511}};
  for (size_t i = 0; i < cases.size(); ++i) {
    RawImage copy = img;
    platform::PutLe32(copy.bytes().data() + good.fileOffset + cases[i].at, cases[i].value);
    Writer w;
    w.Load(copy, TestName() + std::to_string(i));
    EXPECT_EQ(WriteDiscretePart(w.ch, good), 1) << i;
    EXPECT_TRUE(w.Since().empty()) << i;
    EXPECT_EQ(w.Shown(), (std::vector<int32_t>{100})) << i;
    EXPECT_EQ(w.Log(),
              "[Channel 0] Channel Start Discrete Part Write !!\r\n"
              "[Channel 0] Channel End Discrete Part Write !!\r\n");
    EXPECT_EQ(w.handset().emmc().WrittenSectorCount(), 0u);
  }
}

// The runs ask for more data than the part holds: the rest would come from the next
// partition's bytes in the file.
TEST(WriteDiscretePart, MapAskingMoreThanThePartHoldsFailsWithoutAPacket) {
  Writer w;
  RawImage img;
  auto e = img.AddDiscrete(0, "MainOS", 4416, {{0, 4}, {8, 4}}, 1);
  img.AddContiguous(1, "CrashDump", 10560, Pattern(4096, 2));
  e.length -= 512;
  img.SetEntry(0, e);
  w.Load(img, TestName());
  EXPECT_EQ(WriteDiscretePart(w.ch, e), 1);
  EXPECT_TRUE(w.Since().empty());
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{100}));
  EXPECT_EQ(w.handset().emmc().WrittenSectorCount(), 0u);
}

TEST(WriteDiscretePart, EmptyRunSendsNothingAndRunsLandAtTheirSectors) {
  Writer w;
  RawImage img;
  auto e = img.AddDiscrete(0, "Data", 8512, {{0, 4}, {10, 0}, {20, 2}}, 3);
  w.Load(img, TestName());
  EXPECT_EQ(WriteDiscretePart(w.ch, e), 0);
  auto sent = w.Since();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].command, CMD_HIGH_SPEED_QUERY);
  EXPECT_EQ(sent[0].tag, 0xF3);
  EXPECT_EQ(sent[1].param1, 8512u);
  EXPECT_EQ(sent[1].param2, 4u * 512);
  EXPECT_EQ(sent[1].length, 4u * 512 + 512);
  EXPECT_EQ(sent[1].dataKind, DATA_KIND_PLAIN);
  EXPECT_EQ(sent[2].param1, 8512u + 20);
  EXPECT_EQ(sent[2].param2, 2u * 512);
  EXPECT_EQ(sent[2].tag, 1);
  const auto path = w.host().image.OsImagePath;
  EXPECT_EQ(w.OnHandset(8512, 2048), RunData(path, e, 0, 2048));
  EXPECT_EQ(w.OnHandset(8532, 1024), RunData(path, e, 2048, 1024));
  EXPECT_EQ(w.handset().emmc().WrittenSectorCount(), 6u);
  EXPECT_EQ(w.Log(),
            "[Channel 0] Channel Start Discrete Part Write !!\r\n"
            "[Channel 0] High Speed discrete part!!\r\n"
            "[Channel 0] Channel End Discrete Part Write !!\r\n");
}

TEST(WriteDiscretePart, TwelveMegabyteRunAtHighSpeed) {
  Writer w;
  RawImage img;
  const uint32_t sectors = 12 * 1024 * 1024 / 512;
  auto e = img.AddDiscrete(0, "MainOS", 100000, {{16, sectors}}, 12);
  w.Load(img, TestName());
  EXPECT_EQ(WriteDiscretePart(w.ch, e), 0);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 3u);
  const uint32_t rest = 12 * 1024 * 1024 - 2 * kHighSpeedPacket;
  const uint32_t sizes[3] = {kHighSpeedPacket, kHighSpeedPacket, rest};
  uint32_t sector = 100016;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(packets[i].param2, sizes[i]);
    EXPECT_EQ(packets[i].length, sizes[i] + 512);
    EXPECT_EQ(packets[i].param1, sector);
    EXPECT_EQ(packets[i].tag, i);
    sector += sizes[i] / 512;
  }
  EXPECT_EQ(packets[0].progress, 0);
  EXPECT_EQ(packets[1].progress, 0);
  EXPECT_EQ(packets[2].progress, 41);  // 0x4FFC00 of 12 MB
  EXPECT_EQ(w.Shown(), (std::vector<int32_t>{0, 41, 83, 100}));
  EXPECT_EQ(w.OnHandset(100016, 12 * 1024 * 1024),
            RunData(w.host().image.OsImagePath, e, 0, 12 * 1024 * 1024));
}

TEST(WriteDiscretePart, NormalSpeedSendsSixtyFourKilobytePackets) {
  HandsetConfig c;
  c.highSpeed = false;
  Writer w(c);
  RawImage img;
  auto e = img.AddDiscrete(0, "MainOS", 4416, {{0, 300}}, 2);
  w.Load(img, TestName());
  EXPECT_EQ(WriteDiscretePart(w.ch, e), 0);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].param2, kPacket);
  EXPECT_EQ(packets[1].param2, kPacket);
  EXPECT_EQ(packets[2].param2, 300u * 512 - 2 * kPacket);
  for (const auto& p : packets) EXPECT_EQ(p.length, PACKET_SIZE);
  EXPECT_EQ(packets[1].param1, 4416u + kPacket / 512);
  EXPECT_NE(w.Log().find("[Channel 0] Normal Speed discrete part!!\r\n"), std::string::npos);
  EXPECT_EQ(w.OnHandset(4416, 300 * 512), RunData(w.host().image.OsImagePath, e, 0, 300 * 512));
}

// Tags are one byte: after 256 packets of one partition they start again at 0.
TEST(WriteDiscretePart, TagWrapsAfter256PacketsAndPercentsAreShownOnce) {
  Writer w;
  RawImage img;
  std::vector<std::pair<uint32_t, uint32_t>> runs;
  for (uint32_t i = 0; i < 260; ++i) runs.push_back({2 * i, 1});
  auto e = img.AddDiscrete(0, "MainOS", 4416, runs, 4);
  w.Load(img, TestName());
  EXPECT_EQ(WriteDiscretePart(w.ch, e), 0);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 260u);
  EXPECT_EQ(packets[255].tag, 255);
  EXPECT_EQ(packets[256].tag, 0);
  EXPECT_EQ(packets[259].tag, 3);
  EXPECT_EQ(packets[259].param1, 4416u + 2 * 259);
  auto shown = w.Shown();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown.front(), 0);
  EXPECT_EQ(shown.back(), 100);
  EXPECT_LT(shown.size(), 102u);
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_GT(shown[i], shown[i - 1]);
}

TEST(WriteDiscretePart, RunDataPastTheEndOfTheFileFails) {
  Writer w;
  RawImage img;
  auto e = img.AddDiscrete(0, "Data", 8512, {{0, 4}, {8, 300}}, 3);
  img.bytes().resize(img.bytes().size() - 512);
  w.Load(img, TestName());
  EXPECT_EQ(WriteDiscretePart(w.ch, e), 1);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].param2, 4u * 512);
  EXPECT_EQ(w.handset().emmc().WrittenSectorCount(), 4u);
  EXPECT_EQ(w.Shown().back(), 100);
}

TEST(WritePartition, MissingEntryFailsOnlyAMandatoryPartition) {
  Writer w;
  RawImage img;
  img.AddContiguous(0, "SBL1", 64, Pattern(100, 1));
  w.Load(img, TestName());
  EXPECT_EQ(WritePartition(w.ch, PART_CRASHDUMP, 1), 0);
  EXPECT_EQ(w.Log(), "[Channel 0] Channel Get CrashDump  info !!\r\n");
  EXPECT_TRUE(w.host().FailureTexts(0).empty());

  const uint32_t before = w.ch.clock.TickCount();
  EXPECT_EQ(WritePartition(w.ch, PART_TZ, 0), 1);
  EXPECT_GE(w.ch.clock.TickCount() - before, 2000u) << "the failure stays on the bar 2 s";
  EXPECT_EQ(w.Log(),
            "[Channel 0] Channel Get CrashDump  info !!\r\n"
            "[Channel 0] Channel Get TZ  info !!\r\n"
            "[Channel 0] Channel Get TZ  info fail !!\r\n");
  EXPECT_EQ(w.host().FailureTexts(0),
            (std::vector<std::string>{"[Channel 0] Channel Get TZ  info fail !!"}));
  EXPECT_TRUE(w.Since().empty());
}

TEST(WritePartition, FailedWriteOfAMandatoryPartitionIsReported) {
  HandsetConfig c;
  c.faults.nakDataPacket = 1;
  c.faults.nakTimes = 2;
  Writer w(c);
  RawImage img;
  img.AddContiguous(0, "RPM", 1600, Pattern(1000, 1));
  img.AddDiscrete(1, "MMOS", 3904, {{0, 2}}, 2);
  w.Load(img, TestName());
  EXPECT_EQ(WritePartition(w.ch, PART_RPM, 0), 1);
  EXPECT_EQ(w.Log(),
            "[Channel 0] Channel Get RPM  info !!\r\n"
            "[Channel 0] Channel Get RPM  WritePartitionData !!\r\n"
            "[Channel 0] Channel RPM  Write fail !!\r\n");
  EXPECT_EQ(w.host().FailureTexts(0),
            (std::vector<std::string>{"[Channel 0] Channel RPM  Write fail !!"}));

  // A discrete entry goes the discrete way; the handset takes it this time.
  w.Mark();
  EXPECT_EQ(WritePartition(w.ch, PART_MMOS, 0), 0);
  EXPECT_EQ(w.Since().front().command, CMD_HIGH_SPEED_QUERY);
  EXPECT_TRUE(w.handset().emmc().IsWritten(3904));
}

TEST(WritePartition, FailedWriteOfAnOptionalPartitionCountsAsDone) {
  HandsetConfig c;
  c.faults.nakDataPacket = 1;
  c.faults.nakTimes = 2;
  Writer w(c);
  RawImage img;
  img.AddContiguous(0, "CrashDump", 10560, Pattern(1000, 1));
  w.Load(img, TestName());
  EXPECT_EQ(WritePartition(w.ch, PART_CRASHDUMP, 1), 0);
  EXPECT_TRUE(w.host().FailureTexts(0).empty());
  EXPECT_EQ(w.Log().find("Write fail"), std::string::npos);
  // Silent on the window, but the channel's record hears of it.
  EXPECT_EQ(w.host().PassedOverOf(0), (std::vector<std::string>{"CrashDump write failed"}));
}

TEST(WritePartition, AnOptionalPartitionTheImageLacksIsNoFailure) {
  Writer w;
  RawImage img;
  img.AddContiguous(0, "Data", 10560, Pattern(1000, 1));
  w.Load(img, TestName());
  EXPECT_EQ(WritePartition(w.ch, PART_CRASHDUMP, 1), 0);
  EXPECT_TRUE(w.host().PassedOverOf(0).empty());
}

std::vector<uint8_t> RecoverAnswer(const std::string& name) {
  std::vector<uint8_t> answer(PACKET_SIZE, 0);
  platform::PutUtf16Le(answer.data() + ANS_RECOVER_NAME, name);
  return answer;
}

TEST(WriteRecoverData, WritesTheLastDataEntryBeforeTheFirstEmptySlot) {
  Writer w;
  RawImage img;
  img.AddDiscrete(0, "Data", 20000, {{0, 1}}, 1);
  auto second = img.AddDiscrete(1, "Data", 30000, {{0, 2}}, 2);
  second.format = 0;  // written as a discrete part whatever its format says
  img.SetEntry(1, second);
  img.AddDiscrete(3, "Data", 40000, {{0, 3}}, 3);  // after the empty slot 2
  w.Load(img, TestName());
  auto answer = RecoverAnswer("Data");
  EXPECT_EQ(WriteRecoverData(w.ch, answer.data()), 0);
  auto packets = w.DataPackets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].param1, 30000u);
  EXPECT_EQ(packets[0].param2, 1024u);
}

TEST(WriteRecoverData, OtherNameOrNoEntryIsRefusedWithoutAWord) {
  Writer w;
  RawImage img;
  img.AddDiscrete(0, "Data", 20000, {{0, 1}}, 1);
  w.Load(img, TestName());
  for (const char* name : {"data", "Dat", "DataX", ""}) {
    auto answer = RecoverAnswer(name);
    EXPECT_EQ(WriteRecoverData(w.ch, answer.data()), 1) << name;
  }
  RawImage noData;
  noData.AddDiscrete(0, "MainOS", 20000, {{0, 1}}, 1);
  w.Load(noData, TestName() + "2");
  auto answer = RecoverAnswer("Data");
  EXPECT_EQ(WriteRecoverData(w.ch, answer.data()), 1);
  EXPECT_TRUE(w.Since().empty());
  EXPECT_EQ(w.Log(), "");
  EXPECT_TRUE(w.host().Progress(0).empty());
}

TEST(WriteRecoverData, FailedWriteShowsTheDataFailure) {
  HandsetConfig c;
  c.faults.nakDataPacket = 1;
  c.faults.nakTimes = 2;
  Writer w(c);
  RawImage img;
  img.AddDiscrete(0, "Data", 20000, {{0, 1}}, 1);
  w.Load(img, TestName());
  auto answer = RecoverAnswer("Data");
  EXPECT_EQ(WriteRecoverData(w.ch, answer.data()), 1);
  EXPECT_NE(w.Log().find("[Channel 0] Channel End Discrete Part Write !!\r\n"
                         "[Channel 0] Channel Data  Write fail !!\r\n"),
            std::string::npos);
  EXPECT_EQ(w.host().FailureTexts(0),
            (std::vector<std::string>{"[Channel 0] Channel Data  Write fail !!"}));
}

}  // namespace
