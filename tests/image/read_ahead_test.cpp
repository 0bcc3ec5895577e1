// The read-ahead stream under the confirmation: every byte once and in order whatever the
// block and piece sizes, the ends it reports, and leaving it early.
#include "image/read_ahead.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace {

using image::ReadAheadStream;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File TempFileWith(size_t size) {
  File f(std::tmpfile());
  for (size_t i = 0; i < size; ++i)
    std::fputc(static_cast<int>((i * 7 + (i >> 8)) & 0xFF), f.get());
  std::rewind(f.get());
  return f;
}

std::vector<uint8_t> Drain(ReadAheadStream& stream, size_t piece) {
  std::vector<uint8_t> out;
  const uint8_t* data = nullptr;
  while (size_t n = stream.Next(piece, &data)) {
    EXPECT_LE(n, piece);
    out.insert(out.end(), data, data + n);
  }
  return out;
}

TEST(ReadAheadStream, HandsOutEveryByteOnceInOrder) {
  constexpr size_t kSize = 10000;
  File whole = TempFileWith(kSize);
  std::vector<uint8_t> expected(kSize);
  ASSERT_EQ(std::fread(expected.data(), 1, kSize, whole.get()), kSize);
  struct Case {
    size_t blockSize, blockCount, piece;
  };
  for (const Case c :
       {Case{1000, 2, 333}, Case{4096, 4, 2048}, Case{7, 3, 64}, Case{1 << 20, 4, 1}}) {
    File f = TempFileWith(kSize);
    ReadAheadStream stream(f.get(), kSize, c.blockSize, c.blockCount);
    EXPECT_EQ(Drain(stream, c.piece), expected) << c.blockSize << " " << c.piece;
    EXPECT_EQ(stream.Ended(), ReadAheadStream::End::kNone);
  }
  // A length short of the file's end stops there; reading starts where the file stands.
  File f = TempFileWith(kSize);
  ASSERT_EQ(std::fseek(f.get(), 96, SEEK_SET), 0);
  ReadAheadStream stream(f.get(), 5000, 1024, 2);
  EXPECT_EQ(Drain(stream, 2048),
            std::vector<uint8_t>(expected.begin() + 96, expected.begin() + 96 + 5000));
  EXPECT_EQ(stream.Ended(), ReadAheadStream::End::kNone);
}

TEST(ReadAheadStream, ReportsAFileShorterThanTheLengthAndAReadError) {
  File f = TempFileWith(3000);
  ReadAheadStream stream(f.get(), 8000, 1024, 2);
  EXPECT_EQ(Drain(stream, 2048).size(), 3000u);
  EXPECT_EQ(stream.Ended(), ReadAheadStream::End::kShort);
  const uint8_t* data = nullptr;
  EXPECT_EQ(stream.Next(2048, &data), 0u);  // and stays ended

  File empty = TempFileWith(0);
  ReadAheadStream none(empty.get(), 0);
  EXPECT_EQ(none.Next(2048, &data), 0u);
  EXPECT_EQ(none.Ended(), ReadAheadStream::End::kNone);

  // A folder opens for reading on Linux, and every read of it fails.
  File folder(std::fopen(testsupport::ScratchDir("read_ahead").c_str(), "rb"));
  if (!folder) GTEST_SKIP() << "a folder does not open as a file here (Windows)";
  ReadAheadStream failing(folder.get(), 100);
  EXPECT_TRUE(Drain(failing, 10).empty());
  EXPECT_EQ(failing.Ended(), ReadAheadStream::End::kReadError);
}

// The operator's Esc leaves the stream while its reader waits for a free block.
TEST(ReadAheadStream, LeavingEarlyStopsTheReader) {
  for (size_t taken : {0, 1, 50}) {
    File f = TempFileWith(100000);
    ReadAheadStream stream(f.get(), 100000, 512, 2);
    const uint8_t* data = nullptr;
    for (size_t i = 0; i < taken; ++i) ASSERT_EQ(stream.Next(256, &data), 256u);
  }
}

}  // namespace
