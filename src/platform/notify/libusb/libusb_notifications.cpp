// A removal first fails the device's transfers, then tells the window; the path of
// either event is built like the device set's, so the device table finds the device.
// An arrival is reported once the handset's names are read, on a thread of its own: the
// event thread never waits for a handset, and a silent one holds up no other.
#include "platform/notify/libusb/libusb_notifications.h"

#include <sys/time.h>

#include <chrono>
#include <system_error>

#include "platform/usb/libusb/libusb_errors.h"

namespace platform::notify {

using platform::usb::LibusbHost;

namespace {

DeviceInterfaceEvent EventOf(const platform::usb::HandsetIdentity& identity,
                             libusb_device* device, uint32_t event) {
  DeviceInterfaceEvent e;
  e.event = event;
  e.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
  e.interfaceClass = identity.interfaceClass;
  e.name = platform::usb::BroadcastPath(identity, LibusbHost::DeviceLocation(device));
  return e;
}

}  // namespace

LibusbNotifications::LibusbNotifications(LibusbHost& host) : host_(host) {}

LibusbNotifications::~LibusbNotifications() {
  std::vector<int> ids;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, r] : registrations_) ids.push_back(id);
  }
  for (int id : ids) Unregister(id);
  {
    std::lock_guard lock(stopMutex_);
    stop_ = true;
  }
  stopWake_.notify_all();
  if (host_.context()) libusb_interrupt_event_handler(host_.context());
  if (events_.joinable()) events_.join();
  ReapArrivals(true);
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

bool LibusbNotifications::Registered(const Registration& r) const {
  for (auto& [id, reg] : registrations_)
    if (reg.get() == &r) return true;
  return false;
}

void LibusbNotifications::Deliver(Registration& r, libusb_device* device,
                                  libusb_hotplug_event event) {
  ReapArrivals(false);
  if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) return BeginArrival(r, device);
  host_.DeviceLeft(device);
  std::lock_guard lock(mutex_);
  // An arrival not yet reported is dropped: the window must not open a handset after
  // it has heard of its removal.
  for (Arrival& a : arrivals_)
    if (a.device == device) a.cancelled = true;
  if (Registered(r)) r.sink(EventOf(*r.identity, device, DBT_DEVICEREMOVECOMPLETE));
}

void LibusbNotifications::BeginArrival(Registration& r, libusb_device* device) {
  std::lock_guard lock(mutex_);
  Arrival& a = arrivals_.emplace_back();
  a.registration = &r;
  a.device = libusb_ref_device(device);
  a.path = platform::usb::ReportedPath(*r.identity, LibusbHost::DeviceLocation(device));
  try {
    a.reader = std::thread([this, &a] { FinishArrival(a); });
    return;
  } catch (const std::system_error&) {
  }
  // No thread to spare: reported at once, and the open reads the names itself.
  a.done = true;
  if (Registered(r)) r.sink(EventOf(*r.identity, device, DBT_DEVICEARRIVAL));
}

void LibusbNotifications::FinishArrival(Arrival& a) {
  host_.ReadNamesAhead({a.path});
  std::lock_guard lock(mutex_);
  a.done = true;
  if (a.cancelled || !Registered(*a.registration)) return;
  a.registration->sink(EventOf(*a.registration->identity, a.device, DBT_DEVICEARRIVAL));
}

void LibusbNotifications::ReapArrivals(bool all) {
  std::list<Arrival> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = arrivals_.begin(); it != arrivals_.end();) {
      auto next = std::next(it);
      if (all || it->done) finished.splice(finished.end(), arrivals_, it);
      it = next;
    }
  }
  for (Arrival& a : finished) {
    if (a.reader.joinable()) a.reader.join();
    libusb_unref_device(a.device);
  }
}

void LibusbNotifications::EventLoop() {
  int lastError = 0;
  while (!stop_) {
    timeval tv{0, 100000};
    const int r = libusb_handle_events_timeout_completed(host_.context(), &tv, nullptr);
    if (r == 0 || r == LIBUSB_ERROR_INTERRUPTED) {
      lastError = 0;
      continue;
    }
    // Said once per spell of one error; the loop keeps trying, a little slower, so that
    // a lasting failure does not spin.
    if (r != lastError)
      host_.Notice("[USB] Waiting for USB events failed (" + platform::usb::LibusbErrorName(r) +
                   "): handsets plugged or unplugged now may go unnoticed.\r\n");
    lastError = r;
    std::unique_lock lock(stopMutex_);
    stopWake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_.load(); });
  }
}

}  // namespace platform::notify
