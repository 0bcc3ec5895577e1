// An image file changed after the operator confirmed it never completes on a handset:
// a changed stretch fails the channel before its last packet, a changed size or
// modification refuses the file at the channel's open.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/image_digest.h"
#include "platform/bytes/little_endian.h"
#include "support/flashing/channel_rig.h"
#include "support/flashing/handset_image_check.h"
#include "support/flashing/test_images.h"
#include "support/test_env.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr const char* kChangedText = "[Channel 0] Image file changed since it was confirmed !!";

const ImagePair& Originals(bool discreteOs) {
  static const ImagePair contiguous = BuildImagePair("changed_source");
  static const ImagePair discrete = [] {
    OsImageSpec spec;
    spec.discreteOs = true;
    return ImagePair{BuildOsImage(spec, "changed_source_discrete.kx4"),
                     BuildImagePair("changed_source").csc};
  }();
  return discreteOs ? discrete : contiguous;
}

std::optional<image::ConfirmedFile> Confirm(const std::string& path, image::ImageKind kind) {
  image::ImageDigestJob job;
  EXPECT_TRUE(job.Open(path)) << path;
  job.SumStretchesOf(kind);
  const std::atomic<bool> stop{false};
  const image::DigestResult result = job.Run(nullptr, stop);
  EXPECT_TRUE(result.Matches()) << path;
  EXPECT_TRUE(result.confirmed.has_value()) << path;
  return result.confirmed;
}

// Flips the byte at `offset` and puts the modification time back, so that only the
// stretch sums can tell.
void FlipByteKeepingStamp(const std::string& path, uint64_t offset) {
  const fs::file_time_type written = fs::last_write_time(path);
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(static_cast<std::streamoff>(offset));
  const char was = static_cast<char>(f.get());
  f.seekp(static_cast<std::streamoff>(offset));
  f.put(static_cast<char>(was ^ 0x5A));
  f.close();
  fs::last_write_time(path, written);
}

image::PartitionEntry Entry(const std::string& os, const std::string& name) {
  return EntryNamed(ReadHeaderRegion(os), name);
}

struct ChangeCase {
  const char* name;  // the case's name in the test list
  bool discreteOs;
  // Changes the copies after their confirmation, before they are accepted.
  std::function<void(const std::string& os, const std::string& csc)> change;
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
  *os << c.name;
}

class ImageChangedRun : public ::testing::Test {
 protected:
  // Copies the images, confirms the copies, lets `change` alter them, accepts them into
  // the rig and runs the channel.
  int Run(bool discreteOs, const std::function<void(const std::string&, const std::string&)>& change) {
    const ImagePair& source = Originals(discreteOs);
    const std::string dir = TestOutputDir() + "/changed_" + std::to_string(++serial_);
    fs::create_directories(dir);
    os_ = dir + "/os.kx4";
    csc_ = dir + "/os.csc";
    // Removed first: mingw-w64's copy_file refuses to overwrite, and a second run of the
    // suite in one build folder finds the copies of the first.
    fs::remove(os_);
    fs::remove(csc_);
    fs::copy_file(source.os, os_);
    fs::copy_file(source.csc, csc_);
    auto osConfirmed = Confirm(os_, image::ImageKind::Os);
    auto cscConfirmed = Confirm(csc_, image::ImageKind::Csc);
    if (change) change(os_, csc_);
    rig_ = std::make_unique<ChannelRig>(HandsetFor(source.os));
    rig_->LoadImages(os_, csc_);
    rig_->host.image.OsConfirmed = osConfirmed;
    rig_->host.image.CscConfirmed = cscConfirmed;
    return rig_->Run();
  }

  void ExpectChangedEnd() {
    EXPECT_EQ(rig_->host.run.ChannelFailed[0], 1);
    EXPECT_EQ(rig_->host.FailureTexts(0), std::vector<std::string>{kChangedText});
    EXPECT_NE(rig_->Log().find(kChangedText), std::string::npos) << rig_->Log();
    EXPECT_EQ(rig_->handset().ResetCount(), 0u);
  }

  static inline int serial_ = 0;
  std::string os_;
  std::string csc_;
  std::unique_ptr<ChannelRig> rig_;
};

class ImageChanged : public ImageChangedRun, public ::testing::WithParamInterface<ChangeCase> {};

TEST_F(ImageChangedRun, UnchangedImagesAreWrittenAndDone) {
  EXPECT_EQ(Run(false, {}), 1) << rig_->Log();
  EXPECT_TRUE(rig_->host.FailureTexts(0).empty());
  EXPECT_TRUE(PartitionOnHandset(rig_->handset(), os_, "MainOS"));
}

TEST_P(ImageChanged, AStretchChangedAfterConfirmationFailsTheChannel) {
  EXPECT_EQ(Run(GetParam().discreteOs, GetParam().change), 0);
  ExpectChangedEnd();
  // The changed byte is in each stretch's last packet or before it: nothing the handset
  // holds of MainOS is the changed file's.
  EXPECT_FALSE(PartitionOnHandset(rig_->handset(), os_, "MainOS"));
}

INSTANTIATE_TEST_SUITE_P(
    Stretches, ImageChanged,
    ::testing::Values(
        ChangeCase{"ContiguousPartitionLastByte", false,
                   [](const std::string& os, const std::string&) {
                     const auto e = Entry(os, "SBL1");
                     FlipByteKeepingStamp(os, uint64_t{e.fileOffset} + e.length - 1);
                   }},
        // A failed MMOS write is otherwise passed over; a changed one is not.
        ChangeCase{"OptionalPartitionLastByte", false,
                   [](const std::string& os, const std::string&) {
                     const auto e = Entry(os, "MMOS");
                     FlipByteKeepingStamp(os, uint64_t{e.fileOffset} + e.length - 1);
                   }},
        ChangeCase{"DiscretePartitionRunData", true,
                   [](const std::string& os, const std::string&) {
                     const auto e = Entry(os, "MainOS");
                     FlipByteKeepingStamp(os, uint64_t{e.fileOffset} + image::DISCRETE_MAP_SIZE);
                   }},
        ChangeCase{"CscPackageLastByte", false,
                   [](const std::string&, const std::string& csc) {
                     const auto head = ReadFileBytes(csc, 0, image::SMD_HEADER_SIZE);
                     const uint64_t at = platform::Le32(head.data() + image::HDR_CSC_PACKAGE_OFFSET);
                     const uint32_t length = platform::Le32(head.data() + image::HDR_CSC_PACKAGE_LENGTH);
                     FlipByteKeepingStamp(csc, at + length - 1);
                   }},
        ChangeCase{"SignatureBlocks", false,
                   [](const std::string& os, const std::string&) {
                     for (uint64_t block = 6; block < 12; ++block)  // slots 3 to 5, both halves
                       FlipByteKeepingStamp(os, image::SIGNATURE_SLOTS_OFFSET +
                                                    block * image::SIGNATURE_BLOCK_SIZE + 100);
                   }}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

// The file is refused at the channel's open, before any of its partitions goes out.
TEST_F(ImageChangedRun, ASizeOrModificationChangeIsRefusedAtOpen) {
  struct Case {
    const char* what;
    bool csc;
    std::function<void(const std::string&)> change;
  };
  const Case cases[] = {
      {"OS image grown", false,
       [](const std::string& p) { std::ofstream(p, std::ios::app | std::ios::binary).put('x'); }},
      {"OS image touched", false,
       [](const std::string& p) {
         fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(3));
       }},
      {"CSC image touched", true,
       [](const std::string& p) {
         fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(3));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Run(false, [&](const std::string& os, const std::string& csc) {
                c.change(c.csc ? csc : os);
              }),
              0);
    ExpectChangedEnd();
    EXPECT_TRUE(PartitionEmpty(rig_->handset(), os_, "SBL1"));
    if (c.csc) {
      EXPECT_TRUE(rig_->handset().Files()["\\Dravnik\\CSC\\CSC.mbn"].empty());
    }
  }
}

}  // namespace
