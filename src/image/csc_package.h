// The CSC package reader: package header, records with their sales codes and item
// lengths. Records are judged one at a time so a file can be read as a stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/smd_format.h"

namespace image {

struct CscPackageHeader {
  uint32_t recordCount = 0;
  std::string text;
};

enum class CscRecordVerdict {
  kGood,
  kTruncated,              // fewer than 672 bytes left
  kBadMagic,               // openMagic or closeMagic wrong
  kTooManyItems,           // itemCount above 7
  kUnterminatedSalesCode,  // no NUL in the 4 bytes
  kDataLengthOverflow,     // the item lengths add up past 32 bits
};

const char* CscRecordVerdictText(CscRecordVerdict verdict);

struct CscRecord {
  std::string salesCode;
  std::array<char, 4> salesCodeBytes{};
  std::vector<uint32_t> itemLengths;
  uint32_t dataBytes = 0;  // the item data that follows the record
};

// Decodes a 64-byte package header; false when its magics are wrong or it is short.
bool DecodeCscPackageHeader(const uint8_t* data, size_t size, CscPackageHeader* out);
void EncodeCscPackageHeader(const CscPackageHeader& header, uint8_t* out);  // 64 bytes

CscRecordVerdict DecodeCscRecord(const uint8_t* data, size_t size, CscRecord* out);
// 672 bytes; item lengths beyond seven are not written.
void EncodeCscRecord(const CscRecord& record, uint8_t* out);

struct CscPackageContents {
  bool headerValid = false;
  CscPackageHeader header;
  std::vector<CscRecord> records;  // the good records before the first bad one
  CscRecordVerdict stoppedBy = CscRecordVerdict::kGood;  // why the walk ended early
  uint64_t endOffset = 0;                                // bytes the walk covered
};

// Walks a package held in memory, staying inside `size`.
CscPackageContents DecodeCscPackage(const uint8_t* data, size_t size);

}  // namespace image
