// The icon files: a PNG that a decoder reads back to the bitmap's pixels at the asked
// scale with sound chunk checksums, and an SVG that covers exactly the visible pixels.
#include "icon/icon_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>

#include "console/artwork.h"

namespace {

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

struct Chunk {
  std::string type;
  std::vector<uint8_t> data;
};

// Splits a PNG into its chunks, failing the test on a bad signature or checksum.
std::vector<Chunk> Chunks(const std::vector<uint8_t>& png) {
  std::vector<Chunk> out;
  const uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(png.size() > 8 && std::equal(signature, signature + 8, png.begin()));
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = Be32(&png[at]);
    if (at + 12 + length > png.size()) break;
    const uint8_t* type = &png[at + 4];
    EXPECT_EQ(Be32(type + 4 + length), crc32(0L, type, 4 + length)) << std::string(type, type + 4);
    out.push_back({std::string(type, type + 4), std::vector<uint8_t>(type + 4, type + 4 + length)});
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  return out;
}

ui::Bitmap Sample() {
  ui::Bitmap b;
  b.width = 3;
  b.height = 2;
  b.argb = {0xFFFF0000, 0xFFFF0000, 0x00000000, 0x80102030, 0xFF00FF00, 0xFF00FF00};
  return b;
}

TEST(IconPng, DecodesToTheBitmapScaled) {
  const ui::Bitmap bitmap = Sample();
  const std::vector<uint8_t> png = icon::EncodePng(bitmap, 4);
  const auto chunks = Chunks(png);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[1].type, "IDAT");
  EXPECT_EQ(chunks[2].type, "IEND");
  const auto& ihdr = chunks[0].data;
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(Be32(&ihdr[0]), 12u);
  EXPECT_EQ(Be32(&ihdr[4]), 8u);
  EXPECT_EQ(ihdr[8], 8);  // bit depth
  EXPECT_EQ(ihdr[9], 6);  // RGBA

  const size_t stride = 1 + 4 * 12;
  std::vector<uint8_t> raw(stride * 8);
  uLongf rawSize = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &rawSize, chunks[1].data.data(), chunks[1].data.size()), Z_OK);
  ASSERT_EQ(rawSize, raw.size());
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(raw[y * stride], 0) << "filter of row " << y;
    for (int x = 0; x < 12; ++x) {
      const uint32_t p = bitmap.argb[(y / 4) * 3 + x / 4];
      const uint8_t* px = &raw[y * stride + 1 + 4 * x];
      EXPECT_EQ(px[0], (p >> 16) & 0xFF);
      EXPECT_EQ(px[1], (p >> 8) & 0xFF);
      EXPECT_EQ(px[2], p & 0xFF);
      EXPECT_EQ(px[3], p >> 24) << x << "," << y;
    }
  }

  // The station's own icon at the sizes installed.
  const auto app = console::ApplicationIcon();
  for (int scale : {1, 8}) {
    const auto appChunks = Chunks(icon::EncodePng(*app, scale));
    ASSERT_FALSE(appChunks.empty());
    EXPECT_EQ(Be32(&appChunks[0].data[0]), static_cast<uint32_t>(32 * scale));
  }
}

TEST(IconPng, RefusesWhatIsNotAPicture) {
  ui::Bitmap broken = Sample();
  broken.argb.pop_back();
  EXPECT_TRUE(icon::EncodePng(broken, 1).empty());
  EXPECT_TRUE(icon::EncodePng(Sample(), 0).empty());
  EXPECT_TRUE(icon::EncodePng(ui::Bitmap{}, 1).empty());
  EXPECT_TRUE(icon::EncodeSvg(broken).empty());
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

TEST(IconIco, EachEntryHoldsTheScaledPixelsBottomUpWithTheirMask) {
  const ui::Bitmap bitmap = Sample();
  const std::vector<uint8_t> ico = icon::EncodeIco(bitmap, {1, 2});
  ASSERT_GE(ico.size(), 6u + 2 * 16);
  EXPECT_EQ(ico[2] | (ico[3] << 8), 1);  // an icon
  EXPECT_EQ(ico[4] | (ico[5] << 8), 2);
  for (int entry = 0; entry < 2; ++entry) {
    SCOPED_TRACE(entry);
    const int scale = entry + 1;
    const uint8_t* e = &ico[6 + 16 * entry];
    const int w = 3 * scale, h = 2 * scale;
    EXPECT_EQ(e[0], w);
    EXPECT_EQ(e[1], h);
    const uint32_t size = Le32(e + 8), offset = Le32(e + 12);
    ASSERT_LE(offset + size, ico.size());
    const uint8_t* image = &ico[offset];
    EXPECT_EQ(Le32(image + 8), static_cast<uint32_t>(2 * h));  // colour and mask rows
    const uint32_t maskRow = 4;
    ASSERT_EQ(size, 40u + 4u * w * h + maskRow * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t p = bitmap.argb[(y / scale) * 3 + x / scale];
        const int row = h - 1 - y;
        EXPECT_EQ(Le32(image + 40 + 4 * (row * w + x)), p) << x << "," << y;
        const bool masked = (image[40 + 4 * w * h + row * maskRow + x / 8] >> (7 - x % 8)) & 1;
        EXPECT_EQ(masked, (p >> 24) == 0) << x << "," << y;
      }
  }
  EXPECT_TRUE(icon::EncodeIco(bitmap, {0}).empty());
  EXPECT_TRUE(icon::EncodeIco(*console::ApplicationIcon(), {16}).empty());  // past 256
}

// The Windows program's resource is a file in the tree, because a cross build cannot
// run the exporter; it must stay the artwork's.
TEST(IconIco, TheWindowsProgramsIconIsTheArtworks) {
  std::ifstream in(OSTREVANE_SOURCE_DIR "/packaging/windows/ostrevane.ico", std::ios::binary);
  ASSERT_TRUE(in) << "packaging/windows/ostrevane.ico is missing: ostrevane_icon DIR writes it";
  const std::vector<uint8_t> committed{std::istreambuf_iterator<char>(in), {}};
  EXPECT_TRUE(committed == icon::EncodeIco(*console::ApplicationIcon(), icon::kWindowsIconScales))
      << "the artwork changed: copy the ostrevane.ico that ostrevane_icon DIR writes";
}

TEST(IconSvg, CoversExactlyTheVisiblePixels) {
  const std::string svg = icon::EncodeSvg(Sample());
  EXPECT_NE(svg.find("viewBox=\"0 0 3 2\""), std::string::npos) << svg;
  EXPECT_NE(svg.find(R"(<rect x="0" y="0" width="2" height="1" fill="#ff0000"/>)"),
            std::string::npos)
      << svg;
  EXPECT_NE(
      svg.find(R"(<rect x="0" y="1" width="1" height="1" fill="#102030" fill-opacity="0.502"/>)"),
      std::string::npos)
      << svg;
  EXPECT_NE(svg.find(R"(<rect x="1" y="1" width="2" height="1" fill="#00ff00"/>)"),
            std::string::npos)
      << svg;
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);

  // Across the real icon: rectangle widths add up to the non-transparent pixels.
  const auto app = console::ApplicationIcon();
  const std::string appSvg = icon::EncodeSvg(*app);
  long covered = 0;
  const std::string key = "width=\"";
  for (size_t at = appSvg.find(key); at != std::string::npos; at = appSvg.find(key, at)) {
    at += key.size();
    size_t digits = 0;
    const long w = std::stol(appSvg.substr(at, 12), &digits);
    if (appSvg.compare(at + digits, 12, "\" height=\"1\"") == 0) covered += w;
  }
  long visible = 0;
  for (uint32_t p : app->argb) visible += (p >> 24) != 0;
  EXPECT_EQ(covered, visible);
  EXPECT_GT(visible, 0);
}

}  // namespace
