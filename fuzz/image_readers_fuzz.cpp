// libFuzzer target over the image readers: header, partition table with its entry
// checks, discrete maps and CSC packages, all fed the same untrusted bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/csc_package.h"
#include "image/image_digest.h"
#include "image/image_layout_check.h"
#include "image/image_loader.h"
#include "image/smd_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const image::SmdHeader header = image::DecodeSmdHeader(data, size);
  (void)image::KindOfMagic(header.magic);
  (void)image::FindDppEntry(data, size);

  // Entries are checked against the input as if it were the whole file.
  const auto table = image::DecodePartitionTable(data, size);
  for (const auto& entry : table) {
    if (entry.name.empty() || !image::CheckEntryBounds(entry, size).empty()) continue;
    if (!entry.discrete()) continue;
    std::string why;
    auto map = image::DecodeDiscreteMap(data + entry.fileOffset, size - entry.fileOffset, &why);
    if (map) (void)image::CheckDiscreteLength(entry, *map);
  }

  std::string why;
  (void)image::DecodeDiscreteMap(data, size, &why);
  (void)image::DecodeCscPackage(data, size);
  if (header.cscPackageOffset < size)
    (void)image::DecodeCscPackage(
        data + header.cscPackageOffset,
        std::min<size_t>(size - header.cscPackageOffset, header.cscPackageLength));
  // The layout check, with the input as the whole file.
  (void)image::CheckImageLayout(data, size, size, [&](uint64_t at, uint8_t* out, size_t n) {
    if (at > size || n > size - at) return false;
    std::memcpy(out, data + at, n);
    return true;
  });
  (void)image::CheckCscPackageBounds(data, size, size);
  (void)image::ImageDigestOf(data, size);
  return 0;
}
