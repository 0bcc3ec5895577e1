// Hand-made image bytes for the image tests: header regions with chosen magics, models,
// partition entries and CSC packages, written to scratch files.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/csc_package.h"
#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"

namespace imagetest {

inline std::vector<uint8_t> Region(const std::string& magic, const std::string& model = "") {
  std::vector<uint8_t> r(image::SMD_HEADER_REGION_SIZE, 0);
  std::memcpy(r.data() + image::HDR_MAGIC, magic.data(), magic.size());
  std::memcpy(r.data() + image::HDR_MODEL, model.data(), model.size());
  return r;
}

inline uint8_t* Entry(std::vector<uint8_t>& r, size_t slot) {
  return r.data() + image::PARTITION_TABLE_OFFSET + slot * image::PARTITION_ENTRY_SIZE;
}

inline void SetEntryName(std::vector<uint8_t>& r, size_t slot, const std::string& name) {
  std::memset(Entry(r, slot), 0, 16);
  std::memcpy(Entry(r, slot), name.data(), name.size());
}

inline void SetCscLink(std::vector<uint8_t>& r, size_t slot, uint8_t fill) {
  std::memset(Entry(r, slot) + image::PE_CSC_LINK, fill, 16);
}

inline void SetWord(std::vector<uint8_t>& r, size_t offset, uint32_t v) {
  platform::PutLe32(r.data() + offset, v);
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A package of records with these sales codes, each with the given item lengths.
struct RecordSpec {
  std::string code;
  std::vector<uint32_t> items;
};

inline std::vector<uint8_t> Package(const std::vector<RecordSpec>& records,
                                    int64_t declaredCount = -1) {
  std::vector<uint8_t> out(image::CSC_PACKAGE_HEADER_SIZE);
  image::EncodeCscPackageHeader(
      {static_cast<uint32_t>(declaredCount < 0 ? static_cast<int64_t>(records.size())
                                               : declaredCount),
       "t"},
      out.data());
  for (const auto& spec : records) {
    image::CscRecord record;
    record.salesCode = spec.code;
    record.itemLengths = spec.items;
    size_t at = out.size();
    out.resize(at + image::CSC_RECORD_SIZE);
    image::EncodeCscRecord(record, out.data() + at);
    uint64_t data = 0;
    for (uint32_t n : spec.items) data += n;
    out.resize(out.size() + data, 0x5A);
  }
  return out;
}

// Offset of record `index` in a package made by Package().
inline size_t RecordOffset(const std::vector<RecordSpec>& records, size_t index) {
  size_t at = image::CSC_PACKAGE_HEADER_SIZE;
  for (size_t i = 0; i < index; ++i) {
    at += image::CSC_RECORD_SIZE;
    for (uint32_t n : records[i].items) at += n;
  }
  return at;
}

}  // namespace imagetest
