// In-memory keys and values; strings are stored as UTF-16LE bytes like the platform's.
#include "platform/registry/memory/memory_registry.h"

#include "platform/bytes/little_endian.h"
#include "platform/text/utf16.h"

namespace platform::registry {

bool MemoryRegistry::KeyExists(Root root, const std::string& key) {
  std::lock_guard lock(mutex_);
  return keys_.count({root, key}) != 0;
}

std::optional<uint32_t> MemoryRegistry::ReadDword(Root root, const std::string& key,
                                                  const std::string& name) {
  auto v = Get(root, key, name);
  if (!v || v->type != Value::Type::kDword || v->data.size() != 4) return std::nullopt;
  return Le32(v->data.data());
}

std::optional<std::string> MemoryRegistry::ReadString(Root root, const std::string& key,
                                                      const std::string& name, size_t maxBytes) {
  auto v = Get(root, key, name);
  if (!v || v->type != Value::Type::kString || v->data.size() > maxBytes) return std::nullopt;
  std::u16string units;
  for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
    char16_t u = static_cast<char16_t>(Le16(v->data.data() + i));
    if (u == 0) break;
    units.push_back(u);
  }
  return Utf16ToUtf8(units);
}

bool MemoryRegistry::CreateKey(Root root, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (denied_.count({root, key})) return false;
  keys_[{root, key}];
  return true;
}

bool MemoryRegistry::Write(Root root, const std::string& key, const std::string& name,
                           Value value) {
  std::lock_guard lock(mutex_);
  if (denied_.count({root, key})) return false;
  keys_[{root, key}][name] = std::move(value);
  return true;
}

bool MemoryRegistry::WriteDword(Root root, const std::string& key, const std::string& name,
                                uint32_t value) {
  Value v{Value::Type::kDword, std::vector<uint8_t>(4)};
  PutLe32(v.data.data(), value);
  return Write(root, key, name, std::move(v));
}

bool MemoryRegistry::WriteBinary(Root root, const std::string& key, const std::string& name,
                                 const std::vector<uint8_t>& data) {
  return Write(root, key, name, Value{Value::Type::kBinary, data});
}

bool MemoryRegistry::WriteStringBytes(Root root, const std::string& key, const std::string& name,
                                      const std::vector<uint8_t>& data) {
  return Write(root, key, name, Value{Value::Type::kString, data});
}

void MemoryRegistry::SetString(Root root, const std::string& key, const std::string& name,
                               const std::string& text) {
  std::vector<uint8_t> data;
  for (char16_t u : Utf8ToUtf16(text)) {
    data.push_back(static_cast<uint8_t>(u));
    data.push_back(static_cast<uint8_t>(u >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  WriteStringBytes(root, key, name, data);
}

void MemoryRegistry::DenyKey(Root root, const std::string& key) {
  std::lock_guard lock(mutex_);
  denied_.insert({root, key});
}

std::optional<MemoryRegistry::Value> MemoryRegistry::Get(Root root, const std::string& key,
                                                         const std::string& name) {
  std::lock_guard lock(mutex_);
  auto k = keys_.find({root, key});
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

}  // namespace platform::registry
