// What the demo needs to know of an image file without the station: its header
// fields, its partition entries, the partition table it carries, and byte ranges.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handset/gpt_table.h"
#include "image/smd_format.h"

namespace demo {

struct ImageFile {
  std::string path;
  std::string model;
  uint32_t imageType = 0;
  uint32_t cscPackageOffset = 0;
  uint32_t cscPackageLength = 0;
  uint64_t fileSize = 0;
  std::vector<image::PartitionEntry> entries;  // named slots only

  const image::PartitionEntry* Entry(const std::string& name) const;
};

// Reads the header region; nullopt (and `error` set) when the file cannot be read or is
// shorter than a header.
std::optional<ImageFile> ReadImageFile(const std::string& path, std::string* error);

// `length` bytes from `offset`; shorter when the file ends first.
std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t offset, uint64_t length);

// The partition table carried by the image's "GPT" partition, as a handset holds it;
// empty when there is none or it does not parse.
std::vector<handset::GptPartition> GptOfImage(const ImageFile& image);

}  // namespace demo
