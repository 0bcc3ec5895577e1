// Hooks of the main window: Start runs the controller on the window's thread, device
// changes go to discovery, and the initialisation registers for notifications and
// starts the automatic run.
#include "console/station.h"

#include "console/image_open.h"
#include "engine/run_controller.h"

namespace console {

std::optional<AutoStart> ParseAutoStart(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3 || arguments[0] != "AUTO_DLOAD") return std::nullopt;
  return AutoStart{arguments[1], arguments[2]};
}

Station::Station(std::unique_ptr<ui::Window> window, StationServices services,
                 std::optional<AutoStart> autoStart)
    : table_(services.usb),
      dlg_(std::make_unique<COstrevaneDlg>(std::move(window))),
      discovery_(*dlg_, table_, services.notifications, services.registry),
      runHost_(*dlg_, tables_, table_, services.clock),
      clock_(services.clock),
      autoStart_(std::move(autoStart)) {
  COstrevaneDlg::Hooks& hooks = dlg_->hooks;
  hooks.runDownload = [this] { engine::RunDownload(runHost_); };
  hooks.deviceChange = [this](uint32_t event, const std::string& path) {
    discovery_.OnDeviceChange(event, platform::notify::DBT_DEVTYP_DEVICEINTERFACE, path);
  };
  hooks.initDone = [this] {
    discovery_.RegisterForDeviceNotifications();
    if (autoStart_) autoStartThread_ = std::thread([this] { AutoStartThread(*autoStart_); });
  };
  hooks.destroy = [this] {
    if (autoStartThread_.joinable()) autoStartThread_.join();
    tables_.FreeChannelBuffers();
  };
}

Station::~Station() {
  if (autoStartThread_.joinable()) autoStartThread_.join();
}

void Station::AutoStartThread(AutoStart start) {
  clock_.Sleep(100);
  discovery_.ScanPresentDevices();
  // Both images, without dialogs; the CSC path must name a CSC image.
  OpenImageWithoutDialog(*dlg_, image::ImageKind::Os, start.osPath);
  if (start.cscPath.find(".csc") != std::string::npos)
    OpenImageWithoutDialog(*dlg_, image::ImageKind::Csc, start.cscPath);
  else
    dlg_->MessageBox("CSC/MBN binary location is invalid", "");
  if (beforeAutoStartDecides) beforeAutoStartDecides();
  if (dlg_->StartRuleHolds()) engine::RunDownload(runHost_);
  autoStartDone_ = true;
}

}  // namespace console
