// The digest rule and the streaming confirmation computation: progress reports, the
// stop flag, and files that are too short or shrink while they are read.
#include "image/image_digest.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "image/md5.h"
#include "image_bytes.h"
#include "support/test_env.h"

namespace {

using image::DigestOutcome;

std::vector<uint8_t> Body(size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
  return out;
}

// Stores the right digest in a buffer, as the image builder does.
void Seal(std::vector<uint8_t>& file) {
  const image::Md5Digest d = image::ImageDigestOf(file.data(), file.size());
  std::copy(d.begin(), d.end(), file.begin() + image::HDR_MD5);
}

TEST(DigestRule, IsTheMd5OfTheFileWithTheDigestFieldZeroed) {
  std::vector<uint8_t> file = Body(5000);
  std::vector<uint8_t> zeroed = file;
  std::fill(zeroed.begin() + 0x50, zeroed.begin() + 0x60, 0);
  EXPECT_EQ(image::ImageDigestOf(file.data(), file.size()),
            image::Md5Of(zeroed.data(), zeroed.size()));
}

TEST(DigestRule, EveryByteOutsideTheFieldCountsAndTheFieldDoesNot) {
  std::vector<uint8_t> file = Body(3000);
  Seal(file);
  const image::Md5Digest sealed = image::StoredDigest(file.data());
  for (size_t at : {size_t{0}, size_t{0x4F}, size_t{0x60}, size_t{97}, size_t{2999}}) {
    std::vector<uint8_t> changed = file;
    changed[at] ^= 1;
    EXPECT_NE(image::ImageDigestOf(changed.data(), changed.size()), sealed) << at;
  }
  for (size_t at = 0x50; at < 0x60; ++at) {
    std::vector<uint8_t> changed = file;
    changed[at] ^= 0xFF;
    EXPECT_EQ(image::ImageDigestOf(changed.data(), changed.size()), sealed) << at;
  }
}

class DigestJob : public ::testing::Test {
 protected:
  std::string dir_ = testsupport::ScratchDir("image_digest");
  std::string Write(const std::vector<uint8_t>& bytes, const char* name = "img.kx4") {
    std::string path = dir_ + "/" + name;
    imagetest::WriteFile(path, bytes);
    return path;
  }
  std::atomic<bool> stop_{false};
};

TEST_F(DigestJob, ConfirmsASealedFileAndReportsEachPercentOnce) {
  std::vector<uint8_t> file = Body(96 + 2048 * 300 + 7);
  Seal(file);
  image::ImageDigestJob job;
  ASSERT_TRUE(job.Open(Write(file)));
  EXPECT_EQ(job.FileLength(), file.size());
  EXPECT_EQ(0, std::memcmp(job.Header().data(), file.data(), 96));
  std::vector<int> seen;
  const image::DigestResult r = job.Run([&](int p) { seen.push_back(p); }, stop_);
  EXPECT_EQ(r.outcome, DigestOutcome::kComplete);
  EXPECT_TRUE(r.Matches());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100);
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
  EXPECT_LE(seen.size(), 101u);
  EXPECT_EQ(r.lastPercent, 100);
}

TEST_F(DigestJob, AWrongStoredDigestDoesNotMatch) {
  std::vector<uint8_t> file = Body(10000);
  Seal(file);
  file[9999] ^= 0x80;
  image::ImageDigestJob job;
  ASSERT_TRUE(job.Open(Write(file)));
  const image::DigestResult r = job.Run(nullptr, stop_);
  EXPECT_EQ(r.outcome, DigestOutcome::kComplete);
  EXPECT_FALSE(r.Matches());
  EXPECT_EQ(r.computed, image::ImageDigestOf(file.data(), file.size()));
}

TEST_F(DigestJob, StopFlagEndsTheRunBetweenReads) {
  std::vector<uint8_t> file = Body(96 + 2048 * 100);
  Seal(file);
  image::ImageDigestJob job;
  ASSERT_TRUE(job.Open(Write(file)));
  int calls = 0;
  const image::DigestResult r = job.Run(
      [&](int p) {
        ++calls;
        if (p >= 10) stop_ = true;
      },
      stop_);
  EXPECT_EQ(r.outcome, DigestOutcome::kStopped);
  EXPECT_FALSE(r.Matches());
  EXPECT_EQ(r.lastPercent, 10);
  EXPECT_EQ(calls, 10);
}

TEST_F(DigestJob, FilesOf96BytesOrLessEndWithoutAVerdict) {
  for (size_t size : {size_t{0}, size_t{10}, size_t{96}}) {
    std::vector<uint8_t> file = Body(size);
    if (size == 96) Seal(file);
    image::ImageDigestJob job;
    ASSERT_TRUE(job.Open(Write(file)));
    int calls = 0;
    const image::DigestResult r = job.Run([&](int) { ++calls; }, stop_);
    EXPECT_EQ(r.outcome, DigestOutcome::kTooShort) << size;
    EXPECT_FALSE(r.Matches());
    EXPECT_EQ(calls, 0);
  }
}

TEST_F(DigestJob, AFileThatShrinksAfterOpeningIsReportedAsShrunk) {
  std::vector<uint8_t> file = Body(96 + 2048 * 4000);
  Seal(file);
  const std::string path = Write(file);
  image::ImageDigestJob job;
  ASSERT_TRUE(job.Open(path));
  std::filesystem::resize_file(path, 96 + 2048 * 10);
  const image::DigestResult r = job.Run(nullptr, stop_);
  EXPECT_EQ(r.outcome, DigestOutcome::kShrunk);
  EXPECT_FALSE(r.Matches());
}

TEST_F(DigestJob, MissingFileCannotBeOpened) {
  image::ImageDigestJob job;
  EXPECT_FALSE(job.Open(dir_ + "/none.kx4"));
  EXPECT_EQ(image::ComputeImageDigest(dir_ + "/none.kx4", nullptr, stop_).outcome,
            DigestOutcome::kOpenFailed);
}

}  // namespace
