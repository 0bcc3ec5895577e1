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

void PutLe16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

// One icon image: a BITMAPINFOHEADER whose height counts the colour rows and the mask's,
// the colour rows bottom-up, then the 1-bit mask (set where fully transparent), each
// mask row padded to 32 bits.
std::vector<uint8_t> IcoImage(const ui::Bitmap& bitmap, int scale) {
  const uint32_t side = static_cast<uint32_t>(bitmap.width) * scale;
  const uint32_t high = static_cast<uint32_t>(bitmap.height) * scale;
  const uint32_t maskRow = (side + 31) / 32 * 4;
  std::vector<uint8_t> out;
  PutLe32(&out, 40);
  PutLe32(&out, side);
  PutLe32(&out, high * 2);
  PutLe16(&out, 1);   // planes
  PutLe16(&out, 32);  // bits per pixel
  PutLe32(&out, 0);   // BI_RGB
  PutLe32(&out, side * high * 4 + maskRow * high);
  for (int i = 0; i < 4; ++i) PutLe32(&out, 0);  // resolution and palette: unused
  auto pixel = [&](uint32_t x, uint32_t y) {
    return bitmap.argb[(y / scale) * bitmap.width + x / scale];
  };
  for (uint32_t row = high; row-- > 0;)
    for (uint32_t x = 0; x < side; ++x) PutLe32(&out, pixel(x, row));  // 0xAARRGGBB is BGRA
  for (uint32_t row = high; row-- > 0;) {
    std::vector<uint8_t> mask(maskRow, 0);
    for (uint32_t x = 0; x < side; ++x)
      if ((pixel(x, row) >> 24) == 0) mask[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), mask.begin(), mask.end());
  }
  return out;
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

std::vector<uint8_t> EncodeIco(const ui::Bitmap& bitmap, const std::vector<int>& scales) {
  if (!Valid(bitmap) || scales.empty() || scales.size() > 0xFFFF) return {};
  for (int scale : scales)
    if (scale < 1 || bitmap.width * scale > 256 || bitmap.height * scale > 256) return {};
  std::vector<std::vector<uint8_t>> images;
  for (int scale : scales) images.push_back(IcoImage(bitmap, scale));
  std::vector<uint8_t> out;
  PutLe16(&out, 0);
  PutLe16(&out, 1);  // an icon, not a cursor
  PutLe16(&out, static_cast<uint32_t>(scales.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(scales.size());
  for (size_t i = 0; i < scales.size(); ++i) {
    // A side of 256 is written as 0.
    out.push_back(static_cast<uint8_t>(bitmap.width * scales[i]));
    out.push_back(static_cast<uint8_t>(bitmap.height * scales[i]));
    out.push_back(0);  // no palette
    out.push_back(0);
    PutLe16(&out, 1);
    PutLe16(&out, 32);
    PutLe32(&out, static_cast<uint32_t>(images[i].size()));
    PutLe32(&out, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
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
