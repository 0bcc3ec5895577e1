// Arrival and removal on Windows: device-interface registrations on the main window and
// its WM_DEVICECHANGE broadcasts handed to the sinks. No Windows type appears here.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/notify/device_notifications.h"
#include "platform/ui/native_message_filter.h"

namespace platform::notify {

// One window at a time: registrations made while none is attached are made on the
// window when it comes, and all are undone when it goes (and kept for the next one).
// Sinks run on the window's thread, under the lock that Unregister takes: a sink must
// not register or unregister.
class Win32DeviceNotifications final : public DeviceNotifications, public ui::NativeMessageFilter {
 public:
  Win32DeviceNotifications() = default;
  ~Win32DeviceNotifications() override;
  Win32DeviceNotifications(const Win32DeviceNotifications&) = delete;
  Win32DeviceNotifications& operator=(const Win32DeviceNotifications&) = delete;

  // `interfaceClass` in the form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", either case.
  // 0 when it is malformed or the system refused the window's registration.
  int Register(const std::string& interfaceClass, Sink sink) override;
  void Unregister(int registration) override;

  void OnWindowCreated(void* window) override;
  void OnWindowDestroying(void* window) override;
  bool OnMessage(const ui::NativeMessage& message, intptr_t* result) override;

  // A window is attached (its registrations are live).
  bool HasWindow() const;

 private:
  struct Registration {
    std::string interfaceClass;  // lower case, as events carry it
    Sink sink;
    void* handle = nullptr;  // the system's registration while a window is attached
  };
  // With mutex_ held: the system's registration of `r` on window_; false when refused.
  bool RegisterOnWindow(Registration& r);

  mutable std::mutex mutex_;
  void* window_ = nullptr;
  std::map<int, Registration> registrations_;
  int next_ = 1;
};

}  // namespace platform::notify
