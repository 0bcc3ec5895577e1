// The Windows registry itself: the settings under the current user's key, the WinUSB
// driver's instance list under the local machine's. Keys and names are UTF-8 here.
#pragma once

#include "platform/registry/registry.h"

namespace platform::registry {

// Every call opens its key and closes it again: nothing is held between calls, so the
// station never keeps a registry handle across a run. Writes are stored at once.
class Win32Registry final : public Registry {
 public:
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
};

}  // namespace platform::registry
