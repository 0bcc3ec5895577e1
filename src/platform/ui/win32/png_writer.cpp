// A minimal PNG encoder: signature, IHDR, one IDAT of filter-free rows, IEND.
#include "platform/ui/win32/png_writer.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>

namespace ui::native {

namespace {

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  // The CRC covers the type and the data, not the length.
  uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  PutBe32(out, static_cast<uint32_t>(crc));
}

}  // namespace

std::vector<uint8_t> EncodePng(const Bitmap& bitmap) {
  if (bitmap.width <= 0 || bitmap.height <= 0 ||
      bitmap.argb.size() != static_cast<size_t>(bitmap.width) * bitmap.height)
    return {};
  std::vector<uint8_t> raw;
  raw.reserve((static_cast<size_t>(bitmap.width) * 4 + 1) * bitmap.height);
  for (int y = 0; y < bitmap.height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < bitmap.width; ++x) {
      uint32_t p = bitmap.argb[static_cast<size_t>(y) * bitmap.width + x];
      raw.push_back(static_cast<uint8_t>(p >> 16));
      raw.push_back(static_cast<uint8_t>(p >> 8));
      raw.push_back(static_cast<uint8_t>(p));
      raw.push_back(static_cast<uint8_t>(p >> 24));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                Z_BEST_SPEED) != Z_OK)
    return {};
  packed.resize(packedSize);

  std::vector<uint8_t> header;
  PutBe32(header, static_cast<uint32_t>(bitmap.width));
  PutBe32(header, static_cast<uint32_t>(bitmap.height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace

  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", packed);
  PutChunk(out, "IEND", {});
  return out;
}

bool WritePng(const std::string& path, const Bitmap& bitmap) {
  std::vector<uint8_t> bytes = EncodePng(bitmap);
  if (bytes.empty()) return false;
  // The path is UTF-8 on every platform; Windows opens it by its UTF-16 form.
  const std::filesystem::path native(std::u8string(path.begin(), path.end()));
  std::ofstream file(native, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace ui::native
