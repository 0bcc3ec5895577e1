// Hooks of the main window: Start runs the controller on the window's thread, device
// changes go to discovery, and the initialisation registers for notifications and
// starts the automatic run.
#include "console/station.h"

#include <system_error>
#include "console/settings.h"

#include "engine/run_controller.h"

namespace console {

std::optional<AutoStart> ParseAutoStart(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3 || arguments[0] != "AUTO_DLOAD") return std::nullopt;
  return AutoStart{arguments[1], arguments[2]};
}

Station::Station(std::unique_ptr<ui::Window> window, StationServices services,
                 std::optional<AutoStart> autoStart)
    : table_(services.usb),
      registry_(services.registry),
      dlg_(std::make_unique<COstrevaneDlg>(std::move(window))),
      discovery_(*dlg_, table_, services.notifications, services.registry),
      opener_(*dlg_, services.registry, services.clock),
      runHost_(*dlg_, tables_, table_, opener_, services.clock, services.threads),
      clock_(services.clock),
      autoStart_(std::move(autoStart)) {
  runHost_.SetLineMode(&mode_);
  discovery_.SetLineMode(&mode_);
  COstrevaneDlg::Hooks& hooks = dlg_->hooks;
  hooks.runDownload = [this] { engine::RunDownload(runHost_); };
  hooks.osIconClicked = [this] { opener_.OpenImageAndShow(image::ImageKind::Os, true); };
  hooks.cscIconClicked = [this] { opener_.OpenImageAndShow(image::ImageKind::Csc, true); };
  hooks.dropFiles = [this](const std::vector<std::string>& paths) { opener_.OnDropFiles(paths); };
  hooks.saveSettings = [this] { SaveSettings(*dlg_, registry_); };
  hooks.stopConfirmation = [this] { opener_.StopConfirmation(); };
  hooks.deviceChange = [this](uint32_t event, const std::string& path) {
    discovery_.OnDeviceChange(event, platform::notify::DBT_DEVTYP_DEVICEINTERFACE, path);
  };
  hooks.initDone = [this] {
    discovery_.RegisterForDeviceNotifications();
    if (!autoStart_) return;
    {
      std::lock_guard lock(dlg_->ImageMutex);
      dlg_->Image.OsImagePath = autoStart_->osPath;
      dlg_->Image.CscImagePath = autoStart_->cscPath;
    }
    dlg_->AutoStartInProgress = true;
    try {
      autoStartThread_ = std::thread([this] { AutoStartThread(); });
    } catch (const std::system_error&) {
      dlg_->AutoStartEnded();
      autoStartDone_ = true;
    }
  };
  // A close waits for the automatic start, so by now its thread has ended or is about to.
  hooks.joinThreads = [this] {
    if (autoStartThread_.joinable()) autoStartThread_.join();
  };
  hooks.destroy = [this] {
    tables_.FreeChannelBuffers();
    table_.DestroyDevices();
  };
}

Station::~Station() {
  if (autoStartThread_.joinable()) autoStartThread_.join();
}

void Station::AutoStartThread() {
  // A close request stops the automatic start between its steps (and the confirmation
  // within one); the window closes once this thread says it is done.
  COstrevaneDlg& dlg = *dlg_;
  clock_.Sleep(100);
  if (!dlg.CloseRequested()) discovery_.ScanPresentDevices();
  if (!dlg.CloseRequested()) opener_.AutoLoadImages();
  if (beforeAutoStartDecides) beforeAutoStartDecides();
  if (!dlg.CloseRequested() && dlg.StartRuleHolds()) engine::RunDownload(runHost_);
  autoStartDone_ = true;
  dlg.AutoStartEnded();
}

}  // namespace console
