// Handset identities follow the platform's instance-id form, one USB port per handset.
#include "demo/line_handsets.h"

#include <fstream>
#include <sstream>

#include "demo/handset_config_json.h"

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
  std::ifstream in(spec->configPath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    *error = spec->configPath + ": cannot be read";
    return false;
  }
  spec->configText = text.str();
  return LineConfigs(*spec, nullptr, error).has_value();
}

std::optional<std::vector<handset::HandsetConfig>> LineConfigs(const LineSpec& spec,
                                                               const ImageFile* os,
                                                               std::string* error) {
  auto suited = [&](int i) { return HandsetFor(os, i, spec.linkMbps); };
  if (spec.configPath.empty()) {
    std::vector<handset::HandsetConfig> configs;
    for (int i = 0; i < spec.count; ++i) configs.push_back(suited(i));
    return configs;
  }
  auto configs = ParseHandsetConfigs(spec.configText, suited, error);
  if (!configs) *error = spec.configPath + ": " + *error;
  return configs;
}

}  // namespace demo
