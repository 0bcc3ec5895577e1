// Builds OS and CSC image files from a JSON layout (schema: samples/README.md). Data is
// streamed to the file and the digest is stored last, so images of any size up to the
// format's 4 GiB limit never sit in memory.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace smdtool {

// Parameter values that replace the layout's "params" defaults: name -> expression.
using ParamOverrides = std::map<std::string, std::string>;

struct BuildError {
  std::string file;              // the layout file, or "<layout>" for a layout given in memory
  std::string field;             // where in the layout, e.g. "partitions[3].data.size"
  std::string message;           // what is wrong
  std::string ToString() const;  // "FILE: FIELD: MESSAGE"
};

struct BuiltEntry {
  std::string name;
  uint32_t fileOffset = 0;
  uint32_t length = 0;
};

struct BuildSummary {
  uint64_t fileSize = 0;
  std::vector<BuiltEntry> entries;  // in slot order
  uint32_t cscPackageOffset = 0;
  uint32_t cscPackageLength = 0;
  std::array<uint8_t, 16> digest{};
};

// Builds the image described by `layout` at `outPath`. None on success; on failure the
// output file is removed.
std::optional<BuildError> BuildImage(const nlohmann::json& layout, const std::string& baseDir,
                                     const std::string& outPath,
                                     const ParamOverrides& overrides = {},
                                     BuildSummary* summary = nullptr);

// Reads the layout file (relative data paths resolve against its folder) and builds it.
std::optional<BuildError> BuildImageFromFile(const std::string& layoutPath,
                                             const std::string& outPath,
                                             const ParamOverrides& overrides = {},
                                             BuildSummary* summary = nullptr);

}  // namespace smdtool
