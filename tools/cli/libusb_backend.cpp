// Real handsets for the CLI: libusb for transfers, its hotplug for arrivals, and the
// attached handsets as the instance list the automatic start reads.
#include <memory>
#include <string>

#include "cli/station_backend.h"
#include "platform/notify/libusb/libusb_notifications.h"
#include "platform/registry/libusb/instance_list_registry.h"
#include "platform/usb/libusb/libusb_host.h"

namespace cli {
namespace {

class LibusbBackend final : public StationBackend {
 public:
  explicit LibusbBackend(platform::Clock& clock) : host_(clock) {}

  bool ok() const { return host_.ok(); }

  platform::usb::UsbHost& Usb() override { return capture_; }
  platform::notify::DeviceNotifications& Notifications() override { return notifications_; }
  platform::registry::Registry& Registry() override { return instanceList_; }
  [[nodiscard]] bool StartCapture(const std::string& path) override {
    return capture_.StartCapture(path);
  }
  void StopCapture() override { capture_.StopCapture(); }
  void SetNoticeSink(std::function<void(const std::string&)> sink) override {
    host_.SetNoticeSink(std::move(sink));
  }

 private:
  platform::usb::LibusbHost host_;  // first: everything below uses it
  platform::notify::LibusbNotifications notifications_{host_};
  platform::registry::MemoryRegistry settings_;  // the CLI keeps no settings between runs
  platform::registry::InstanceListRegistry instanceList_{host_, settings_};
  platform::usb::CapturingUsbHost capture_{host_};
};

}  // namespace

std::unique_ptr<StationBackend> MakeHandsetBackend(platform::Clock& clock, std::string* error) {
  auto backend = std::make_unique<LibusbBackend>(clock);
  if (!backend->ok()) {
    *error = "libusb could not be started (no USB subsystem here?): no handset can be reached";
    return nullptr;
  }
  return backend;
}

}  // namespace cli
