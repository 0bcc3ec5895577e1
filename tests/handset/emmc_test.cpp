// The handset's eMMC in each storage, and the partition table codec it keeps on it.
#include "handset/emmc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "handset/gpt_table.h"
#include "support/test_env.h"

namespace {

using handset::Emmc;
using handset::kSectorSize;
using handset::StorageKind;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13);
  return v;
}

std::unique_ptr<Emmc> Make(StorageKind kind, uint64_t sectors) {
  const std::string file =
      testsupport::ScratchDir(std::string("emmc_") + handset::StorageKindName(kind)) + "/emmc.img";
  return handset::MakeEmmc(kind, sectors, file);
}

class StorageKeepingBytes : public ::testing::TestWithParam<StorageKind> {};
INSTANTIATE_TEST_SUITE_P(Kinds, StorageKeepingBytes,
                         ::testing::Values(StorageKind::kMemory, StorageKind::kFile));

TEST_P(StorageKeepingBytes, WriteReadEraseKeepsOnlyWrittenSectors) {
  auto emmc = Make(GetParam(), 1 << 20);
  ASSERT_EQ(emmc->Error(), "");
  auto data = Pattern(3 * kSectorSize + 100, 1);  // a partial last sector
  ASSERT_TRUE(emmc->Write(1000, data.data(), data.size()));
  EXPECT_EQ(emmc->WrittenSectorCount(), 4u);
  EXPECT_EQ(emmc->WrittenSectors(), (std::vector<uint64_t>{1000, 1001, 1002, 1003}));

  auto back = emmc->Read(999, 6);
  EXPECT_TRUE(
      std::all_of(back.begin(), back.begin() + kSectorSize, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin() + kSectorSize));
  // The rest of the partial sector is zero-filled, not left from before.
  EXPECT_TRUE(std::all_of(back.begin() + kSectorSize + data.size(), back.end(),
                          [](uint8_t b) { return b == 0; }));

  // Overwrite a partial sector that held data: the old tail does not survive.
  auto ff = std::vector<uint8_t>(kSectorSize, 0xFF);
  ASSERT_TRUE(emmc->Write(2000, ff.data(), ff.size()));
  uint8_t two[2] = {1, 2};
  ASSERT_TRUE(emmc->Write(2000, two, 2));
  auto s = emmc->Read(2000, 1);
  EXPECT_EQ(s[0], 1);
  EXPECT_EQ(s[2], 0);

  ASSERT_TRUE(emmc->Erase(1001, 2));
  EXPECT_EQ(emmc->WrittenSectors(), (std::vector<uint64_t>{1000, 1003, 2000}));
  EXPECT_EQ(emmc->Read(1001, 1), std::vector<uint8_t>(kSectorSize, 0));
  ASSERT_TRUE(emmc->Erase(0, 1 << 20));
  EXPECT_EQ(emmc->WrittenSectorCount(), 0u);
  EXPECT_EQ(emmc->Read(1000, 1), std::vector<uint8_t>(kSectorSize, 0));
}

TEST_P(StorageKeepingBytes, DumpIsASparseFileOfTheDeviceSize) {
  const uint64_t sectors = 256ull * 1024;  // 128 MiB
  auto emmc = Make(GetParam(), sectors);
  auto a = Pattern(kSectorSize, 3), b = Pattern(5 * kSectorSize, 4);
  emmc->Write(7, a.data(), a.size());
  emmc->Write(sectors - 5, b.data(), b.size());
  const std::string path = testsupport::ScratchDir("emmc_dump") + "/emmc.img";
  ASSERT_TRUE(emmc->Dump(path));

  EXPECT_EQ(std::filesystem::file_size(path), sectors * kSectorSize);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> sector(kSectorSize);
  in.seekg(7 * kSectorSize);
  in.read(reinterpret_cast<char*>(sector.data()), kSectorSize);
  EXPECT_EQ(sector, a);
  in.seekg(6 * kSectorSize);
  in.read(reinterpret_cast<char*>(sector.data()), kSectorSize);
  EXPECT_EQ(sector, std::vector<uint8_t>(kSectorSize, 0));
  std::vector<uint8_t> tail(b.size());
  in.seekg(static_cast<std::streamoff>((sectors - 5) * kSectorSize));
  in.read(reinterpret_cast<char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
  EXPECT_EQ(tail, b);

  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, sectors * kSectorSize / 16);
}

TEST(Emmc, EveryStorageRefusesWritesAndErasesPastItsEnd) {
  for (StorageKind kind : {StorageKind::kMemory, StorageKind::kFile, StorageKind::kDigest}) {
    SCOPED_TRACE(handset::StorageKindName(kind));
    auto emmc = Make(kind, 100);
    auto data = Pattern(2 * kSectorSize, 2);
    EXPECT_TRUE(emmc->Write(98, data.data(), data.size()));
    EXPECT_FALSE(emmc->Write(99, data.data(), data.size()));
    EXPECT_FALSE(emmc->Write(0xFFFFFFFFFFFFFFFFull, data.data(), data.size()));
    EXPECT_FALSE(emmc->Erase(99, 2));
    EXPECT_FALSE(emmc->Erase(1, 0xFFFFFFFFFFFFFFFFull));
    EXPECT_EQ(emmc->WrittenSectors(), (std::vector<uint64_t>{98, 99}));
  }
}

TEST(Emmc, FileStorageThatCannotMakeItsFileSaysSoAndRefusesWrites) {
  auto emmc = handset::MakeEmmc(StorageKind::kFile, 100, "/nonexistent-folder/emmc.img");
  EXPECT_NE(emmc->Error().find("/nonexistent-folder/emmc.img"), std::string::npos);
  uint8_t sector[kSectorSize] = {};
  EXPECT_FALSE(emmc->Write(0, sector, sizeof sector));
}

// Digest storage keeps the partition table's sectors, which the firmware reads back,
// and nothing else.
TEST(Emmc, DigestStorageKeepsOnlyThePartitionTable) {
  auto emmc = Make(StorageKind::kDigest, 1000);
  auto data = Pattern(40 * kSectorSize, 5);
  ASSERT_TRUE(emmc->Write(0, data.data(), data.size()));
  const auto table = emmc->Read(0, 40);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + handset::kGptSectors * kSectorSize,
                         table.begin()));
  EXPECT_TRUE(std::all_of(table.begin() + handset::kGptSectors * kSectorSize, table.end(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(emmc->WrittenSectorCount(), 40u);
  EXPECT_FALSE(emmc->Dump(testsupport::ScratchDir("emmc_digest_dump") + "/emmc.img"));
}

TEST(GptTable, RoundTripsAndRejectsGarbage) {
  std::vector<handset::GptPartition> parts = {
      {"SBL1", 34, 1024}, {"UEFI", 2048, 4096}, {"Data", 100000, 50000}};
  auto bytes = handset::BuildGpt(parts, 1 << 20);
  ASSERT_EQ(bytes.size(), 34u * 512);
  EXPECT_EQ(bytes[510], 0x55);
  EXPECT_EQ(bytes[511], 0xAA);
  auto back = handset::ParseGpt(bytes);
  ASSERT_EQ(back.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back[i].name, parts[i].name);
    EXPECT_EQ(back[i].firstSector, parts[i].firstSector);
    EXPECT_EQ(back[i].sectorCount, parts[i].sectorCount);
  }
  // Same layout, same bytes: images and handsets can compare tables byte for byte.
  EXPECT_EQ(handset::BuildGpt(parts, 1 << 20), bytes);

  EXPECT_TRUE(handset::ParseGpt(std::vector<uint8_t>(34 * 512, 0)).empty());
  EXPECT_TRUE(handset::ParseGpt(std::vector<uint8_t>(100, 0xFF)).empty());
  // A truncated table gives the entries that are there, never reads past the bytes.
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 2 * 512 + 200);
  EXPECT_EQ(handset::ParseGpt(cut).size(), 1u);
  auto hostile = bytes;
  hostile[512 + 84] = 0xFF;  // entry size
  hostile[512 + 85] = 0xFF;
  hostile[512 + 86] = 0xFF;
  hostile[512 + 87] = 0xFF;
  EXPECT_LE(handset::ParseGpt(hostile).size(), 1u);
}

// The checksums a disk tool checks before it believes a GPT: the entry array's CRC in the
// header, and the header's own CRC taken with its CRC field as zeros.
TEST(GptTable, ChecksumsAreTheOnesDiskToolsVerify) {
  // Bitwise CRC-32 (reflected, 0xEDB88320): slow and obviously right.
  auto crc32 = [](const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
      crc ^= p[i];
      for (int k = 0; k < 8; ++k) crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
  };
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  ASSERT_EQ(crc32(check, sizeof check), 0xCBF43926u);  // the CRC-32 check value

  auto le32 = [](const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  };
  for (const auto& parts :
       {std::vector<handset::GptPartition>{},
        std::vector<handset::GptPartition>{{"EFIESP", 1024, 512}, {"MainOS", 4096, 1 << 20}}}) {
    auto bytes = handset::BuildGpt(parts, 1 << 22);
    uint8_t* header = bytes.data() + 512;
    EXPECT_EQ(le32(header + 88), crc32(bytes.data() + 2 * 512, 128 * 128));
    const uint32_t stored = le32(header + 16);
    std::fill_n(header + 16, 4, 0);
    EXPECT_EQ(stored, crc32(header, le32(header + 12)));
  }
}

}  // namespace
