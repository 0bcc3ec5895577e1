// A registry held in memory: the virtual machine's WinUSB instance list and settings
// for tests, with keys that can be made unwritable.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <variant>

#include "platform/registry/registry.h"

namespace platform::registry {

class MemoryRegistry final : public Registry {
 public:
  struct Value {
    enum class Type { kDword, kBinary, kString } type = Type::kDword;
    std::vector<uint8_t> data;
  };

  bool KeyExists(Root root, const std::string& key) override;
  std::optional<uint32_t> ReadDword(Root root, const std::string& key,
                                    const std::string& name) override;
  std::optional<std::string> ReadString(Root root, const std::string& key, const std::string& name,
                                        size_t maxBytes) override;
  bool CreateKey(Root root, const std::string& key) override;
  bool WriteDword(Root root, const std::string& key, const std::string& name,
                  uint32_t value) override;
  bool WriteBinary(Root root, const std::string& key, const std::string& name,
                   const std::vector<uint8_t>& data) override;
  bool WriteStringBytes(Root root, const std::string& key, const std::string& name,
                        const std::vector<uint8_t>& data) override;

  // Test and set-up helpers.
  void SetString(Root root, const std::string& key, const std::string& name,
                 const std::string& text);
  void DenyKey(Root root, const std::string& key);  // CreateKey fails for it
  std::optional<Value> Get(Root root, const std::string& key, const std::string& name);

 private:
  using KeyId = std::pair<Root, std::string>;
  bool Write(Root root, const std::string& key, const std::string& name, Value value);
  std::mutex mutex_;
  std::map<KeyId, std::map<std::string, Value>> keys_;
  std::set<KeyId> denied_;
};

}  // namespace platform::registry
