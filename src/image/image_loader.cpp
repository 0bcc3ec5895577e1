// LoadImageHeader with its OS/CSC merging, the sales-code reader and the pairing check.
// A refused load never changes the state.
#include "image/image_loader.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "image/csc_package.h"
#include "image/smd_reader.h"
#include "platform/bytes/little_endian.h"
#include "platform/file/file.h"

namespace image {
namespace {

using platform::file::File;

size_t EntryOffset(size_t slot) {
  return PARTITION_TABLE_OFFSET + slot * PARTITION_ENTRY_SIZE;
}

// The CSC fields travel between regions as raw bytes; none of them is interpreted here.
void CopyCscWords(const uint8_t* from, uint8_t* to) {
  for (size_t field :
       {HDR_CSC_WORD2, HDR_CSC_WORD1, HDR_CSC_PACKAGE_OFFSET, HDR_CSC_PACKAGE_LENGTH})
    std::memcpy(to + field, from + field, 4);
}

void CopyCscLink(const uint8_t* from, size_t fromSlot, uint8_t* to, size_t toSlot) {
  std::memcpy(to + EntryOffset(toSlot) + PE_CSC_LINK, from + EntryOffset(fromSlot) + PE_CSC_LINK,
              16);
}

void ReadSalesCodes(ImageState& state, const std::string& path, uint32_t packageOffset) {
  state.SalesCodeCount = 0;
  const File file = platform::file::Open(path, "rb");
  if (!file) return;
  uint8_t header[CSC_PACKAGE_HEADER_SIZE] = {};
  CscPackageHeader package;
  if (!platform::file::Seek(file.get(), packageOffset)) return;
  const size_t got = std::fread(header, 1, sizeof header, file.get());
  if (!DecodeCscPackageHeader(header, got, &package)) return;

  // The record count is not trusted for the allocation: codes are kept as they are found.
  state.SalesCodes.clear();
  uint8_t bytes[CSC_RECORD_SIZE];
  // Each record is sought from the start of the file: a relative seek takes a long,
  // which on Windows turns a record's data length past 2 GiB into a step backwards.
  uint64_t next = uint64_t{packageOffset} + got;
  for (uint32_t i = 0; i < package.recordCount; ++i) {
    const size_t n = std::fread(bytes, 1, sizeof bytes, file.get());
    CscRecord record;
    if (DecodeCscRecord(bytes, n, &record) != CscRecordVerdict::kGood) break;
    state.SalesCodes.push_back(record.salesCodeBytes);
    next += n + record.dataBytes;
    if (record.dataBytes > 0 && !platform::file::Seek(file.get(), next)) break;
  }
  state.SalesCodeCount = static_cast<int>(state.SalesCodes.size());
}

}  // namespace

std::optional<size_t> FindDppEntry(const uint8_t* region, size_t size) {
  for (size_t slot = 0; slot < PARTITION_SLOT_COUNT; ++slot) {
    const size_t at = EntryOffset(slot);
    if (at + PARTITION_ENTRY_SIZE > size) return std::nullopt;
    const std::string name = platform::FixedText(region + at + PE_NAME, 16);
    if (name.empty()) return std::nullopt;
    if (name == "DPP") return slot;
  }
  return std::nullopt;
}

bool LoadImageHeader(ImageState& state, const std::string& path, ImageKind kind) {
  std::optional<std::vector<uint8_t>> region = ReadHeaderRegion(path);
  if (!region) return false;
  const std::string magic = platform::FixedText(region->data() + HDR_MAGIC, 16);
  const std::optional<ImageKind> magicKind = KindOfMagic(magic);
  if (!magicKind || *magicKind != kind) return false;
  std::vector<uint8_t>& held = state.LoadedHeader;

  if (kind == ImageKind::Os) {
    if (!held.empty()) {
      const auto heldDpp = FindDppEntry(held.data(), held.size());
      const auto newDpp = FindDppEntry(region->data(), region->size());
      if (!heldDpp || !newDpp) return false;
      CopyCscLink(held.data(), *heldDpp, region->data(), *newDpp);
      CopyCscWords(held.data(), region->data());
    }
    held = std::move(*region);
    state.OsImageLoaded = 1;
    return true;
  }

  // A CSC image patches the held OS header; without one there is nothing to patch.
  if (held.size() != SMD_HEADER_REGION_SIZE) return false;
  const auto heldDpp = FindDppEntry(held.data(), held.size());
  const auto newDpp = FindDppEntry(region->data(), region->size());
  if (!heldDpp || !newDpp) return false;
  CopyCscLink(region->data(), *newDpp, held.data(), *heldDpp);
  CopyCscWords(region->data(), held.data());
  // The word at 0x298 is slot 2's file offset. Taken from the CSC image it would send
  // another file's offset for a partition the OS image carries, so it is merged only
  // where slot 2 holds no such partition: an empty slot, or the DPP entry itself.
  const std::string slot2 = platform::FixedText(
      held.data() + PARTITION_TABLE_OFFSET + 2 * PARTITION_ENTRY_SIZE + PE_NAME, 16);
  if (slot2.empty() || slot2 == "DPP")
    std::memcpy(held.data() + CSC_EXTRA_WORD_OFFSET, region->data() + CSC_EXTRA_WORD_OFFSET, 4);
  ReadSalesCodes(state, path, platform::Le32(held.data() + HDR_CSC_PACKAGE_OFFSET));
  state.CscImageLoaded = 1;
  return true;
}

void LoadSalesCodes(ImageState& state) {
  state.SalesCodeCount = 0;
  if (state.LoadedHeader.size() < SMD_HEADER_SIZE) return;
  ReadSalesCodes(state, state.CscImagePath,
                 platform::Le32(state.LoadedHeader.data() + HDR_CSC_PACKAGE_OFFSET));
}

bool CheckFactorySignature(const ImageState& state, OperatorMessages& messages) {
  if (state.OsImagePath.empty() || state.LoadedHeader.size() < SMD_HEADER_SIZE) return false;
  const std::string osMagic = platform::FixedText(state.LoadedHeader.data() + HDR_MAGIC, 16);
  if (osMagic != MAGIC_OS_PRODUCT && osMagic != MAGIC_OS_FACTORY) return false;
  File file = platform::file::Open(state.CscImagePath, "rb");
  if (!file) {
    messages.MessageBox(TEXT_CSC_CANNOT_OPEN, "");
    return false;
  }
  uint8_t head[64] = {};
  (void)std::fread(head, 1, sizeof head, file.get());
  file.reset();
  const std::string cscMagic = platform::FixedText(head + HDR_MAGIC, 16);
  if (osMagic == MAGIC_OS_PRODUCT) return cscMagic == MAGIC_CSC_PRODUCT;
  return cscMagic == MAGIC_CSC_FACTORY;
}

}  // namespace image
