// What `smdtool info` and `smdtool verify` know about an image file: header, partition
// table with discrete runs, signature slots in use, CSC package, digest verdict and the
// problems found on the way.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "image/csc_package.h"
#include "image/image_digest.h"
#include "image/smd_reader.h"

namespace smdtool {

struct ReportedEntry {
  size_t slot = 0;
  image::PartitionEntry entry;
  std::array<uint8_t, 16> cscLink{};
  std::optional<image::DiscreteMap> map;
  std::string problem;  // empty when the entry is sound
};

struct ImageReport {
  std::string path;
  uint64_t fileSize = 0;
  image::SmdHeader header;
  std::optional<image::ImageKind> kind;  // none: the magic is not an image magic
  std::vector<ReportedEntry> entries;    // the slots with a name
  std::vector<uint32_t> signatureSlots;  // slots with any non-zero byte
  std::optional<image::CscPackageContents> cscPackage;
  std::string cscProblem;
  image::DigestResult digest;
  std::vector<std::string> problems;
};

// Reads everything the report shows; none (with the reason) when the file cannot be read.
std::optional<ImageReport> InspectImage(const std::string& path, std::string* error);

nlohmann::json ReportToJson(const ImageReport& report);
std::string ReportToText(const ImageReport& report);

}  // namespace smdtool
