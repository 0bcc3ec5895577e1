// A removal first fails the device's transfers, then tells the window; the path of
// either event is built like the device set's, so the device table finds the device.
#include "platform/notify/libusb/libusb_notifications.h"

#include <sys/time.h>

namespace platform::notify {

using platform::usb::LibusbHost;

LibusbNotifications::LibusbNotifications(LibusbHost& host) : host_(host) {}

LibusbNotifications::~LibusbNotifications() {
  std::vector<int> ids;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, r] : registrations_) ids.push_back(id);
  }
  for (int id : ids) Unregister(id);
  stop_ = true;
  if (host_.context()) libusb_interrupt_event_handler(host_.context());
  if (events_.joinable()) events_.join();
}

int LibusbNotifications::Register(const std::string& interfaceClass, Sink sink) {
  const auto* identity = platform::usb::IdentityOfClass(interfaceClass);
  if (!identity || !host_.context() || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return 0;
  auto r = std::make_unique<Registration>();
  r->owner = this;
  r->identity = identity;
  r->sink = std::move(sink);
  std::lock_guard lock(mutex_);
  // No LIBUSB_HOTPLUG_ENUMERATE: handsets already attached stay unreported.
  if (libusb_hotplug_register_callback(
          host_.context(),
          static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                            LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
          static_cast<libusb_hotplug_flag>(0), identity->vendorId, identity->productId,
          LIBUSB_HOTPLUG_MATCH_ANY, &LibusbNotifications::OnHotplug, r.get(), &r->handle) != 0)
    return 0;
  const int id = next_++;
  registrations_[id] = std::move(r);
  if (!events_.joinable()) events_ = std::thread([this] { EventLoop(); });
  return id;
}

void LibusbNotifications::Unregister(int registration) {
  libusb_hotplug_callback_handle handle = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = registrations_.find(registration);
    if (it == registrations_.end()) return;
    handle = it->second->handle;
    retired_.push_back(std::move(it->second));
    registrations_.erase(it);
  }
  // libusb takes the deregistration under its own lock; a callback that already runs
  // finds the registration gone from the table and delivers nothing.
  libusb_hotplug_deregister_callback(host_.context(), handle);
}

int LibusbNotifications::OnHotplug(libusb_context*, libusb_device* device,
                                   libusb_hotplug_event event, void* data) {
  auto* r = static_cast<Registration*>(data);
  r->owner->Deliver(*r, device, event);
  return 0;  // stay registered
}

void LibusbNotifications::Deliver(Registration& r, libusb_device* device,
                                  libusb_hotplug_event event) {
  if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) host_.DeviceLeft(device);
  std::lock_guard lock(mutex_);
  bool known = false;
  for (auto& [id, reg] : registrations_) known = known || reg.get() == &r;
  if (!known) return;
  DeviceInterfaceEvent e;
  e.event =
      event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  e.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
  e.interfaceClass = r.identity->interfaceClass;
  e.name = platform::usb::BroadcastPath(*r.identity, LibusbHost::LocationOf(device));
  r.sink(e);
}

void LibusbNotifications::EventLoop() {
  while (!stop_) {
    timeval tv{0, 100000};
    libusb_handle_events_timeout_completed(host_.context(), &tv, nullptr);
  }
}

}  // namespace platform::notify
