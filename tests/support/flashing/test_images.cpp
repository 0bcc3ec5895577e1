// Layouts with partitions at fixed, non-overlapping sectors; lengths that are not
// multiples of 512, and signature slots 3..5 on SBL1, TZ and UEFI.
#include "support/flashing/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"
#include "smdtool/image_builder.h"
#include "support/flashing/handset_image_check.h"
#include "support/test_env.h"

namespace testsupport {
namespace {

using nlohmann::json;

struct Slot {
  const char* name;
  uint32_t start;
  uint32_t count;
  uint32_t bytes;
  uint32_t signatureSlot;
};

constexpr uint32_t kMainOsStart = 12288;

// MainOS and Data sizes come from OsImageSpec; every other partition is fixed.
constexpr Slot kSlots[] = {
    {"SBL1", 64, 256, 50000, 3},
    {"SBL2", 320, 256, 40960, 0},
    {"SBL3", 576, 256, 30001, 1},
    {"DBI", 832, 256, 20000, 2},
    {"TZ", 1088, 256, 70000, 4},
    {"TZAPPS", 1344, 256, 10240, 0},
    {"RPM", 1600, 256, 65000, 0},
    {"UEFI", 1856, 512, 150000, 5},
    {"WINSECAPP", 2368, 256, 12345, 0},
    {"PLAT", 2624, 256, 4096, 0},
    {"EFIESP", 2880, 1024, 200000, 0},
    {"MMOS", 3904, 512, 99999, 0},

    {"CrashDump", 10560, 512, 8000, 0},
    // MainOS grows with its requested size; Data follows it, so the OS range erase stays ordered.
    {"MainOS", kMainOsStart, 0, 0, 0},
    {"Data", 0, 2048, 0, 0},
};

uint32_t MainOsSectors(const OsImageSpec& spec) {
  return std::max<uint32_t>(4096, (spec.mainOsBytes + 511) / 512);
}

}  // namespace

json OsLayout(const OsImageSpec& spec) {
  json parts = json::array();
  parts.push_back(
      {{"name", "GPT"}, {"startSector", 0}, {"sectorCount", 34}, {"data", {{"gpt", true}}}});
  // Slot 1 holds DPP; slot 2 is SBL1, whose file offset sits where a CSC accept finds
  // the word it merges at 0x298.
  parts.push_back({{"name", "DPP"},
                   {"startSector", 11072},
                   {"sectorCount", 64},
                   {"cscLink", "00112233445566778899aabbccddeeff"},
                   {"data", {{"size", 1024}, {"seed", spec.seed}}}});
  if (!spec.withDpp) parts.back() = {{"name", "DPX"}, {"startSector", 11072}, {"sectorCount", 64}};
  for (const Slot& s : kSlots) {
    const std::string name = s.name;
    if (name == "CrashDump" && !spec.withCrashDump) continue;
    if ((name == "MainOS" || name == "Data") && !spec.withMainOsAndData) continue;
    uint32_t start = s.start;
    uint32_t count = s.count;
    if (name == "MainOS") count = MainOsSectors(spec);
    if (name == "Data") start = kMainOsStart + MainOsSectors(spec);
    json p = {{"name", name},
              {"startSector", start},
              {"sectorCount", count},
              {"signatureSlot", s.signatureSlot}};
    const bool os = name == "MainOS" || name == "Data";
    if (os && spec.discreteOs) {
      p["format"] = "discrete";
      p["seed"] = spec.seed;
      if (name == "MainOS")
        p["runs"] = json::array({{{"firstSector", 0}, {"sectorCount", 300}},
                                 {{"firstSector", 1000}, {"sectorCount", 700}},
                                 {{"firstSector", 3000}, {"sectorCount", 1}}});
      else
        p["runs"] = json::array({{{"firstSector", 10}, {"sectorCount", 200}},
                                 {{"firstSector", 1500}, {"sectorCount", 0}},
                                 {{"firstSector", 1600}, {"sectorCount", 400}}});
    } else {
      uint32_t bytes = s.bytes;
      if (name == "MainOS") bytes = spec.mainOsBytes;
      if (name == "Data") bytes = 300000;
      p["data"] = {{"size", bytes}, {"seed", spec.seed}};
    }
    parts.push_back(p);
  }
  json layout = {
      {"header",
       {{"magic", spec.magic},
        {"model", spec.model},
        {"label", "K2"},
        {"imageType", spec.imageType}}},
      {"partitions", parts},
      {"gptExtra",
       json::array({{{"name", "UEFI_BS_NV"}, {"startSector", 11136}, {"sectorCount", 32}},
                    {{"name", "UEFI_NV"}, {"startSector", 11168}, {"sectorCount", 32}},
                    {{"name", "UEFI_RT_NV"}, {"startSector", 11200}, {"sectorCount", 32}},
                    {{"name", "UEFI_RT_NV_RPMB"}, {"startSector", 11232}, {"sectorCount", 32}}})},
      {"signatures",
       json::array({{{"slot", 3}, {"engineer", {{"seed", 31}}}, {"product", {{"seed", 32}}}},
                    {{"slot", 4}, {"engineer", {{"seed", 41}}}, {"product", {{"seed", 42}}}},
                    {{"slot", 5}, {"engineer", {{"seed", 51}}}, {"product", {{"seed", 52}}}}})},
  };
  return layout;
}

json CscLayout(const CscImageSpec& spec) {
  json records = json::array();
  uint64_t seed = 100;
  for (const auto& code : spec.salesCodes)
    records.push_back({{"salesCode", code},
                       {"items", json::array({{{"dataLength", spec.itemBytes}, {"seed", seed++}},
                                              {{"dataLength", 1000}, {"seed", seed++}}})}});
  return {
      {"header",
       {{"magic", spec.magic},
        {"model", spec.model},
        {"label", "C1"},
        {"imageType", 0},
        {"cscWord1", 0x11112222},
        {"cscWord2", 0x33334444}}},
      {"partitions", json::array({{{"name", "DPP"},
                                   {"startSector", 11072},
                                   {"sectorCount", 64},
                                   {"cscLink", "ffeeddccbbaa99887766554433221100"},
                                   {"data", {{"size", 512}, {"seed", 7}}}},
                                  {{"name", "CSCPAD"}, {"startSector", 11280}, {"sectorCount", 8}},
                                  {{"name", "CSCINFO"},
                                   {"startSector", 11264},
                                   {"sectorCount", 8},
                                   {"data", {{"size", 512}, {"seed", 8}}}}})},
      {"cscPackage", {{"text", "CSC package"}, {"records", records}}},
  };
}

std::string BuildOsImageWithout(const char* list, const std::string& entry,
                                const std::string& name) {
  json layout = OsLayout({});
  json& entries = layout[list];
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const json& p) { return p["name"] == entry; }),
                entries.end());
  return BuildTestImage(layout, name);
}

std::string BuildTestImage(const json& layout, const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(TestOutputDir()) / "images";
  fs::create_directories(dir);
  const std::string out = (dir / name).string();
  auto error = smdtool::BuildImage(layout, dir.string(), out);
  EXPECT_FALSE(error.has_value()) << (error ? error->ToString() : "");
  return out;
}

std::string BuildOsImage(const OsImageSpec& spec, const std::string& name) {
  return BuildTestImage(OsLayout(spec), name);
}

std::string BuildCscImage(const CscImageSpec& spec, const std::string& name) {
  return BuildTestImage(CscLayout(spec), name);
}

std::vector<handset::GptPartition> GptOfImage(const std::string& imagePath) {
  auto region = ReadHeaderRegion(imagePath);
  auto gpt = EntryNamed(region, "GPT");
  return handset::ParseGpt(ReadFileBytes(imagePath, gpt.fileOffset, gpt.length));
}

ImagePair BuildImagePair(const std::string& stem) {
  return {BuildOsImage({}, stem + ".kx4"), BuildCscImage({}, stem + ".csc")};
}

handset::HandsetConfig HandsetFor(const std::string& osImage) {
  handset::HandsetConfig c;
  c.partitions = GptOfImage(osImage);
  return c;
}

}  // namespace testsupport
