// The about box: the application's icon, name and version, and OK. It carries nothing
// of its own; OK or Escape closes it.
#pragma once

#include "platform/ui/dialog_template.h"
#include "platform/ui/window.h"
#include "platform/ui/window_events.h"

namespace console {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDC_ABOUT_ICON = 1060;
inline constexpr int IDC_ABOUT_NAME = 1061;
inline constexpr int IDC_ABOUT_COPYRIGHT = 1062;
// The station's version, as the main window's title shows it.
inline constexpr const char* STATION_VERSION = "3.54";

ui::DialogTemplate AboutDialogTemplate();

class CAboutDlg final : public ui::WindowEvents {
 public:
  // Runs the box on `window` (built from AboutDialogTemplate()) until it closes; returns
  // IDOK or IDCANCEL.
  int DoModal(ui::Window& window);

  void OnCommand(int controlId, ui::Notify code) override;
  void OnCancel() override;

 private:
  ui::Window* m_window = nullptr;
};

}  // namespace console
