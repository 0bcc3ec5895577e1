// The list is taken from the bus when "Count" is read and served from that snapshot
// until the next "Count": a handset plugged during a scan cannot shift the indexes the
// scan reads after it.
#include "platform/registry/libusb/instance_list_registry.h"

#include "platform/text/utf16.h"

namespace platform::registry {

InstanceListRegistry::InstanceListRegistry(platform::usb::LibusbHost& host, Registry& rest)
    : host_(host), rest_(rest) {}

bool InstanceListRegistry::IsInstanceList(Root root, const std::string& key) {
  return root == Root::kLocalMachine && key == WINUSB_ENUM_KEY;
}

std::vector<std::string> InstanceListRegistry::TakeSnapshot() {
  std::vector<std::string> ids;
  std::vector<std::string> paths;
  for (const auto& h : host_.AttachedHandsets()) {
    ids.push_back(platform::usb::InstanceId(*h.identity, h.location));
    paths.push_back(platform::usb::ReportedPath(*h.identity, h.location));
  }
  // The scan opens these next, under the device table's lock: their names are read now.
  host_.ReadNamesAhead(paths);
  std::lock_guard lock(mutex_);
  snapshot_ = ids;
  return ids;
}

std::vector<std::string> InstanceListRegistry::Snapshot() {
  {
    std::lock_guard lock(mutex_);
    if (snapshot_) return *snapshot_;
  }
  return TakeSnapshot();  // an index read before any "Count"
}

bool InstanceListRegistry::KeyExists(Root root, const std::string& key) {
  return IsInstanceList(root, key) || rest_.KeyExists(root, key);
}

std::optional<uint32_t> InstanceListRegistry::ReadDword(Root root, const std::string& key,
                                                        const std::string& name) {
  if (!IsInstanceList(root, key)) return rest_.ReadDword(root, key, name);
  if (name != "Count") return std::nullopt;
  return static_cast<uint32_t>(TakeSnapshot().size());
}

std::optional<std::string> InstanceListRegistry::ReadString(Root root, const std::string& key,
                                                            const std::string& name,
                                                            size_t maxBytes) {
  if (!IsInstanceList(root, key)) return rest_.ReadString(root, key, name, maxBytes);
  if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos || name.size() > 9)
    return std::nullopt;
  const std::vector<std::string> ids = Snapshot();
  const size_t index = std::stoul(name);
  if (index >= ids.size()) return std::nullopt;
  // The value's size as the platform stores it: UTF-16 units and the terminator.
  if (2 * (platform::Utf8ToUtf16(ids[index]).size() + 1) > maxBytes) return std::nullopt;
  return ids[index];
}

// The instance list is the driver's: the station never writes it.
bool InstanceListRegistry::CreateKey(Root root, const std::string& key) {
  return IsInstanceList(root, key) ? false : rest_.CreateKey(root, key);
}
bool InstanceListRegistry::WriteDword(Root root, const std::string& key, const std::string& name,
                                      uint32_t value) {
  return IsInstanceList(root, key) ? false : rest_.WriteDword(root, key, name, value);
}
bool InstanceListRegistry::WriteBinary(Root root, const std::string& key, const std::string& name,
                                       const std::vector<uint8_t>& data) {
  return IsInstanceList(root, key) ? false : rest_.WriteBinary(root, key, name, data);
}
bool InstanceListRegistry::WriteStringBytes(Root root, const std::string& key,
                                            const std::string& name,
                                            const std::vector<uint8_t>& data) {
  return IsInstanceList(root, key) ? false : rest_.WriteStringBytes(root, key, name, data);
}

}  // namespace platform::registry
