// The bounded readers on bad input: short buffers, bad maps, bad CSC records and
// entries that point past the file.
#include <gtest/gtest.h>

#include "image/csc_package.h"
#include "image/smd_reader.h"
#include "image_bytes.h"

namespace {

std::vector<uint8_t> Map(uint32_t count) {
  std::vector<uint8_t> m(image::DISCRETE_MAP_SIZE, 0);
  platform::PutLe32(m.data(), image::DISCRETE_MAP_WORD1);
  platform::PutLe32(m.data() + 4, image::DISCRETE_MAP_WORD2);
  platform::PutLe32(m.data() + 8, count);
  return m;
}

TEST(SmdHeader, DecodesFieldsAndStopsAtTheEndOfShortBuffers) {
  auto r = imagetest::Region("KX4_EMMC_MainOS", "QMR-K220_SIGN");
  imagetest::SetWord(r, image::HDR_IMAGE_TYPE, 0x2ECDD88D);
  std::memcpy(r.data() + image::HDR_LABEL, "ABCD", 4);  // no NUL: all 4 characters
  const image::SmdHeader h = image::DecodeSmdHeader(r.data(), r.size());
  EXPECT_EQ(h.magic, "KX4_EMMC_MainOS");
  EXPECT_EQ(h.model, "QMR-K220_SIGN");
  EXPECT_EQ(h.label, "ABCD");
  EXPECT_EQ(h.imageType, 0x2ECDD88Du);
  EXPECT_EQ(image::KindOfMagic(h.magic), image::ImageKind::Os);

  const image::SmdHeader cut = image::DecodeSmdHeader(r.data(), 0x14);
  EXPECT_EQ(cut.model, "QMR-");
  EXPECT_EQ(cut.imageType, 0u);
  std::memcpy(r.data(), "KX4_EMMC_CSC\0XYZ", 16);
  EXPECT_EQ(image::KindOfMagic(image::DecodeSmdHeader(r.data(), 96).magic), image::ImageKind::Csc);
  EXPECT_FALSE(image::KindOfMagic("KX4_EMMC_CS"));
}

TEST(PartitionTable, ShortRegionsDecodeAsFarAsTheyGo) {
  auto r = imagetest::Region("KX4_EMMC_MainOS");
  imagetest::SetEntryName(r, 0, "SBL1");
  imagetest::SetEntryName(r, 1, "SBL2");
  imagetest::SetWord(r, 0x200 + 64 + image::PE_START_SECTOR, 77);
  const auto table = image::DecodePartitionTable(r.data(), 0x200 + 64 + 0x12);
  EXPECT_EQ(table[0].name, "SBL1");
  EXPECT_EQ(table[1].name, "SBL2");
  EXPECT_EQ(table[1].startSector, 77u & 0xFFFF);
  EXPECT_EQ(table[2].name, "");
  std::memset(r.data() + 0x200, 'N', 16);  // unterminated name
  EXPECT_EQ(image::DecodePartitionTable(r.data(), r.size())[0].name, std::string(16, 'N'));
}

TEST(PartitionTable, EntriesPastTheEndOfTheFileAreReported) {
  image::PartitionEntry e;
  e.fileOffset = 0xFFFFFF00u;
  e.length = 0x200;  // 32-bit sum would wrap to a small value
  EXPECT_NE(image::CheckEntryBounds(e, 0x300000), "");
  e.fileOffset = 0x200C00;
  e.length = 0x1000;
  EXPECT_EQ(image::CheckEntryBounds(e, 0x201C00), "");
  EXPECT_NE(image::CheckEntryBounds(e, 0x201BFF), "");
  e.format = image::PARTITION_FORMAT_DISCRETE;
  e.length = 100;
  EXPECT_NE(image::CheckEntryBounds(e, 0x300000), "");
}

TEST(DiscreteMapReader, RefusesBadMapsAndAcceptsFull510Runs) {
  std::string why;
  EXPECT_FALSE(image::DecodeDiscreteMap(Map(1).data(), 4095, &why));
  EXPECT_EQ(why, "discrete map truncated");
  EXPECT_FALSE(image::DecodeDiscreteMap(Map(0).data(), 4096, &why));
  EXPECT_EQ(why, "discrete map has no runs");
  EXPECT_FALSE(image::DecodeDiscreteMap(Map(511).data(), 4096, &why));
  EXPECT_EQ(why, "discrete map has more than 510 runs");
  auto bad = Map(1);
  bad[4] ^= 1;
  EXPECT_FALSE(image::DecodeDiscreteMap(bad.data(), 4096, &why));

  auto full = Map(510);
  platform::PutLe32(full.data() + 4088, 12);
  platform::PutLe32(full.data() + 4092, 0xFFFFFFFFu);
  auto map = image::DecodeDiscreteMap(full.data(), 4096, &why);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->runs.back().firstSector, 12u);
  EXPECT_EQ(map->DataBytes(), 0xFFFFFFFFull * 512);  // no 32-bit wrap
  image::PartitionEntry e;
  e.length = 0xFFFFFFFFu;
  EXPECT_NE(image::CheckDiscreteLength(e, *map), "");

  std::vector<uint8_t> encoded(4096);
  image::EncodeDiscreteMap(*map, encoded.data());
  EXPECT_EQ(encoded, full);
}

TEST(CscPackageReader, WalksRecordsAndSaysWhyItStopped) {
  const std::vector<imagetest::RecordSpec> specs = {{"XEU", {3, 4}}, {"BTU", {}}, {"VDF", {1}}};
  auto p = imagetest::Package(specs);
  auto all = image::DecodeCscPackage(p.data(), p.size());
  ASSERT_TRUE(all.headerValid);
  ASSERT_EQ(all.records.size(), 3u);
  EXPECT_EQ(all.records[0].dataBytes, 7u);
  EXPECT_EQ(all.records[2].salesCode, "VDF");
  EXPECT_EQ(all.endOffset, p.size());

  auto cut = image::DecodeCscPackage(p.data(), p.size() - 1 - 672);
  EXPECT_EQ(cut.records.size(), 2u);
  EXPECT_EQ(cut.stoppedBy, image::CscRecordVerdict::kTruncated);

  p[imagetest::RecordOffset(specs, 1) + 11] = 'X';  // "BTU" + 'X': no NUL
  auto unterminated = image::DecodeCscPackage(p.data(), p.size());
  EXPECT_EQ(unterminated.records.size(), 1u);
  EXPECT_EQ(unterminated.stoppedBy, image::CscRecordVerdict::kUnterminatedSalesCode);

  EXPECT_FALSE(image::DecodeCscPackage(p.data(), 63).headerValid);
}

TEST(CscPackageReader, SevenItemsAreTheMostARecordHolds) {
  const std::pair<uint32_t, image::CscRecordVerdict> cases[] = {
      {7, image::CscRecordVerdict::kGood}, {8, image::CscRecordVerdict::kTooManyItems}};
  for (const auto& [count, verdict] : cases) {
    SCOPED_TRACE(count);
    auto p = imagetest::Package({{"XEU", {1, 2, 3, 4, 5, 6, 7}}});
    platform::PutLe32(p.data() + 64 + image::CSC_RECORD_ITEM_COUNT, count);
    image::CscRecord record;
    EXPECT_EQ(image::DecodeCscRecord(p.data() + 64, p.size() - 64, &record), verdict);
    if (verdict == image::CscRecordVerdict::kGood) {
      EXPECT_EQ(record.dataBytes, 28u);
    }
  }
}

TEST(CscPackageReader, HugeCountsAndLengthsStayInsideTheBuffer) {
  auto p = imagetest::Package({{"XEU", {}}}, 0xFFFFFFFFu);
  auto r = image::DecodeCscPackage(p.data(), p.size());
  EXPECT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.stoppedBy, image::CscRecordVerdict::kTruncated);

  p = imagetest::Package({{"XEU", {1}}, {"BTU", {}}});
  platform::PutLe32(p.data() + 64 + image::CSC_RECORD_ITEMS, 0xFFFFFFF0u);  // skip far past
  r = image::DecodeCscPackage(p.data(), p.size());
  EXPECT_EQ(r.records.size(), 1u);
  EXPECT_EQ(r.stoppedBy, image::CscRecordVerdict::kTruncated);

  platform::PutLe32(p.data() + 64 + 4, 8);
  EXPECT_EQ(image::DecodeCscPackage(p.data(), p.size()).stoppedBy,
            image::CscRecordVerdict::kTooManyItems);
}

}  // namespace
