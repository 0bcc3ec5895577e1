// The WinUSB driver's instance list served from the attached handsets: "Count" takes a
// snapshot of them, "0", "1", ... are read from it, in bus and port-chain order, each
// "hardware id\instance part". Every other key and every write goes to the registry
// it wraps.
#pragma once

#include <mutex>

#include "platform/registry/registry.h"
#include "platform/usb/libusb/libusb_host.h"

namespace platform::registry {

class InstanceListRegistry final : public Registry {
 public:
  InstanceListRegistry(platform::usb::LibusbHost& host, Registry& rest);

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
  void BeginWrites() override { rest_.BeginWrites(); }
  bool EndWrites() override { return rest_.EndWrites(); }

 private:
  static bool IsInstanceList(Root root, const std::string& key);
  std::vector<std::string> TakeSnapshot();
  std::vector<std::string> Snapshot();

  platform::usb::LibusbHost& host_;
  Registry& rest_;
  std::mutex mutex_;
  std::optional<std::vector<std::string>> snapshot_;
};

}  // namespace platform::registry
