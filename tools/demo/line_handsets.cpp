// Handset identities follow the platform's instance-id form, one USB port per handset.
#include "demo/line_handsets.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "demo/handset_config_json.h"
#include "platform/file/file.h"

namespace demo {

handset::HandsetConfig HandsetFor(const ImageFile* os, int index, uint64_t linkMbps) {
  handset::HandsetConfig c;
  c.instancePart = "7&3a5b9c1&0&" + std::to_string(index + 1);
  c.deviceTypeAnswer = "KX4_Engineer";
  c.keepRequestLog = false;  // a long run would keep one record per packet
  c.faults.linkBytesPerSecond = linkMbps * 1000000 / 8;
  if (os) {
    c.modelName = os->model;
    // A handset the image suits: its security answer follows the image's build.
    c.securityAnswer =
        image::HasPattern(os->imageType, image::IMAGE_SECURITY_SECURE) ? "SEC_MODE" : "NON_SECURE";
    c.partitions = GptOfImage(*os);
  }
  return c;
}

bool ReadLineConfig(LineSpec* spec, std::string* error) {
  if (spec->configPath.empty()) return true;
  std::ifstream in(platform::file::NativePath(spec->configPath), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    *error = spec->configPath + ": cannot be read";
    return false;
  }
  spec->configText = text.str();
  return LineConfigs(*spec, nullptr, error).has_value();
}

std::string HandsetFolder(const std::string& dumpDir, size_t index) {
  return platform::file::Utf8Path(platform::file::NativePath(dumpDir) /
                                  ("handset" + std::to_string(index)));
}

std::optional<std::vector<handset::HandsetConfig>> LineConfigs(const LineSpec& spec,
                                                               const ImageFile* os,
                                                               std::string* error) {
  const handset::StorageKind storage = spec.storage.value_or(
      handset::StorageForImage(os ? os->fileSize : 0, !spec.dumpDir.empty()));
  auto suited = [&](int i) {
    handset::HandsetConfig c = HandsetFor(os, i, spec.linkMbps);
    c.storage = storage;
    if (!spec.dumpDir.empty())
      c.storageFile = HandsetFolder(spec.dumpDir, static_cast<size_t>(i)) + "/emmc.img";
    return c;
  };
  std::optional<std::vector<handset::HandsetConfig>> configs;
  if (spec.configPath.empty()) {
    configs.emplace();
    for (int i = 0; i < spec.count; ++i) configs->push_back(suited(i));
  } else {
    configs = ParseHandsetConfigs(spec.configText, suited, error);
    if (!configs) {
      *error = spec.configPath + ": " + *error;
      return configs;
    }
  }
  for (size_t i = 0; i < configs->size(); ++i) {
    const handset::HandsetConfig& c = (*configs)[i];
    if (c.storage != handset::StorageKind::kFile) continue;
    if (c.storageFile.empty()) {
      *error = "handset " + std::to_string(i) + ": storage \"file\" needs --dump-dir";
      return std::nullopt;
    }
    std::error_code ec;
    std::filesystem::create_directories(platform::file::NativePath(c.storageFile).parent_path(), ec);
  }
  return configs;
}

}  // namespace demo
