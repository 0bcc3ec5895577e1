// Which handset works on which channel: binds an arriving handset to the lowest free
// channel, frees the channel when its interface goes, and at an automatic start binds
// the handsets the WinUSB driver lists. Updates the channel boxes, bars, run state and
// the Start button.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "console/line_mode.h"
#include "console/ostrevane_dlg.h"
#include "platform/notify/device_notifications.h"
#include "platform/registry/registry.h"
#include "usb/winusb_device_manager.h"

namespace console {

// " Error Disconnect Device!!!" on the channel's bar: its handset went during a run.
void ShowDisconnectedDuringRun(COstrevaneDlg& dlg, int channel);

class DeviceDiscovery {
 public:
  DeviceDiscovery(COstrevaneDlg& dlg, usb::CWinUSBDeviceManager& table,
                  platform::notify::DeviceNotifications& notifications,
                  platform::registry::Registry& registry);
  ~DeviceDiscovery();
  DeviceDiscovery(const DeviceDiscovery&) = delete;
  DeviceDiscovery& operator=(const DeviceDiscovery&) = delete;

  // Registers the window for both handset interface classes; true when both took.
  bool RegisterForDeviceNotifications();
  // The window's device-change handler (window's thread). Always true.
  bool OnDeviceChange(uint32_t event, uint32_t deviceType, const std::string& name);
  void HandleDeviceInterfaceChange(const std::string& name, uint32_t event);
  // The start-up scan of the automatic start (auto-start thread).
  void ScanPresentDevices();
  // Set before the window starts; with a seat plan a handset is bound to its seat's
  // channel and nowhere else.
  void SetLineMode(const LineMode* mode) { mode_ = mode; }

 private:
  struct Identity {
    std::string model;
    std::string type;
  };
  // Under the table lock, right after the open that stored the identity: claims the
  // channel in the run state and reads the identity.
  Identity Claim(int channel);
  // Without the lock (the window may be busy with an arrival that waits for it).
  void ShowBinding(int channel, const Identity& identity);
  void ApplyStartRule();
  // With a seat plan: binds the handset at `path` to its seat's free channel, or logs
  // that it sits on no seat and leaves it closed. One whose seat still holds a handset
  // waits for it to leave (its arrival may be heard before the other's removal).
  void BindAtSeat(const SeatPlan& plan, const std::string& path, int32_t kind);
  // A removal: binds the handset that waits for the seat of `freedChannel`; when no
  // channel was freed (-1), forgets `name` if it was the one waiting.
  void ServeWaitingSeat(const std::string& name, int freedChannel);

  COstrevaneDlg& dlg_;
  usb::CWinUSBDeviceManager& table_;
  platform::notify::DeviceNotifications& notifications_;
  platform::registry::Registry& registry_;
  std::vector<int> registrations_;
  const LineMode* mode_ = nullptr;
  struct WaitingHandset {
    std::string path;
    int32_t kind = 0;
  };
  // By seat channel. The start-up scan runs on its own thread while the window serves
  // device changes.
  std::mutex waitingMutex_;
  std::map<int, WaitingHandset> waitingForSeat_;
};

}  // namespace console
