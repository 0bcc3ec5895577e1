// CSC package decoding and encoding. Records that break the format (too many items, an
// unterminated sales code, item lengths beyond 32 bits) end the walk like a bad magic.
#include "image/csc_package.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes/little_endian.h"

namespace image {

const char* CscRecordVerdictText(CscRecordVerdict verdict) {
  switch (verdict) {
    case CscRecordVerdict::kGood:
      return "good";
    case CscRecordVerdict::kTruncated:
      return "record truncated";
    case CscRecordVerdict::kBadMagic:
      return "record magic wrong";
    case CscRecordVerdict::kTooManyItems:
      return "itemCount above 7";
    case CscRecordVerdict::kUnterminatedSalesCode:
      return "salesCode without NUL";
    case CscRecordVerdict::kDataLengthOverflow:
      return "item lengths overflow 32 bits";
  }
  return "?";
}

bool DecodeCscPackageHeader(const uint8_t* data, size_t size, CscPackageHeader* out) {
  if (size < CSC_PACKAGE_HEADER_SIZE) return false;
  if (platform::Le32(data) != CSC_OPEN_MAGIC ||
      platform::Le32(data + CSC_PACKAGE_HEADER_CLOSE) != CSC_CLOSE_MAGIC)
    return false;
  out->recordCount = platform::Le32(data + 4);
  out->text = platform::FixedText(data + 0x20, CSC_PACKAGE_HEADER_CLOSE - 0x20);
  return true;
}

void EncodeCscPackageHeader(const CscPackageHeader& header, uint8_t* out) {
  std::memset(out, 0, CSC_PACKAGE_HEADER_SIZE);
  platform::PutLe32(out, CSC_OPEN_MAGIC);
  platform::PutLe32(out + 4, header.recordCount);
  std::memcpy(out + 0x20, header.text.data(),
              std::min(header.text.size(), CSC_PACKAGE_HEADER_CLOSE - 0x20 - 1));
  platform::PutLe32(out + CSC_PACKAGE_HEADER_CLOSE, CSC_CLOSE_MAGIC);
}

CscRecordVerdict DecodeCscRecord(const uint8_t* data, size_t size, CscRecord* out) {
  if (size < CSC_RECORD_SIZE) return CscRecordVerdict::kTruncated;
  if (platform::Le32(data) != CSC_OPEN_MAGIC ||
      platform::Le32(data + CSC_RECORD_CLOSE) != CSC_CLOSE_MAGIC)
    return CscRecordVerdict::kBadMagic;
  const uint32_t itemCount = platform::Le32(data + CSC_RECORD_ITEM_COUNT);
  if (itemCount > CSC_MAX_ITEMS) return CscRecordVerdict::kTooManyItems;
  const uint8_t* code = data + CSC_RECORD_SALES_CODE;
  if (std::find(code, code + 4, 0) == code + 4) return CscRecordVerdict::kUnterminatedSalesCode;
  CscRecord record;
  std::memcpy(record.salesCodeBytes.data(), code, 4);
  record.salesCode = platform::FixedText(code, 4);
  uint64_t sum = 0;
  for (uint32_t i = 0; i < itemCount; ++i) {
    const uint32_t length =
        platform::Le32(data + CSC_RECORD_ITEMS + static_cast<size_t>(i) * CSC_ITEM_DESCRIPTOR_SIZE);
    record.itemLengths.push_back(length);
    sum += length;
  }
  if (sum > 0xFFFFFFFFull) return CscRecordVerdict::kDataLengthOverflow;
  record.dataBytes = static_cast<uint32_t>(sum);
  *out = std::move(record);
  return CscRecordVerdict::kGood;
}

void EncodeCscRecord(const CscRecord& record, uint8_t* out) {
  std::memset(out, 0, CSC_RECORD_SIZE);
  platform::PutLe32(out, CSC_OPEN_MAGIC);
  const size_t items = std::min<size_t>(record.itemLengths.size(), CSC_MAX_ITEMS);
  platform::PutLe32(out + CSC_RECORD_ITEM_COUNT, static_cast<uint32_t>(items));
  std::memcpy(out + CSC_RECORD_SALES_CODE, record.salesCode.data(),
              std::min<size_t>(record.salesCode.size(), 3));
  for (size_t i = 0; i < items; ++i)
    platform::PutLe32(out + CSC_RECORD_ITEMS + i * CSC_ITEM_DESCRIPTOR_SIZE, record.itemLengths[i]);
  platform::PutLe32(out + CSC_RECORD_CLOSE, CSC_CLOSE_MAGIC);
}

CscPackageContents DecodeCscPackage(const uint8_t* data, size_t size) {
  CscPackageContents out;
  if (!DecodeCscPackageHeader(data, size, &out.header)) return out;
  out.headerValid = true;
  uint64_t at = CSC_PACKAGE_HEADER_SIZE;
  for (uint32_t i = 0; i < out.header.recordCount; ++i) {
    CscRecord record;
    const size_t left = at < size ? static_cast<size_t>(size - at) : 0;
    CscRecordVerdict verdict = DecodeCscRecord(data + std::min<uint64_t>(at, size), left, &record);
    if (verdict != CscRecordVerdict::kGood) {
      out.stoppedBy = verdict;
      break;
    }
    at += CSC_RECORD_SIZE + static_cast<uint64_t>(record.dataBytes);
    out.records.push_back(std::move(record));
  }
  out.endOffset = at;
  return out;
}

}  // namespace image
