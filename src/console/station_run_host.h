// The main window seen by the engine: what the channel workers and the run controller
// ask of it, served by COstrevaneDlg's thread-safe operations.
#pragma once

#include "console/image_open.h"
#include "console/line_mode.h"
#include "console/log_line.h"
#include "console/ostrevane_dlg.h"
#include "engine/engine_tables.h"
#include "engine/run_host.h"
#include "usb/winusb_device_manager.h"

namespace console {

class StationRunHost final : public engine::RunHost {
 public:
  StationRunHost(COstrevaneDlg& dlg, engine::EngineTables& tables, usb::CWinUSBDeviceManager& table,
                 const ImageOpener& opener, platform::Clock& clock,
                 platform::ThreadService& threads)
      : dlg_(dlg),
        tables_(tables),
        table_(table),
        opener_(opener),
        clock_(clock),
        threads_(threads) {}

  // Channel lines also go to the channel's record, known by their "[Channel %d]".
  void AppendLogText(const std::string& text) override {
    dlg_.AppendLogText(text);
    engine::ChannelObserver* o = observer_.load();
    if (!o) return;
    if (const int channel = ChannelOfLogText(text); channel >= 0) o->ChannelLog(channel, text);
  }
  void PassedOver(int channel, const std::string& what) override {
    if (engine::ChannelObserver* o = observer_.load()) o->ChannelPassedOver(channel, what);
  }
  engine::ChannelObserver* Observer() override { return observer_.load(); }
  // Set before a run starts; the observer outlives the station's runs.
  void SetObserver(engine::ChannelObserver* observer) { observer_ = observer; }
  void ShowProgress(int channel, int32_t value, uint32_t detail, const char* label) override {
    dlg_.ShowProgress(channel, value, detail, label);
  }
  void SetProgressPos(int channel, int32_t pos) override { dlg_.SetProgressPos(channel, pos); }
  void MessageBox(const std::string& text, const std::string& caption) override {
    dlg_.MessageBox(text, caption);
  }
  std::string SelectedSalesCode() override { return dlg_.SelectedComboText(); }
  int GetCheck(int controlId) override { return dlg_.GetCheck(controlId); }
  // The image does not change while a run lasts: image opening is refused meanwhile.
  const image::ImageState& Image() override { return dlg_.Image; }
  uint32_t DownloadMode() override { return dlg_.DownloadMode; }
  engine::RunState& Run() override { return dlg_.Run; }
  engine::EngineTables& Tables() override { return tables_; }
  platform::Clock& Clock() override { return clock_; }
  void ShowDisconnected(int channel) override { ShowDisconnectedDuringRun(dlg_, channel); }

  void EnableStart(bool enabled) override { dlg_.EnableWindow(IDC_START, enabled); }
  void DisableControlsForRun() override { dlg_.DisableControlsForRun(); }
  void UpdateOptionControls() override { dlg_.UpdateOptionControls(); }
  void ResetBar(int channel, const std::string& text) override {
    dlg_.Bar(channel).SetTextAndPos(text.c_str(), 0);
    dlg_.Bar(channel).SetPos(0);
  }
  usb::CWinUSBDeviceManager& DeviceTable() override { return table_; }
  platform::ThreadService& Threads() override { return threads_; }
  // On the auto-start thread there is nothing to serve: the window's own thread does.
  void WaitForMessage(uint32_t milliseconds) override {
    if (dlg_.GetWindow().IsWindowThread())
      dlg_.GetWindow().WaitDispatchOne(std::chrono::milliseconds(milliseconds));
    else
      clock_.Sleep(milliseconds);
  }
  std::atomic<bool>& RunInProgress() override { return dlg_.RunInProgress; }
  void RunEnded() override { dlg_.RunEnded(); }
  // Not while closing, nor while an open is about to change what the workers would read.
  bool MayStartRun() override { return !dlg_.CloseRequested() && !opener_.OpenInProgress(); }

  // Set before the window starts; lives as long as this.
  void SetLineMode(const LineMode* mode) { mode_ = mode; }
  bool Continuous() override { return mode_ && mode_->continuous; }
  // The close (the window's, or a CLI's first stop signal) takes no new handset.
  bool TakesArrivals(int started) override {
    if (!Continuous() || dlg_.CloseRequested()) return false;
    return mode_->count <= 0 || started < mode_->count;
  }
  std::string ContinuousNotice() override {
    std::string text = TEXT_CONTINUOUS;
    if (!mode_ || !mode_->seats) text += TEXT_CONTINUOUS_ANY_HANDSET;
    return text;
  }
  std::string SeatLabel(int channel) override {
    return mode_ && mode_->seats ? mode_->seats->LabelOf(channel) : std::string();
  }

 private:
  COstrevaneDlg& dlg_;
  engine::EngineTables& tables_;
  usb::CWinUSBDeviceManager& table_;
  const ImageOpener& opener_;
  platform::Clock& clock_;
  platform::ThreadService& threads_;
  std::atomic<engine::ChannelObserver*> observer_{nullptr};
  const LineMode* mode_ = nullptr;
};

}  // namespace console
