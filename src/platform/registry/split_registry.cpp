// Each call goes to the store of its root, unchanged.
#include "platform/registry/split_registry.h"

namespace platform::registry {

bool SplitRegistry::KeyExists(Root root, const std::string& key) {
  return Of(root).KeyExists(root, key);
}

std::optional<uint32_t> SplitRegistry::ReadDword(Root root, const std::string& key,
                                                 const std::string& name) {
  return Of(root).ReadDword(root, key, name);
}

std::optional<std::string> SplitRegistry::ReadString(Root root, const std::string& key,
                                                     const std::string& name, size_t maxBytes) {
  return Of(root).ReadString(root, key, name, maxBytes);
}

bool SplitRegistry::CreateKey(Root root, const std::string& key) {
  return Of(root).CreateKey(root, key);
}

bool SplitRegistry::WriteDword(Root root, const std::string& key, const std::string& name,
                               uint32_t value) {
  return Of(root).WriteDword(root, key, name, value);
}

bool SplitRegistry::WriteBinary(Root root, const std::string& key, const std::string& name,
                                const std::vector<uint8_t>& data) {
  return Of(root).WriteBinary(root, key, name, data);
}

bool SplitRegistry::WriteStringBytes(Root root, const std::string& key, const std::string& name,
                                     const std::vector<uint8_t>& data) {
  return Of(root).WriteStringBytes(root, key, name, data);
}

}  // namespace platform::registry
