// UTF-16 paths and 64-bit offsets under Wine: an image under a folder with non-ASCII
// characters opens through every reader of the station, and offsets past 2 GiB hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "image/image_digest.h"
#include "image/smd_reader.h"
#include "platform/file/file.h"
#include "protocol/channel_image_file.h"
#include "support/test_env.h"

namespace {

using platform::file::NativePath;
using platform::file::Utf8Path;

TEST(Win32Paths, AFileUnderANonAsciiFolderOpensThroughEveryReader) {
  const std::string folder =
      Utf8Path(NativePath(testsupport::ScratchDir("paths")) / NativePath("Prüfplatz Ω 測試"));
  std::filesystem::create_directories(NativePath(folder));
  const std::string path = folder + "\\image.kx4";
  {
    const platform::file::File out = platform::file::Open(path, "wb");
    ASSERT_TRUE(out);
    const std::string bytes(image::SMD_HEADER_SIZE, 'h');
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out.get()), bytes.size());
  }
  const struct {
    const char* reader;
    std::function<bool()> opens;
  } readers[] = {
      {"header region", [&] { return image::ReadHeaderRegion(path).has_value(); }},
      {"digest job", [&] { image::ImageDigestJob job; return job.Open(path) &&
                                                          job.FileLength() == image::SMD_HEADER_SIZE; }},
      {"channel file", [&] { protocol::ChannelImageFile f; return f.Open(path); }},
  };
  for (const auto& r : readers) EXPECT_TRUE(r.opens()) << r.reader;
}

TEST(Win32Paths, OffsetsPastTwoGibibytesAreReachedAndReported) {
  const std::string path = testsupport::ScratchDir("large") + "\\sparse.bin";
  constexpr uint64_t kFar = (uint64_t{3} << 30) + 5;  // a 32-bit long would turn negative
  {
    const platform::file::File out = platform::file::Open(path, "wb");
    ASSERT_TRUE(out);
    ASSERT_TRUE(platform::file::Seek(out.get(), kFar));
    ASSERT_EQ(std::fputc('z', out.get()), 'z');
  }
  const platform::file::File in = platform::file::Open(path, "rb");
  ASSERT_TRUE(in);
  EXPECT_EQ(platform::file::Length(in.get()), kFar + 1);
  protocol::ChannelImageFile channel;
  ASSERT_TRUE(channel.Open(path));
  ASSERT_TRUE(channel.Seek(kFar));
  uint8_t byte = 0;
  EXPECT_EQ(channel.Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 'z');
}

}  // namespace
