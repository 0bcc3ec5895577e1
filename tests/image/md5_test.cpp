// MD5 against the RFC 1321 suite and against md5sum at the block boundaries, whole and
// fed in uneven pieces.
#include "image/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string HexOf(const std::string& text) {
  return image::Md5Hex(image::Md5Of(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// The data md5sum was run over when these cases were written.
std::vector<uint8_t> Sample(size_t n) {
  std::vector<uint8_t> out(n);
  for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i * i * 7 + i * 13 + 5);
  return out;
}

TEST(Md5, Rfc1321Suite) {
  EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(HexOf("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                  "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, AgreesWithMd5sumAtBlockBoundaries) {
  const std::pair<size_t, const char*> cases[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e"},       {55, "1b2ec3b078050f5105043ec4cc2c7144"},
      {56, "8fbf578e8cfbaaf61560e4b58de04502"},      {63, "da091710236b6f6419ee4b36c4e87541"},
      {64, "7d849459e9a825182da025e8bae59b48"},      {65, "6e4a28802304a19753a53d31a2e8d1c1"},
      {127, "435ce7e7a9e601ba577ff073f5243acb"},     {128, "ebe5fb8fb44f147c4bca74db270e8b91"},
      {4194321, "f98e7ad5d37a684aa5c9de7f47a4b836"},
  };
  for (const auto& [size, expected] : cases) {
    const std::vector<uint8_t> data = Sample(size);
    EXPECT_EQ(image::Md5Hex(image::Md5Of(data.data(), data.size())), expected) << size;

    // Uneven pieces cross every block boundary position.
    image::Md5 md5;
    size_t at = 0, piece = 1;
    while (at < data.size()) {
      const size_t n = std::min(piece, data.size() - at);
      md5.Update(data.data() + at, n);
      at += n;
      piece = piece * 3 % 197 + 1;
    }
    EXPECT_EQ(image::Md5Hex(md5.Final()), expected) << size << " in pieces";
  }
}

TEST(Md5, FinalLeavesTheObjectReadyForANewMessage) {
  image::Md5 md5;
  md5.Update(reinterpret_cast<const uint8_t*>("abc"), 3);
  md5.Final();
  md5.Update(reinterpret_cast<const uint8_t*>("a"), 1);
  EXPECT_EQ(image::Md5Hex(md5.Final()), "0cc175b9c0f1b6a831c399e269772661");
}

}  // namespace
