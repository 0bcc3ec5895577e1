// The main window's initialisation, the routing of its events, and the window
// operations other threads call.
#include "console/ostrevane_dlg.h"

#include "console/log_line.h"

#include <utility>

#include "console/about_dlg.h"

namespace console {

namespace {

// Each channel's bar font.
const ui::FontSpec kBarFont{"Tahoma", 15, 0, 400};

}  // namespace

COstrevaneDlg::COstrevaneDlg(std::unique_ptr<ui::Window> window) : m_window(std::move(window)) {
  m_window->SetEvents(this);
  for (int n = 0; n < kChannelCount; ++n) Bar(n).Attach(*m_window, StatusBarId(n));
}

COstrevaneDlg::~COstrevaneDlg() {
  // Requests still on their way must not reach a half-destroyed object.
  m_window->SetEvents(nullptr);
}

int COstrevaneDlg::DoModal() {
  return m_window->RunModal();
}

void COstrevaneDlg::OnInitDialog() {
  m_window->SetEditLineLimit(IDC_LOG, kLogLineLimit);
  for (int i = 0; i < kFrameCount; ++i)
    m_groupBoxes[static_cast<size_t>(i)].Attach(*m_window, IDC_FRAME_CHANNELS + i);

  // The about box's entry, after a separator, in the window's own menu.
  const std::string about = TEXT_ABOUT_ENTRY;
  if (!about.empty() && m_window->WindowMenu().empty()) {
    m_window->AppendWindowMenu(0, "");
    m_window->AppendWindowMenu(IDM_ABOUTBOX, about);
  }
  // The application icon is the template's window icon (big and small alike). The
  // window manager draws it for the minimised window and for the task bar, so there is
  // no minimised painting of our own.

  {
    std::lock_guard lock(ImageMutex);
    Image.OsImagePath.clear();
    Image.CscImagePath.clear();
    Image.OsImageLoaded = 0;
    Image.CscImageLoaded = 0;
    Image.LoadedHeader.clear();
    Image.SalesCodes.clear();
    Image.SalesCodeCount = 0;
    LastOsImagePath.clear();
  }
  Run.BoundDeviceCount = 0;
  SettingsValidMarker = SETTINGS_VALID_MARKER;

  for (int n = 0; n < kChannelCount; ++n) {
    m_window->SetText(ChannelBoxId(n), "NONE");
    Bar(n).SetFont(kBarFont);
    Bar(n).SetRange(0, 100);
    Run.ChannelThread[static_cast<size_t>(n)] = 0;
  }
  m_window->SetText(IDC_IMAGE_LABEL, "No binary");
  m_window->SetText(IDC_IMAGE_BUILD, "No binary");
  m_window->SetText(IDC_IMAGE_MODEL, "No binary");

  for (size_t n = 0; n < static_cast<size_t>(kChannelCount); ++n) {
    Run.ChannelRunning[n] = 0;
    Run.ChannelSecurityMode[n] = 0;
    Run.ChannelFinished[n] = 0;
    Run.DevicePresent[n] = 0;
    Run.ChannelFailed[n] = 0;
  }
  {
    std::lock_guard lock(ImageMutex);
    Image.CurrentModelFamily = image::ModelFamily::FamilyUnknown;
  }

  m_window->EnableWindow(IDC_SALES_CODE, false);
  m_window->ComboResetContent(IDC_SALES_CODE);
  m_window->ComboSetCurSel(IDC_SALES_CODE, m_window->ComboAddString(IDC_SALES_CODE, "NONE"));

  DownloadMode = engine::DOWNLOAD_MODE_ALL;
  m_window->SetCheck(IDC_MODE_ALL, 1);
  for (CSxGroupBox& box : m_groupBoxes) {
    box.m_textColor = ui::Rgb(0, 0, 255);
    box.m_alignment = GROUP_CAPTION_LEFT;
    box.m_shadowColor = box.m_shadowColorDisabled;
    box.m_highlightColor = box.m_highlightColorDisabled;
  }
  UpdateOptionControls();

  if (hooks.initDone) hooks.initDone();
}

void COstrevaneDlg::OnCommand(int controlId, ui::Notify code) {
  if (code == ui::Notify::KillFocus) {
    if (controlId == IDC_OS_PATH) OnOsPathKillFocus();
    if (controlId == IDC_CSC_PATH) OnCscPathKillFocus();
    return;
  }
  if (code != ui::Notify::Clicked) return;
  if (controlId >= GroupCheckId(0) && controlId < GroupCheckId(kGroupCount)) {
    OnGroupCheckClicked(controlId);
    return;
  }
  switch (controlId) {
    case IDC_START:
      if (hooks.runDownload) hooks.runDownload();
      break;
    case IDC_CANCEL:
      OnCancel();
      break;
    case IDC_OS_BROWSE_ICON:
      if (hooks.osIconClicked) hooks.osIconClicked();
      break;
    case IDC_CSC_BROWSE_ICON:
      if (hooks.cscIconClicked) hooks.cscIconClicked();
      break;
    case IDC_CSC_CHECK:
      OnCscCheckClicked();
      break;
    case IDC_MODE_ALL:
      OnModeAllClicked();
      break;
    case IDC_MODE_RECOVER:
      OnModeRecoverClicked();
      break;
    default:  // "Select" and "Erase" have no effect
      break;
  }
}

void COstrevaneDlg::OnDropFiles(const std::vector<std::string>& paths) {
  if (hooks.dropFiles) hooks.dropFiles(paths);
}

bool COstrevaneDlg::FiltersLeftClick(int controlId) {
  // Clicks never reach the information boxes, the channel boxes or the path edits.
  return controlId >= IDC_IMAGE_MODEL && controlId <= IDC_CSC_PATH;
}

void COstrevaneDlg::OnPaintControl(int controlId, ui::Painter& painter, const ui::Rect& client) {
  if (controlId >= StatusBarId(0) && controlId < StatusBarId(kChannelCount)) {
    Bar(controlId - IDC_STATUS_BAR_FIRST).Draw(painter, client);
  } else if (controlId >= IDC_FRAME_CHANNELS && controlId <= IDC_FRAME_LOG) {
    GroupBox(controlId).Paint(painter, m_window->IsWindowEnabled(controlId));
  }
}

void COstrevaneDlg::OnSysCommand(uint32_t id) {
  if ((id & 0xFFF0) != IDM_ABOUTBOX) return;  // the rest belongs to the window manager
  m_window->RunDialog(AboutDialogTemplate(), [](ui::Window& window) {
    CAboutDlg about;
    (void)about.DoModal(window);
  });
}

void COstrevaneDlg::OnEscape() {
  if (!RunInProgress) OnCancel();
}

void COstrevaneDlg::OnCancel() {
  // Escape or the close box again, or a second signal, while a close waits: nothing new.
  if (m_closeRequested.exchange(true)) return;
  if (hooks.saveSettings) hooks.saveSettings();
  // The window, the image and the channel buffers must outlive a run in progress and
  // the automatic start's thread; that thread may wait for this one, so the window
  // keeps serving until it has ended instead of waiting for it.
  if (hooks.stopConfirmation) hooks.stopConfirmation();
  if (RunInProgress)
    AppendLogText(TEXT_CLOSE_AFTER_RUN);
  else if (AutoStartInProgress)
    AppendLogText(TEXT_CLOSE_AFTER_AUTO_START);
  FinishCloseWhenIdle();
}

void COstrevaneDlg::RunEnded() {
  RunInProgress = false;
  FinishCloseWhenIdle();
}

void COstrevaneDlg::AutoStartEnded() {
  AutoStartInProgress = false;
  FinishCloseWhenIdle();
}

void COstrevaneDlg::FinishCloseWhenIdle() {
  // Each side sets its own flag before it reads the other's, so the last one to finish
  // sees the close; both may, hence the exchange.
  if (!m_closeRequested || RunInProgress || AutoStartInProgress) return;
  if (!m_closeDone.exchange(true)) m_window->EndDialog(ui::IDCANCEL);
}

void COstrevaneDlg::OnDestroy() {
  if (hooks.saveSettings) hooks.saveSettings();
  if (hooks.joinThreads) hooks.joinThreads();
  {
    std::lock_guard lock(ImageMutex);
    Image.LoadedHeader.clear();
    Image.LoadedHeader.shrink_to_fit();
    Image.SalesCodes.clear();
    Image.SalesCodeCount = 0;
  }
  if (hooks.destroy) hooks.destroy();
}

int COstrevaneDlg::GetCheck(int controlId) {
  return m_window->GetCheck(controlId);
}

void COstrevaneDlg::SetCheck(int controlId, int check) {
  m_window->SetCheck(controlId, check);
}

std::string COstrevaneDlg::GetWindowText(int controlId) {
  return m_window->GetText(controlId);
}

void COstrevaneDlg::SetWindowText(int controlId, const std::string& text) {
  m_window->SetText(controlId, text);
}

void COstrevaneDlg::EnableWindow(int controlId, bool enable) {
  m_window->EnableWindow(controlId, enable);
}

bool COstrevaneDlg::IsWindowEnabled(int controlId) {
  return m_window->IsWindowEnabled(controlId);
}

std::string COstrevaneDlg::SelectedComboText() {
  return m_window->ComboSelectedText(IDC_SALES_CODE);
}

void COstrevaneDlg::ShowProgress(int channel, int32_t value, uint32_t detail, const char* label) {
  if (channel >= 0 && channel < kChannelCount) Bar(channel).ShowProgress(value, detail, label);
}

void COstrevaneDlg::SetProgressPos(int channel, int32_t pos) {
  if (channel >= 0 && channel < kChannelCount) Bar(channel).SetPos(pos);
}

void COstrevaneDlg::MessageBox(const std::string& text, const std::string& caption) {
  m_window->MessageBox(text, caption.empty() ? ApplicationTitle : caption);
}

void COstrevaneDlg::Post(std::function<void()> fn) {
  m_window->Post(std::move(fn));
}

bool COstrevaneDlg::DispatchOnePending() {
  return m_window->DispatchOnePending();
}

void COstrevaneDlg::NotifyDeviceChange(uint32_t event, std::string interfacePath) {
  m_window->Post([this, event, path = std::move(interfacePath)] {
    if (hooks.deviceChange) hooks.deviceChange(event, path);
  });
}

}  // namespace console
