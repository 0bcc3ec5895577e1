// The station assembled: the main window with its device table, engine tables,
// discovery and run controller, on the platform services it is given; and the
// automatic start of an "AUTO_DLOAD" command line.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/device_discovery.h"
#include "console/image_open.h"
#include "console/line_mode.h"
#include "console/ostrevane_dlg.h"
#include "console/station_run_host.h"
#include "engine/engine_tables.h"
#include "platform/notify/device_notifications.h"
#include "platform/registry/registry.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"
#include "platform/usb/usb_host.h"
#include "usb/winusb_device_manager.h"

namespace console {

struct StationServices {
  platform::usb::UsbHost& usb;
  platform::notify::DeviceNotifications& notifications;
  platform::registry::Registry& registry;
  // Every wait and tick of the station and its workers.
  platform::Clock& clock;
  // The channel workers' threads.
  platform::ThreadService& threads;
};

// An automatic start: exactly "AUTO_DLOAD", the OS image path and the CSC image path.
struct AutoStart {
  std::string osPath;
  std::string cscPath;
};
std::optional<AutoStart> ParseAutoStart(const std::vector<std::string>& arguments);

class Station {
 public:
  // The window is built from MainWindowTemplate() on the thread that will run it.
  Station(std::unique_ptr<ui::Window> window, StationServices services,
          std::optional<AutoStart> autoStart = std::nullopt);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  COstrevaneDlg& dlg() { return *dlg_; }
  usb::CWinUSBDeviceManager& table() { return table_; }
  DeviceDiscovery& discovery() { return discovery_; }
  ImageOpener& opener() { return opener_; }
  engine::RunHost& runHost() { return runHost_; }
  // Runs the window until it closes (window's thread).
  int DoModal() { return dlg_->DoModal(); }
  // The automatic start's thread has finished (its run included).
  bool AutoStartDone() const { return autoStartDone_; }
  // Keeps a record of every channel a run starts (set before the window starts).
  void ObserveChannels(engine::ChannelObserver* observer) { runHost_.SetObserver(observer); }
  // Continuous mode and the seat plan (set before OnInitDialog).
  void SetLineMode(LineMode mode) { mode_ = std::move(mode); }
  const LineMode& lineMode() const { return mode_; }
  // Runs on the automatic start's thread once the images are opened, just before the
  // Start rule decides: what an operator would click in between (set before OnInitDialog).
  std::function<void()> beforeAutoStartDecides;

 private:
  void AutoStartThread();

  // Before discovery and the run host, which keep a pointer to it.
  LineMode mode_;
  engine::EngineTables tables_;
  usb::CWinUSBDeviceManager table_;
  platform::registry::Registry& registry_;
  std::unique_ptr<COstrevaneDlg> dlg_;
  DeviceDiscovery discovery_;
  ImageOpener opener_;
  StationRunHost runHost_;
  platform::Clock& clock_;
  std::optional<AutoStart> autoStart_;
  std::atomic<bool> autoStartDone_{false};
  std::thread autoStartThread_;
};

}  // namespace console
