// The station's main window: ten channels (a box and a status bar each), the image
// information and paths, the operator options, Start and the log. It holds the state
// that image opening, device discovery and the run controller act on, and offers them
// window operations that are safe from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "console/control_ids.h"
#include "console/remembered_options.h"
#include "console/sx_group_box.h"
#include "console/text_progress_ctrl.h"
#include "engine/download_mode.h"
#include "engine/run_state.h"
#include "image/image_state.h"
#include "image/operator_messages.h"
#include "image/smd_format.h"
#include "platform/ui/window.h"

namespace console {

inline constexpr uint32_t SETTINGS_VALID_MARKER = 0xF888F100;
// What the operator reads when a close has to wait.
inline constexpr const char* TEXT_CLOSE_AFTER_RUN =
    "Closing: the window closes by itself once the download has finished.\r\n";
inline constexpr const char* TEXT_CLOSE_AFTER_AUTO_START =
    "Closing: the automatic start is stopping; the window closes by itself.\r\n";
// The about box's entry in the window's menu, and its command.
inline constexpr const char* TEXT_ABOUT_ENTRY = "&About Ostrevane...";
inline constexpr uint32_t IDM_ABOUTBOX = 0x0010;

// The Start rule: a bound handset, an OS image, and a CSC image too in mode ALL.
bool StartAllowed(int32_t boundDeviceCount, bool osLoaded, bool cscLoaded, uint32_t mode);

class COstrevaneDlg : public ui::WindowEvents, public image::OperatorMessages {
 public:
  // The window must be built from MainWindowTemplate() on the thread that runs it.
  explicit COstrevaneDlg(std::unique_ptr<ui::Window> window);
  ~COstrevaneDlg() override;
  COstrevaneDlg(const COstrevaneDlg&) = delete;
  COstrevaneDlg& operator=(const COstrevaneDlg&) = delete;

  ui::Window& GetWindow() const { return *m_window; }
  // Runs the window until it closes (window's thread); returns IDOK or IDCANCEL.
  int DoModal();

  // --- State other parts fill -------------------------------------------------------
  // Writers of Image hold ImageMutex while they write, and call no window operation
  // while they hold it (the window's thread takes it to paint).
  std::mutex ImageMutex;
  image::ImageState Image;
  std::string LastOsImagePath;
  engine::RunState Run;
  std::atomic<uint32_t> DownloadMode{engine::DOWNLOAD_MODE_ALL};
  std::atomic<uint32_t> SettingsValidMarker{0};
  // Set by the run controller for the length of a run: a close request meanwhile is
  // held until RunEnded().
  std::atomic<bool> RunInProgress{false};
  // Set by the station while its automatic start lasts (run included): a close request
  // meanwhile stops it and is held until AutoStartEnded().
  std::atomic<bool> AutoStartInProgress{false};
  // Title of message boxes whose caption is empty: the application's name. Set on the
  // window's thread before DoModal.
  std::string ApplicationTitle = "ostrevane";

  // --- Hooks, set on the window's thread before DoModal; run on the window's thread --
  struct Hooks {
    std::function<void()> runDownload;     // Start (IDOK) clicked
    std::function<void()> osIconClicked;   // browse icon 1001
    std::function<void()> cscIconClicked;  // browse icon 1002
    std::function<void(const std::vector<std::string>&)> dropFiles;
    // Arrival or removal of a device interface, handed over by NotifyDeviceChange.
    std::function<void(uint32_t event, const std::string& interfacePath)> deviceChange;
    // End of the initialisation: device notifications, automatic start.
    std::function<void()> initDone;
    // Escape / close box, and again when the window goes.
    std::function<void()> saveSettings;
    // A close request: a confirmation under way stops as its Escape would stop it.
    std::function<void()> stopConfirmation;
    // When the window goes, after saveSettings: the threads that use its state end.
    std::function<void()> joinThreads;
    // After the header and sales codes are freed: the channel buffers and devices go.
    std::function<void()> destroy;
  } hooks;

  // --- Controls of the channels ------------------------------------------------------
  CTextProgressCtrl& Bar(int channel) { return m_bars.at(static_cast<size_t>(channel)); }
  CSxGroupBox& GroupBox(int frameId) {
    return m_groupBoxes.at(static_cast<size_t>(frameId - IDC_FRAME_CHANNELS));
  }

  // --- Options (any thread; the control work is done on the window's thread) ---------
  void UpdateOptionControls();
  void DisableControlsForRun();
  void ApplyImageDefaults(image::ImageKind kind);
  bool StartRuleHolds();
  void OnGroupCheckClicked(int controlId);
  void OnCscCheckClicked();
  void OnModeAllClicked();
  void OnModeRecoverClicked();
  void OnOsPathKillFocus();
  void OnCscPathKillFocus();
  void RunEnded();
  void AutoStartEnded();
  // A close has been asked for (it may still wait for a run or the automatic start).
  bool CloseRequested() const { return m_closeRequested.load(); }

  // --- The log (any thread) ----------------------------------------------------------
  void AppendLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void AppendLogV(const char* format, va_list args);
  // A ready line: cut to the log's line limit and inserted whole.
  void AppendLogText(const std::string& text);

  // --- Window operations (any thread; served by the window's thread) -----------------
  int GetCheck(int controlId);
  void SetCheck(int controlId, int check);
  std::string GetWindowText(int controlId);
  void SetWindowText(int controlId, const std::string& text);
  void EnableWindow(int controlId, bool enable);
  bool IsWindowEnabled(int controlId);
  std::string SelectedComboText();
  std::string SelectedSalesCode() { return SelectedComboText(); }
  void ShowProgress(int channel, int32_t value, uint32_t detail, const char* label);
  void SetProgressPos(int channel, int32_t pos);
  // Blocks the caller until the operator has answered.
  void MessageBox(const std::string& text, const std::string& caption) override;
  // Runs `fn` on the window's thread later.
  void Post(std::function<void()> fn);
  // Window's thread, inside a long loop: serves one waiting request.
  bool DispatchOnePending();
  // Any thread: hands a device-interface change to the window's thread (hooks.deviceChange).
  void NotifyDeviceChange(uint32_t event, std::string interfacePath);

  // --- Window events -----------------------------------------------------------------
  void OnInitDialog() override;
  void OnCommand(int controlId, ui::Notify code) override;
  void OnDropFiles(const std::vector<std::string>& paths) override;
  bool FiltersLeftClick(int controlId) override;
  void OnPaintControl(int controlId, ui::Painter& painter, const ui::Rect& client) override;
  void OnCtlColor(int controlId, ui::CtlColorQuery& query) override;
  void OnCancel() override;
  // During a run the dialog keys do not act: a brushed key must not close the window
  // once the run ends. Otherwise as the close box.
  void OnEscape() override;
  void OnDestroy() override;
  void OnSysCommand(uint32_t id) override;

  // The seven brushes.
  const ui::Color m_brushYellow = ui::Rgb(255, 255, 0);
  const ui::Color m_brushGreen = ui::Rgb(0, 255, 0);
  const ui::Color m_brushBlack = ui::Rgb(0, 0, 0);
  const ui::Color m_brushPink = ui::Rgb(255, 204, 255);
  const ui::Color m_brushRed = ui::Rgb(255, 0, 0);
  const ui::Color m_brushLightBlue = ui::Rgb(101, 203, 255);
  const ui::Color m_brushGrey = ui::Rgb(222, 222, 222);

 private:
  struct ImageFlags {
    bool os = false;
    bool csc = false;
    std::string osPath;
    std::string cscPath;
  };
  ImageFlags ReadImageFlags();
  void ColorChannelBox(int channel, ui::CtlColorQuery& query);
  void ColorBuildBox(ui::CtlColorQuery& query);
  // Ends the window once a requested close no longer waits for anything (any thread).
  void FinishCloseWhenIdle();

  std::unique_ptr<ui::Window> m_window;
  std::array<CTextProgressCtrl, kChannelCount> m_bars;
  std::array<CSxGroupBox, kFrameCount> m_groupBoxes;
  std::atomic<bool> m_closeRequested{false};
  std::atomic<bool> m_closeDone{false};
};

}  // namespace console
