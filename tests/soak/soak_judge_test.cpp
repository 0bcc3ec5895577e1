// The soak's judge of a done channel's handset, on a handset written straight from the
// image file: the CLI's judge, with only the parts a fault may pass over excused.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "demo/image_file.h"
#include "engine/download_mode.h"
#include "soak_judge.h"
#include "support/flashing/test_images.h"
#include "support/test_env.h"

namespace {

struct Images {
  std::optional<demo::ImageFile> os;
  std::optional<demo::ImageFile> csc;
};

const Images& TestImages() {
  static const Images images = [] {
    std::string error;
    Images im{demo::ReadImageFile(testsupport::BuildOsImage({}, "judged.kx4"), &error),
              demo::ReadImageFile(testsupport::BuildCscImage({}, "judged.csc"), &error)};
    EXPECT_TRUE(im.os && im.csc) << error;
    return im;
  }();
  return images;
}

std::vector<std::string> Problems(const handset::VirtualHandset& h,
                                  const std::set<std::string>& mayLack) {
  const auto expected = soak::ExpectationOf(engine::DOWNLOAD_MODE_ALL,
                                            image::ModelFamily::FamilyK220, "BTU", mayLack);
  return cli::CheckHandset(h, *TestImages().os, *TestImages().csc, expected).Problems();
}

void WriteData(handset::VirtualHandset& h, const image::PartitionEntry& e, uint64_t bytes) {
  const auto data = demo::ReadFileRange(TestImages().os->path, e.fileOffset, bytes);
  ASSERT_TRUE(h.emmc().Write(e.startSector, data.data(), data.size())) << e.name;
}

TEST(SoakJudge, ASectorNeverWrittenIsLackingWhereTheImageHoldsZeros) {
  ASSERT_TRUE(TestImages().os);
  const demo::ImageFile& os = *TestImages().os;
  const image::PartitionEntry& gpt = *os.Entry("GPT");
  handset::VirtualHandset h({}, testsupport::FastClock());
  WriteData(h, gpt, gpt.length);
  // Only the GPT is judged; the handset has no CSC files, nor is it asked to.
  std::set<std::string> others = {"CSC.mbn", "SalesCode.cfg"};
  for (const auto& e : os.entries)
    if (e.name != "GPT") others.insert(e.name);
  ASSERT_EQ(Problems(h, others), std::vector<std::string>{});

  // The table's unused entries are zeros, as a sector never written reads.
  const auto bytes = demo::ReadFileRange(os.path, gpt.fileOffset, gpt.length);
  uint64_t zero = 0;
  for (uint64_t s = 1; (s + 1) * 512 <= bytes.size() && zero == 0; ++s)
    if (std::all_of(bytes.begin() + s * 512, bytes.begin() + (s + 1) * 512,
                    [](uint8_t b) { return b == 0; }))
      zero = s;
  ASSERT_NE(zero, 0u);
  h.emmc().Erase(gpt.startSector + zero, 1);
  EXPECT_EQ(Problems(h, others),
            std::vector<std::string>{"GPT: sector " + std::to_string(gpt.startSector + zero) +
                                     " was never written"});
}

// A part a fault let the sequence pass over may be missing or cut short, but what was
// written of it is still the image's: on every storage, as the soak runs on each.
TEST(SoakJudge, APassedOverPartIsExcusedButNeverItsStrayBytes) {
  ASSERT_TRUE(TestImages().os);
  const demo::ImageFile& os = *TestImages().os;
  const image::PartitionEntry& mmos = *os.Entry("MMOS");
  ASSERT_GE(mmos.length, 4u * 512);
  struct Case {
    const char* name;
    std::function<void(handset::VirtualHandset&)> act;  // on a handset holding the image
    std::set<std::string> mayLack;
    const char* problem;  // what the first problem found says of MMOS's first sector
  };
  const std::set<std::string> files = {"CSC.mbn", "SalesCode.cfg"};
  auto with = [&](std::set<std::string> more) {
    more.insert(files.begin(), files.end());
    return more;
  };
  auto eraseMmos = [&](handset::VirtualHandset& h) {
    h.emmc().Erase(mmos.startSector, mmos.sectorCount);
  };
  const Case cases[] = {
      {"whole", [](handset::VirtualHandset&) {}, files, nullptr},
      {"missing, excused", eraseMmos, with({"MMOS"}), nullptr},
      {"missing, not excused", eraseMmos, files, "never written"},
      {"cut short, excused",
       [&](handset::VirtualHandset& h) {
         eraseMmos(h);
         WriteData(h, mmos, 2 * 512);
       },
       with({"MMOS"}), nullptr},
      {"stray bytes, excused",
       [&](handset::VirtualHandset& h) {
         eraseMmos(h);
         const std::vector<uint8_t> stray(2 * 512, 0xA5);
         h.emmc().Write(mmos.startSector, stray.data(), stray.size());
       },
       with({"MMOS"}), "from the image"},
  };
  for (const handset::StorageKind storage :
       {handset::StorageKind::kMemory, handset::StorageKind::kDigest}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(handset::StorageKindName(storage)) + ": " + c.name);
      handset::HandsetConfig config;
      config.storage = storage;
      handset::VirtualHandset h(config, testsupport::FastClock());
      for (const std::string& name :
           cli::PartitionsOfFullDownload(image::ModelFamily::FamilyK220)) {
        const image::PartitionEntry* e = os.Entry(name);
        ASSERT_NE(e, nullptr) << name;
        if (e->length > 0) WriteData(h, *e, e->length);
      }
      c.act(h);
      const auto problems = Problems(h, c.mayLack);
      if (!c.problem) {
        EXPECT_EQ(problems, std::vector<std::string>{});
      } else {
        // Storage that keeps bytes names the first sector, digest storage the whole write.
        ASSERT_FALSE(problems.empty());
        const std::string& first = problems.front();
        EXPECT_EQ(first.rfind("MMOS: sector", 0), 0u) << first;
        // Built by appending: GCC 12 at -O3 takes `" " + std::to_string(...)` for an
        // overlapping copy and stops the Release build.
        std::string sector(" ");
        sector += std::to_string(mmos.startSector);
        sector += ' ';
        EXPECT_NE(first.find(sector), std::string::npos) << first;
        EXPECT_NE(first.find(c.problem), std::string::npos) << first;
      }
    }
  }
}

}  // namespace
