// The SMD image layout (OS and CSC images): header fields, partition entries, signature
// slots, discrete maps and the CSC package, decoded explicitly from little-endian bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/bytes/little_endian.h"

namespace image {

enum class ImageKind : uint8_t { Os = 0xF0, Csc = 0xF1 };

// The partitions a download looks up by name, in the order of the download engine's
// partition indexes. DPP is looked up but never written.
inline constexpr std::array<const char*, 17> PARTITION_NAMES = {
    "SBL1", "SBL2",   "SBL3", "DBI",    "TZ",   "TZAPPS", "RPM", "UEFI",     "WINSECAPP",
    "PLAT", "EFIESP", "MMOS", "MainOS", "Data", "GPT",    "DPP", "CrashDump"};

inline constexpr const char* MAGIC_OS_PRODUCT = "KX4_EMMC_MainOS";
inline constexpr const char* MAGIC_OS_FACTORY = "FAC_EMMC_MainOS";
inline constexpr const char* MAGIC_CSC_PRODUCT = "KX4_EMMC_CSC";
inline constexpr const char* MAGIC_CSC_FACTORY = "FAC_EMMC_CSC";

inline constexpr uint32_t IMAGE_SECURITY_SECURE = 0x2ECA0000;
inline constexpr uint32_t IMAGE_SECURITY_NON_SECURE = 0x2ECD0000;
inline constexpr uint32_t IMAGE_SECURITY_DONT_CARE = 0x2EC60000;
inline constexpr uint32_t IMAGE_BUILD_ENGINEER = 0xE88E;
inline constexpr uint32_t IMAGE_BUILD_PRODUCT = 0xD88D;

// A pattern counts as set when all of its bits are set.
inline bool HasPattern(uint32_t imageType, uint32_t pattern) {
  return (imageType & pattern) == pattern;
}

// SmdHeader: the first 96 bytes of both files.
inline constexpr size_t SMD_HEADER_SIZE = 0x60;
inline constexpr size_t HDR_MAGIC = 0x00;  // 16 bytes
inline constexpr size_t HDR_MODEL = 0x10;  // 16 bytes
inline constexpr size_t HDR_LABEL = 0x38;  // 4 bytes
inline constexpr size_t HDR_CSC_WORD1 = 0x3C;
inline constexpr size_t HDR_CSC_WORD2 = 0x40;
inline constexpr size_t HDR_IMAGE_TYPE = 0x44;
inline constexpr size_t HDR_CSC_PACKAGE_OFFSET = 0x48;
inline constexpr size_t HDR_CSC_PACKAGE_LENGTH = 0x4C;
inline constexpr size_t HDR_MD5 = 0x50;  // 16 bytes
inline constexpr size_t HDR_MD5_SIZE = 16;

// SmdHeaderRegion: the first 0x200C00 bytes of an image file.
inline constexpr size_t SMD_HEADER_REGION_SIZE = 0x200C00;
inline constexpr size_t PARTITION_TABLE_OFFSET = 0x200;
inline constexpr size_t PARTITION_ENTRY_SIZE = 64;
inline constexpr size_t PARTITION_SLOT_COUNT = 32;
inline constexpr size_t CSC_EXTRA_WORD_OFFSET = 0x298;  // 4 bytes merged on CSC accept
inline constexpr size_t SIGNATURE_SLOTS_OFFSET = 0xC00;
inline constexpr size_t SIGNATURE_SLOT_SIZE = 0x10000;
inline constexpr size_t SIGNATURE_BLOCK_SIZE = 0x8000;  // engineer half, then product half
inline constexpr size_t SIGNATURE_SLOT_COUNT = 32;

// PartitionEntry fields (offsets inside the 64-byte entry).
inline constexpr size_t PE_NAME = 0x00;  // 16 bytes
inline constexpr size_t PE_START_SECTOR = 0x10;
inline constexpr size_t PE_SECTOR_COUNT = 0x14;
inline constexpr size_t PE_FILE_OFFSET = 0x18;
inline constexpr size_t PE_LENGTH = 0x1C;
inline constexpr size_t PE_SIGNATURE_SLOT = 0x24;
inline constexpr size_t PE_FORMAT = 0x28;
inline constexpr size_t PE_CSC_LINK = 0x30;  // 16 bytes
inline constexpr uint32_t PARTITION_FORMAT_DISCRETE = 0xEACCE221;

struct PartitionEntry {
  std::string name;
  uint32_t startSector = 0;
  uint32_t sectorCount = 0;
  uint32_t fileOffset = 0;
  uint32_t length = 0;
  uint32_t signatureSlot = 0;
  uint32_t format = 0;
  bool discrete() const { return format == PARTITION_FORMAT_DISCRETE; }
};

// Decodes the entry at `slot` of a header region (the region must hold the table).
inline PartitionEntry DecodePartitionEntry(const uint8_t* region, size_t slot) {
  const uint8_t* e = region + PARTITION_TABLE_OFFSET + slot * PARTITION_ENTRY_SIZE;
  PartitionEntry p;
  p.name = platform::FixedText(e + PE_NAME, 16);
  p.startSector = platform::Le32(e + PE_START_SECTOR);
  p.sectorCount = platform::Le32(e + PE_SECTOR_COUNT);
  p.fileOffset = platform::Le32(e + PE_FILE_OFFSET);
  p.length = platform::Le32(e + PE_LENGTH);
  p.signatureSlot = platform::Le32(e + PE_SIGNATURE_SLOT);
  p.format = platform::Le32(e + PE_FORMAT);
  return p;
}

// DiscreteMap: 4096 bytes at a discrete part's fileOffset.
inline constexpr size_t DISCRETE_MAP_SIZE = 4096;
inline constexpr uint32_t DISCRETE_MAP_WORD1 = 0xEACC9442;
inline constexpr uint32_t DISCRETE_MAP_WORD2 = 0x7260EACC;
inline constexpr size_t DISCRETE_MAP_RECORDS_OFFSET = 16;
inline constexpr uint32_t DISCRETE_MAP_MAX_RUNS = 510;

// CscPackage.
inline constexpr uint32_t CSC_OPEN_MAGIC = 0x5955C5C1;
inline constexpr uint32_t CSC_CLOSE_MAGIC = 0x5955C5C2;
inline constexpr size_t CSC_PACKAGE_HEADER_SIZE = 64;
inline constexpr size_t CSC_PACKAGE_HEADER_CLOSE = 0x3C;
inline constexpr size_t CSC_RECORD_SIZE = 672;
inline constexpr size_t CSC_RECORD_ITEM_COUNT = 4;
inline constexpr size_t CSC_RECORD_SALES_CODE = 8;
inline constexpr size_t CSC_RECORD_ITEMS = 0x20;
inline constexpr size_t CSC_RECORD_CLOSE = 0x29C;
inline constexpr size_t CSC_ITEM_DESCRIPTOR_SIZE = 80;
inline constexpr uint32_t CSC_MAX_ITEMS = 7;

}  // namespace image
