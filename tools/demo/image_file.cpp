// Reads image headers and byte ranges with plain streams, decoding fields explicitly.
#include "demo/image_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/bytes/little_endian.h"
#include "platform/file/file.h"

namespace demo {

const image::PartitionEntry* ImageFile::Entry(const std::string& name) const {
  for (const auto& e : entries)
    if (e.name == name) return &e;
  return nullptr;
}

std::vector<uint8_t> ReadFileRange(const std::string& path, uint64_t offset, uint64_t length) {
  std::ifstream in(platform::file::NativePath(path), std::ios::binary);
  std::vector<uint8_t> out(static_cast<size_t>(length), 0);
  if (!in) return {};
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
  out.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return out;
}

std::optional<ImageFile> ReadImageFile(const std::string& path, std::string* error) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(platform::file::NativePath(path), ec);
  if (ec) {
    *error = path + ": " + ec.message();
    return std::nullopt;
  }
  auto region = ReadFileRange(path, 0, image::SMD_HEADER_REGION_SIZE);
  if (region.size() < image::SMD_HEADER_SIZE) {
    *error = path + ": too short for an image header";
    return std::nullopt;
  }
  // A CSC image may end inside the region; its missing slots read as empty.
  region.resize(image::SMD_HEADER_REGION_SIZE, 0);
  ImageFile f;
  f.path = path;
  f.fileSize = size;
  f.model = platform::FixedText(region.data() + image::HDR_MODEL, 16);
  f.imageType = platform::Le32(region.data() + image::HDR_IMAGE_TYPE);
  f.cscPackageOffset = platform::Le32(region.data() + image::HDR_CSC_PACKAGE_OFFSET);
  f.cscPackageLength = platform::Le32(region.data() + image::HDR_CSC_PACKAGE_LENGTH);
  for (size_t slot = 0; slot < image::PARTITION_SLOT_COUNT; ++slot) {
    auto e = image::DecodePartitionEntry(region.data(), slot);
    if (!e.name.empty()) f.entries.push_back(e);
  }
  return f;
}

std::vector<handset::GptPartition> GptOfImage(const ImageFile& image) {
  const image::PartitionEntry* gpt = image.Entry("GPT");
  if (!gpt || gpt->discrete() || gpt->length == 0) return {};
  return handset::ParseGpt(ReadFileRange(image.path, gpt->fileOffset, gpt->length));
}

}  // namespace demo
