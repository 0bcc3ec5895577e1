// A layout read, checked and laid out: every field known, every size evaluated, every
// file offset decided. The writer only follows the plan.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "image/smd_reader.h"
#include "smdtool/image_builder.h"

namespace smdtool {

// Where a stretch of bytes comes from.
struct DataSource {
  enum class Kind { kFile, kPattern, kBytes };
  Kind kind = Kind::kPattern;
  std::string path;            // kFile
  uint64_t key = 0;            // kPattern
  std::vector<uint8_t> bytes;  // kBytes
  uint64_t size = 0;
};

struct PlannedPartition {
  std::string name;  // empty: an empty slot
  uint32_t startSector = 0;
  uint32_t sectorCount = 0;
  uint32_t signatureSlot = 0;
  bool discrete = false;
  bool holdsGpt = false;
  std::array<uint8_t, 16> cscLink{};
  image::DiscreteMap map;          // discrete parts
  std::vector<DataSource> pieces;  // contiguous: at most one; discrete: one per run
  uint64_t fileOffset = 0;
  uint64_t length = 0;
};

struct PlannedSignature {
  uint32_t slot = 0;
  DataSource engineer;
  DataSource product;
};

struct PlannedCscItem {
  uint32_t dataLength = 0;
  uint64_t key = 0;
};

struct PlannedCscRecord {
  std::string salesCode;
  std::vector<PlannedCscItem> items;
};

struct PlannedCscPackage {
  std::string text;
  std::vector<PlannedCscRecord> records;
  uint64_t fileOffset = 0;
  uint64_t length = 0;
};

struct ImagePlan {
  std::string magic, model, label;
  uint32_t imageType = 0;
  uint32_t cscWord1 = 0;
  uint32_t cscWord2 = 0;
  std::vector<PlannedPartition> partitions;
  std::vector<PlannedSignature> signatures;
  std::optional<PlannedCscPackage> cscPackage;
  uint64_t fileSize = 0;
};

// Reads and checks a layout; `baseDir` resolves relative data file paths.
std::optional<BuildError> PlanImage(const nlohmann::json& layout, const std::string& baseDir,
                                    const ParamOverrides& overrides, ImagePlan* plan);

}  // namespace smdtool
