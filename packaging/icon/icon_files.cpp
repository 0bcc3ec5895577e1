// PNG by hand over zlib (deflate and the chunk CRC), SVG as plain text: the icon needs
// nothing heavier, and the build must not depend on a toolkit to make it.
#include "icon/icon_files.h"

#include <zlib.h>

#include <cstdio>

namespace icon {
namespace {

void PutBe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>* out, const char type[4], const std::vector<uint8_t>& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  // The CRC covers the type and the data, not the length.
  const uLong crc = crc32(0L, out->data() + typeAt, static_cast<uInt>(4 + data.size()));
  PutBe32(out, static_cast<uint32_t>(crc));
}

bool Valid(const ui::Bitmap& bitmap) {
  return bitmap.width > 0 && bitmap.height > 0 &&
         bitmap.argb.size() == static_cast<size_t>(bitmap.width) * bitmap.height;
}

}  // namespace

std::vector<uint8_t> EncodePng(const ui::Bitmap& bitmap, int scale) {
  if (!Valid(bitmap) || scale < 1) return {};
  const uint32_t width = static_cast<uint32_t>(bitmap.width) * scale;
  const uint32_t height = static_cast<uint32_t>(bitmap.height) * scale;

  // Scanlines with filter type 0 (none) in front of each.
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(height) * (1 + 4 * width));
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t p = bitmap.argb[(y / scale) * bitmap.width + x / scale];
      raw.push_back(static_cast<uint8_t>(p >> 16));
      raw.push_back(static_cast<uint8_t>(p >> 8));
      raw.push_back(static_cast<uint8_t>(p));
      raw.push_back(static_cast<uint8_t>(p >> 24));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                Z_BEST_COMPRESSION) != Z_OK)
    return {};
  packed.resize(packedSize);

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(&ihdr, width);
  PutBe32(&ihdr, height);
  ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no filter, no interlace
  PutChunk(&out, "IHDR", ihdr);
  PutChunk(&out, "IDAT", packed);
  PutChunk(&out, "IEND", {});
  return out;
}

std::string EncodeSvg(const ui::Bitmap& bitmap) {
  if (!Valid(bitmap)) return {};
  std::string out;
  char text[256];
  std::snprintf(text, sizeof text,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                "viewBox=\"0 0 %d %d\" shape-rendering=\"crispEdges\">\n",
                bitmap.width, bitmap.height, bitmap.width, bitmap.height);
  out += text;
  for (int y = 0; y < bitmap.height; ++y) {
    const uint32_t* row = bitmap.argb.data() + static_cast<size_t>(y) * bitmap.width;
    for (int x = 0; x < bitmap.width;) {
      const uint32_t p = row[x];
      int end = x + 1;
      while (end < bitmap.width && row[end] == p) ++end;
      const unsigned alpha = p >> 24;
      if (alpha != 0) {
        std::snprintf(text, sizeof text,
                      "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"1\" fill=\"#%06x\"", x, y,
                      end - x, static_cast<unsigned>(p & 0xFFFFFFu));
        out += text;
        if (alpha != 255) {
          std::snprintf(text, sizeof text, " fill-opacity=\"%.3f\"", alpha / 255.0);
          out += text;
        }
        out += "/>\n";
      }
      x = end;
    }
  }
  out += "</svg>\n";
  return out;
}

}  // namespace icon
