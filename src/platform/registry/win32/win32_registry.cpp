// Values are written with exactly the bytes given (a string's 512-byte buffer keeps its
// tail behind the terminator) and read back by type: a string is taken up to its first
// zero unit, and a value of another type than asked for is absent.
#include "platform/registry/win32/win32_registry.h"

#include <windows.h>

#include <limits>

#include "platform/bytes/little_endian.h"
#include "platform/text/win32/wide.h"

namespace platform::registry {

namespace {

HKEY RootKey(Root root) {
  return root == Root::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class Key {
 public:
  Key(Root root, const std::string& path, REGSAM access) {
    if (RegOpenKeyExW(RootKey(root), Wide(path).c_str(), 0, access, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The value's type and bytes; nullopt when it is absent or the key cannot be read.
std::optional<std::pair<DWORD, std::vector<uint8_t>>> Query(Root root, const std::string& path,
                                                            const std::string& name) {
  const Key key(root, path, KEY_QUERY_VALUE);
  if (!key) return std::nullopt;
  const std::wstring wideName = Wide(name);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::vector<uint8_t> data(size);
  if (RegQueryValueExW(key.get(), wideName.c_str(), nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  data.resize(size);
  return std::make_pair(type, std::move(data));
}

bool Set(Root root, const std::string& path, const std::string& name, DWORD type,
         const std::vector<uint8_t>& data) {
  if (data.size() > std::numeric_limits<DWORD>::max()) return false;
  const Key key(root, path, KEY_SET_VALUE);
  return key && RegSetValueExW(key.get(), Wide(name).c_str(), 0, type, data.data(),
                               static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

}  // namespace

bool Win32Registry::KeyExists(Root root, const std::string& key) {
  return static_cast<bool>(Key(root, key, KEY_READ));
}

std::optional<uint32_t> Win32Registry::ReadDword(Root root, const std::string& key,
                                                 const std::string& name) {
  const auto value = Query(root, key, name);
  if (!value || value->first != REG_DWORD || value->second.size() != 4) return std::nullopt;
  return Le32(value->second.data());
}

std::optional<std::string> Win32Registry::ReadString(Root root, const std::string& key,
                                                     const std::string& name, size_t maxBytes) {
  const auto value = Query(root, key, name);
  if (!value || value->first != REG_SZ || value->second.size() > maxBytes) return std::nullopt;
  const auto& d = value->second;
  std::wstring units;
  for (size_t i = 0; i + 1 < d.size(); i += 2) {
    const wchar_t u = static_cast<wchar_t>(Le16(d.data() + i));
    if (u == 0) break;
    units.push_back(u);
  }
  return Narrow(units);
}

bool Win32Registry::CreateKey(Root root, const std::string& key) {
  HKEY created = nullptr;
  if (RegCreateKeyExW(RootKey(root), Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &created, nullptr) != ERROR_SUCCESS)
    return false;
  RegCloseKey(created);
  return true;
}

bool Win32Registry::WriteDword(Root root, const std::string& key, const std::string& name,
                               uint32_t value) {
  std::vector<uint8_t> data(4);
  PutLe32(data.data(), value);
  return Set(root, key, name, REG_DWORD, data);
}

bool Win32Registry::WriteBinary(Root root, const std::string& key, const std::string& name,
                                const std::vector<uint8_t>& data) {
  return Set(root, key, name, REG_BINARY, data);
}

bool Win32Registry::WriteStringBytes(Root root, const std::string& key, const std::string& name,
                                     const std::vector<uint8_t>& data) {
  return Set(root, key, name, REG_SZ, data);
}

}  // namespace platform::registry
