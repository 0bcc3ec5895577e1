// The stretch sums the confirmation takes in its one read of the file: the same stretches
// and sums a channel computes over what it sends, however the reads split the file.
#include "image/stretch_sum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <tuple>

#include "image/image_digest.h"
#include "image_bytes.h"
#include "support/test_env.h"

namespace {

using image::StretchKind;
using image::StretchSum;

uint64_t SumOf(const std::vector<uint8_t>& file, uint64_t offset, uint64_t length) {
  image::StretchHasher h;
  h.Update(file.data() + offset, length);
  return h.Digest();
}

void SetPartition(std::vector<uint8_t>& r, size_t slot, const std::string& name, uint32_t offset,
                  uint32_t length, uint32_t format = 0) {
  imagetest::SetEntryName(r, slot, name);
  platform::PutLe32(imagetest::Entry(r, slot) + image::PE_FILE_OFFSET, offset);
  platform::PutLe32(imagetest::Entry(r, slot) + image::PE_LENGTH, length);
  platform::PutLe32(imagetest::Entry(r, slot) + image::PE_FORMAT, format);
}

// In a fixed order, so two lists of the same stretches compare equal.
std::vector<std::tuple<int, uint64_t, uint64_t, uint64_t>> Keys(const std::vector<StretchSum>& v) {
  std::vector<std::tuple<int, uint64_t, uint64_t, uint64_t>> out;
  for (const StretchSum& s : v) out.emplace_back(static_cast<int>(s.kind), s.offset, s.length, s.sum);
  std::sort(out.begin(), out.end());
  return out;
}

class StretchSums : public ::testing::TestWithParam<size_t> {
 protected:
  std::vector<StretchSum> Confirm(const std::vector<uint8_t>& bytes, image::ImageKind kind) {
    const std::string path = dir_ + "/img.bin";
    imagetest::WriteFile(path, bytes);
    image::ImageDigestJob job;
    EXPECT_TRUE(job.Open(path));
    job.SumStretchesOf(kind);
    const std::atomic<bool> stop{false};
    const image::DigestResult result = job.Run(nullptr, stop, GetParam());
    EXPECT_EQ(result.outcome, image::DigestOutcome::kComplete);
    if (!result.confirmed) return {};
    return result.confirmed->stretches;
  }
  std::string dir_ = testsupport::ScratchDir("stretch_sums");
};

// Partitions of every shape: contiguous with an odd length, discrete (its map and only
// the runs the map names), empty, and one running past the end of the file.
TEST_P(StretchSums, OfAnOsImageAreThoseAChannelSends) {
  constexpr uint32_t kBody = image::SMD_HEADER_REGION_SIZE;
  std::vector<uint8_t> file = imagetest::Region("KX4_EMMC_MainOS");
  file.resize(kBody + 40000);
  for (size_t i = image::SIGNATURE_SLOTS_OFFSET; i < file.size(); ++i)
    file[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
  SetPartition(file, 0, "SBL1", kBody, 10001);
  const uint32_t discreteAt = kBody + 10240;
  SetPartition(file, 1, "MainOS", discreteAt, 20000, image::PARTITION_FORMAT_DISCRETE);
  uint8_t* map = file.data() + discreteAt;
  std::fill(map, map + image::DISCRETE_MAP_SIZE, 0);
  platform::PutLe32(map, image::DISCRETE_MAP_WORD1);
  platform::PutLe32(map + 4, image::DISCRETE_MAP_WORD2);
  platform::PutLe32(map + 8, 2);
  platform::PutLe32(map + image::DISCRETE_MAP_RECORDS_OFFSET + 4, 10);  // 5120 bytes
  platform::PutLe32(map + image::DISCRETE_MAP_RECORDS_OFFSET + 12, 3);  // 1536 bytes
  SetPartition(file, 2, "Empty", kBody, 0);
  SetPartition(file, 3, "Beyond", kBody + 39000, 2000);

  std::vector<StretchSum> expected = {
      {StretchKind::kPartition, kBody, 10001, SumOf(file, kBody, 10001)},
      {StretchKind::kPartition, discreteAt, 4096 + 6656, SumOf(file, discreteAt, 4096 + 6656)},
  };
  for (uint64_t b = 0; b < 2 * image::SIGNATURE_SLOT_COUNT; ++b) {
    const uint64_t at = image::SIGNATURE_SLOTS_OFFSET + b * image::SIGNATURE_BLOCK_SIZE;
    expected.push_back({StretchKind::kSignatureBlock, at, image::SIGNATURE_BLOCK_SIZE,
                        SumOf(file, at, image::SIGNATURE_BLOCK_SIZE)});
  }
  EXPECT_EQ(Keys(Confirm(file, image::ImageKind::Os)), Keys(expected));
}

TEST_P(StretchSums, OfACscImageIsItsPackage) {
  std::vector<uint8_t> file(5000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 13);
  platform::PutLe32(file.data() + image::HDR_CSC_PACKAGE_OFFSET, 1000);
  platform::PutLe32(file.data() + image::HDR_CSC_PACKAGE_LENGTH, 3333);
  const std::vector<StretchSum> expected = {
      {StretchKind::kCscPackage, 1000, 3333, SumOf(file, 1000, 3333)}};
  EXPECT_EQ(Keys(Confirm(file, image::ImageKind::Csc)), Keys(expected));
}

// Reads of a few bytes split every stretch and the partition table; large ones take a
// whole stretch, or several, in one piece.
INSTANTIATE_TEST_SUITE_P(ReadSizes, StretchSums, ::testing::Values(7, 2048, 1 << 20));

}  // namespace
