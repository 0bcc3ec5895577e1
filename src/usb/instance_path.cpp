// The instance part after the hardware id and its backslash is kept as it is,
// separators and letter case included.
#include "usb/instance_path.h"

#include <cstring>

#include "usb/device_kind.h"

namespace usb {

int32_t KindOfInterfacePath(const std::string& interfacePath) {
  return interfacePath.find("PID_3E91") != std::string::npos ? DEVICE_KIND_VENDOR
                                                             : DEVICE_KIND_PLATFORM;
}

bool InstanceIdToInterfacePath(std::string& id, int32_t& kind) {
  struct Form {
    const char* hardwareId;
    const char* prefix;
    const char* interfaceClass;
    int32_t kind;
  };
  static const Form kForms[] = {
      {KIND0_HARDWARE_ID, KIND0_PATH_PREFIX, KIND0_INTERFACE_CLASS, DEVICE_KIND_PLATFORM},
      {KIND1_HARDWARE_ID, KIND1_PATH_PREFIX, KIND1_INTERFACE_CLASS, DEVICE_KIND_VENDOR}};
  for (const Form& f : kForms) {
    if (id.find(f.hardwareId) == std::string::npos) continue;
    // The hardware id and the backslash after it: 22 or 26 characters.
    const size_t skip = std::strlen(f.hardwareId) + 1;
    const std::string instance = id.size() > skip ? id.substr(skip) : std::string();
    id = std::string(f.prefix) + instance + "#" + f.interfaceClass;
    kind = f.kind;
    return true;
  }
  return false;
}

}  // namespace usb
