// A broadcast's structure comes from outside the station: it is read only as far as its
// own size says, and anything that does not hold together is dropped without a word.
#include "platform/notify/win32/win32_device_notifications.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <optional>

// After the station's headers: dbt.h defines the DBT_* names as macros.
#include <windows.h>
// (dbt.h needs windows.h first.)
#include <dbt.h>

#include "platform/text/win32/wide.h"
#include "platform/usb/win32/winusb_host.h"

namespace platform::notify {
namespace {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the filter the system expects");

constexpr size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
// Far beyond any interface path; a larger size is taken for garbage, not read through.
constexpr DWORD kMaxBroadcastBytes = 64 * 1024;

std::optional<DeviceInterfaceEvent> ReadBroadcast(uint32_t event, intptr_t data) {
  if (data == 0) return std::nullopt;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  DEV_BROADCAST_HDR header;
  std::memcpy(&header, bytes, sizeof(header));
  if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return std::nullopt;
  if (header.dbch_size < kNameOffset || header.dbch_size > kMaxBroadcastBytes) return std::nullopt;
  GUID guid;
  std::memcpy(&guid, bytes + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_classguid),
              sizeof(guid));
  const size_t units = (header.dbch_size - kNameOffset) / sizeof(wchar_t);
  std::wstring name(units, L'\0');
  std::memcpy(name.data(), bytes + kNameOffset, units * sizeof(wchar_t));
  const size_t length = name.find(L'\0');
  if (length == std::wstring::npos) return std::nullopt;  // no terminator inside the size
  name.resize(length);
  DeviceInterfaceEvent e;
  e.event = event;
  e.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
  e.interfaceClass = platform::usb::GuidText(guid);
  e.name = Narrow(name);
  return e;
}

}  // namespace

Win32DeviceNotifications::~Win32DeviceNotifications() {
  std::lock_guard lock(mutex_);
  for (auto& [id, r] : registrations_)
    if (r.handle) ::UnregisterDeviceNotification(r.handle);
}

bool Win32DeviceNotifications::RegisterOnWindow(Registration& r) {
  GUID guid;
  if (!platform::usb::ParseGuid(r.interfaceClass, &guid)) return false;
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = guid;
  r.handle = ::RegisterDeviceNotificationW(static_cast<HWND>(window_), &filter,
                                           DEVICE_NOTIFY_WINDOW_HANDLE);
  return r.handle != nullptr;
}

int Win32DeviceNotifications::Register(const std::string& interfaceClass, Sink sink) {
  GUID guid;
  if (!platform::usb::ParseGuid(interfaceClass, &guid)) return 0;
  Registration r{platform::usb::GuidText(guid), std::move(sink), nullptr};
  std::lock_guard lock(mutex_);
  if (window_ && !RegisterOnWindow(r)) return 0;
  const int id = next_++;
  registrations_.emplace(id, std::move(r));
  return id;
}

void Win32DeviceNotifications::Unregister(int registration) {
  std::lock_guard lock(mutex_);
  const auto it = registrations_.find(registration);
  if (it == registrations_.end()) return;
  if (it->second.handle) ::UnregisterDeviceNotification(it->second.handle);
  registrations_.erase(it);
}

void Win32DeviceNotifications::OnWindowCreated(void* window) {
  std::lock_guard lock(mutex_);
  if (window_) return;  // one window at a time
  window_ = window;
  // One the system refuses stays silent until the next window.
  for (auto& [id, r] : registrations_) (void)RegisterOnWindow(r);
}

void Win32DeviceNotifications::OnWindowDestroying(void* window) {
  std::lock_guard lock(mutex_);
  if (window != window_) return;
  for (auto& [id, r] : registrations_) {
    if (r.handle) ::UnregisterDeviceNotification(r.handle);
    r.handle = nullptr;
  }
  window_ = nullptr;
}

bool Win32DeviceNotifications::HasWindow() const {
  std::lock_guard lock(mutex_);
  return window_ != nullptr;
}

bool Win32DeviceNotifications::OnMessage(const ui::NativeMessage& message, intptr_t* result) {
  if (message.message != WM_DEVICECHANGE) return false;
  std::lock_guard lock(mutex_);
  if (!window_ || message.window != window_) return false;
  if (message.wParam == DBT_DEVICEARRIVAL || message.wParam == DBT_DEVICEREMOVECOMPLETE) {
    if (const auto e = ReadBroadcast(static_cast<uint32_t>(message.wParam), message.lParam))
      for (auto& [id, r] : registrations_)
        if (r.interfaceClass == e->interfaceClass) r.sink(*e);
  }
  *result = TRUE;  // what a WM_DEVICECHANGE handler answers, whatever the event
  return true;
}

}  // namespace platform::notify
