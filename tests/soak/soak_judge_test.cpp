// The soak's judge of a done channel's handset, on a handset written straight from the
// image file.
#include <gtest/gtest.h>

#include <algorithm>

#include "demo/image_file.h"
#include "soak_judge.h"
#include "support/flashing/test_images.h"
#include "support/test_env.h"

namespace {

TEST(SoakJudge, ASectorNeverWrittenIsLackingWhereTheImageHoldsZeros) {
  std::string error;
  const auto os = demo::ReadImageFile(testsupport::BuildOsImage({}, "judged.kx4"), &error);
  ASSERT_TRUE(os) << error;
  const image::PartitionEntry& gpt = *os->Entry("GPT");
  handset::VirtualHandset h({}, testsupport::FastClock());
  const auto bytes = demo::ReadFileRange(os->path, gpt.fileOffset, gpt.length);
  ASSERT_TRUE(h.emmc().Write(gpt.startSector, bytes.data(), bytes.size()));
  // Only the GPT is judged; the handset has no CSC files, nor had the clean one.
  std::set<std::string> others = {"CSC.mbn", "SalesCode.cfg"};
  for (const auto& e : os->entries)
    if (e.name != "GPT") others.insert(e.name);
  const soak::CleanHandset clean;
  ASSERT_EQ(soak::Lacks(h, *os, clean, others, true), "");

  // The table's unused entries are zeros, as a sector never written reads.
  uint64_t zero = 0;
  for (uint64_t s = 1; (s + 1) * 512 <= bytes.size() && zero == 0; ++s)
    if (std::all_of(bytes.begin() + s * 512, bytes.begin() + (s + 1) * 512,
                    [](uint8_t b) { return b == 0; }))
      zero = s;
  ASSERT_NE(zero, 0u);
  h.emmc().Erase(gpt.startSector + zero, 1);
  EXPECT_EQ(soak::Lacks(h, *os, clean, others, true),
            "GPT: sector " + std::to_string(gpt.startSector + zero) + " was never written; ");
}

}  // namespace
