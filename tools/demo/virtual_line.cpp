// Handset identities follow the platform's instance-id form, one USB port per handset.
#include "demo/virtual_line.h"

namespace demo {

const char* const kForeignInstance = "USB\\VID_0A5C&PID_21E8\\5&9B4F11&0&4";

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

void ListInstances(platform::registry::MemoryRegistry& registry,
                   const std::vector<std::string>& ids) {
  using platform::registry::Root;
  using platform::registry::WINUSB_ENUM_KEY;
  registry.CreateKey(Root::kLocalMachine, WINUSB_ENUM_KEY);
  registry.WriteDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count",
                      static_cast<uint32_t>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i)
    registry.SetString(Root::kLocalMachine, WINUSB_ENUM_KEY, std::to_string(i), ids[i]);
}

}  // namespace demo
