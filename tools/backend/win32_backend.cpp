// Real handsets on Windows: WinUSB and SetupAPI for transfers, device-change broadcasts
// on the main window for arrivals, and the machine's own registry for the instance list.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend/station_backend.h"
#include "platform/notify/win32/filter_window_thread.h"
#include "platform/notify/win32/win32_device_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/registry/split_registry.h"
#include "platform/registry/win32/win32_registry.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "platform/usb/win32/winusb_host.h"

namespace backends {
namespace {

using platform::notify::DeviceNotifications;
using platform::notify::FilterWindowThread;
using platform::notify::Win32DeviceNotifications;

// A front end that shows no window (the command-line tool) registers with none
// attached: the notifications then get a hidden window of their own, or the run would
// never hear a written handset leave. One that shows a window asks for its messages
// first; it registers during the window's initialisation, before the dialog exists, and
// the main window takes the registrations once it does.
class OwnWindowWhenNone final : public DeviceNotifications {
 public:
  int Register(const std::string& interfaceClass, Sink sink) override {
    StartOwnWindowIfNone();
    return notifications.Register(interfaceClass, std::move(sink));
  }
  void Unregister(int registration) override { notifications.Unregister(registration); }

  void SetNoticeSink(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(mutex_);
    notice_ = std::move(sink);
  }

  ui::NativeMessageFilter* ForWindow() {
    std::lock_guard lock(mutex_);
    windowComing_ = true;
    return &notifications;
  }

  Win32DeviceNotifications notifications;  // first: the own window uses it until it goes

 private:
  void StartOwnWindowIfNone() {
    std::lock_guard lock(mutex_);
    if (ownWindow_ || windowComing_ || notifications.HasWindow()) return;
    ownWindow_.emplace(notifications);
    if (!ownWindow_->ok() && notice_)
      notice_("[USB] " + ownWindow_->error() +
              ": handsets plugged or unplugged now go unnoticed.\r\n");
  }

  std::mutex mutex_;
  std::function<void(const std::string&)> notice_;
  bool windowComing_ = false;
  std::optional<FilterWindowThread> ownWindow_;
};

class Win32Backend final : public StationBackend {
 public:
  explicit Win32Backend(const platform::usb::WinUsbApi& api) : host_(api) {}

  platform::usb::UsbHost& Usb() override { return capture_; }
  DeviceNotifications& Notifications() override { return notifications_; }
  platform::registry::Registry& Registry() override { return registry_; }
  [[nodiscard]] bool StartCapture(const std::string& path, uint32_t snapLength) override {
    return capture_.StartCapture(path, snapLength);
  }
  std::string StopCapture() override { return capture_.StopCapture(); }
  void SetNoticeSink(std::function<void(const std::string&)> sink) override {
    notifications_.SetNoticeSink(std::move(sink));
  }
  ui::NativeMessageFilter* WindowMessages() override { return notifications_.ForWindow(); }

 private:
  platform::usb::WinUsbHost host_;  // first: the capture uses it
  platform::usb::CapturingUsbHost capture_{host_};
  OwnWindowWhenNone notifications_;
  // The machine's keys from the system; the user's kept for this run only, as on Linux:
  // a front end without a settings store of its own (the command-line tool) must not
  // overwrite the operator's window settings.
  platform::registry::MemoryRegistry userKeys_;
  platform::registry::Win32Registry machineKeys_;
  platform::registry::SplitRegistry registry_{userKeys_, machineKeys_};
};

}  // namespace

std::unique_ptr<StationBackend> MakeRealBackend(platform::Clock& clock, std::string* error) {
  (void)clock;  // WinUSB keeps its own time: the pipe timeouts
  platform::usb::WinUsbApi api;
  if (const uint32_t failure = platform::usb::LoadWinUsbApi(&api); failure != 0) {
    *error =
        "setupapi.dll, winusb.dll or one of their functions could not be loaded (Windows "
        "error " +
        std::to_string(failure) + "): no handset can be reached";
    return nullptr;
  }
  return std::make_unique<Win32Backend>(api);
}

}  // namespace backends
