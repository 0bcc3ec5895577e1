// Test images built with the image builder from layouts written here: a full OS image
// with all seventeen partitions (contiguous or discrete OS parts) and its CSC image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "handset/gpt_table.h"
#include "handset/handset_config.h"

namespace testsupport {

struct OsImageSpec {
  std::string magic = "KX4_EMMC_MainOS";
  std::string model = "QMR-K220_SIGN";
  uint32_t imageType = 0x2ECDD88D;  // non-secure, product build
  bool discreteOs = false;          // MainOS and Data as discrete parts
  bool withCrashDump = true;
  bool withMainOsAndData = true;
  bool withDpp = true;
  uint32_t mainOsBytes = 700000;
  uint64_t seed = 1;
};

struct CscImageSpec {
  std::string magic = "KX4_EMMC_CSC";
  std::string model = "QMR-K220_SIGN";
  std::vector<std::string> salesCodes = {"XEU", "BTU", "VDF"};
  uint32_t itemBytes = 70000;  // per record, so the package takes several packets
};

nlohmann::json OsLayout(const OsImageSpec& spec);
nlohmann::json CscLayout(const CscImageSpec& spec);

// Builds the layout into images/<name> of the running test's output folder; fails the test on a build error.
std::string BuildTestImage(const nlohmann::json& layout, const std::string& name);
std::string BuildOsImage(const OsImageSpec& spec, const std::string& name);
// The standard OS image built without the entry `entry` of the layout's list `list`
// ("partitions" or "gptExtra").
std::string BuildOsImageWithout(const char* list, const std::string& entry,
                                const std::string& name);
std::string BuildCscImage(const CscImageSpec& spec, const std::string& name);

// The partition table carried by the image's "GPT" partition, as a handset would hold it.
std::vector<handset::GptPartition> GptOfImage(const std::string& imagePath);

// The standard OS image and its CSC image, as <stem>.kx4 and <stem>.csc.
struct ImagePair {
  std::string os;
  std::string csc;
};
ImagePair BuildImagePair(const std::string& stem);

// A handset whose storage holds the partition table the image carries.
handset::HandsetConfig HandsetFor(const std::string& osImage);

}  // namespace testsupport
