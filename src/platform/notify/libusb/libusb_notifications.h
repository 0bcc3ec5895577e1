// Handset arrival and removal from libusb's hotplug callbacks, served by one event
// thread that starts with the first registration. Nothing already attached is reported.
#pragma once

#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/notify/device_notifications.h"
#include "platform/usb/libusb/libusb_host.h"

namespace platform::notify {

class LibusbNotifications final : public DeviceNotifications {
 public:
  explicit LibusbNotifications(platform::usb::LibusbHost& host);
  ~LibusbNotifications() override;
  LibusbNotifications(const LibusbNotifications&) = delete;
  LibusbNotifications& operator=(const LibusbNotifications&) = delete;

  int Register(const std::string& interfaceClass, Sink sink) override;
  void Unregister(int registration) override;

 private:
  struct Registration {
    LibusbNotifications* owner = nullptr;
    const platform::usb::HandsetIdentity* identity = nullptr;
    Sink sink;
    libusb_hotplug_callback_handle handle = 0;
  };
  // An arrival whose handset's names are being read before it is reported.
  struct Arrival {
    Registration* registration = nullptr;
    libusb_device* device = nullptr;  // referenced until the arrival is done
    std::string path;
    bool cancelled = false;  // the handset left first: the arrival is not reported
    bool done = false;
    std::thread reader;
  };
  static int OnHotplug(libusb_context* context, libusb_device* device, libusb_hotplug_event event,
                       void* data);
  void Deliver(Registration& r, libusb_device* device, libusb_hotplug_event event);
  void BeginArrival(Registration& r, libusb_device* device);
  void FinishArrival(Arrival& arrival);
  bool Registered(const Registration& r) const;  // with mutex_ held
  void ReapArrivals(bool all);
  void EventLoop();

  platform::usb::LibusbHost& host_;
  std::mutex mutex_;  // held while a sink runs, so Unregister waits for it
  std::map<int, std::unique_ptr<Registration>> registrations_;
  // Unregistered entries stay allocated: a callback already under way may still hold one.
  std::vector<std::unique_ptr<Registration>> retired_;
  std::list<Arrival> arrivals_;  // guarded by mutex_; only the event thread adds
  int next_ = 1;
  std::atomic<bool> stop_{false};
  std::mutex stopMutex_;
  std::condition_variable stopWake_;
  std::thread events_;
};

}  // namespace platform::notify
