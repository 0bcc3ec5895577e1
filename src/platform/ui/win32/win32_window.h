// The Win32 window: a modal dialog built from an in-memory template, its standard
// controls kept in step with the window's control state, touched only on its thread.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "platform/ui/native_message_filter.h"
#include "platform/ui/recording_painter.h"
#include "platform/ui/window.h"
#include "platform/ui/win32/win32_api.h"

namespace ui {

// What the dialog manager measures for the template's font on this screen.
BaseUnits MeasureDialogBaseUnits(const DialogTemplate& dialog);

class Win32Window final : public Window {
 public:
  // `owner`, when given, is the window this dialog stands in front of and disables while
  // it runs. `filter` may be null.
  Win32Window(const DialogTemplate& dialog, NativeMessageFilter* filter, HWND owner);
  ~Win32Window() override;

  bool SaveImage(const std::string& pngPath) override;
  bool Capture(Bitmap& out) override;

 protected:
  void Reflect(int id, Change change, const std::string& appended) override;
  void Repaint(int id) override;
  int ShowMessageBox(const std::string& text, const std::string& caption, bool owned) override;
  std::optional<std::string> ShowFileDialog(const FileDialogRequest& request) override;
  void ProcessBackendEvents() override;
  // -1 when the dialog could not be created.
  int RunModalLoop() override;
  void QuitModalLoop(int result) override;
  std::unique_ptr<Window> CreateDialogWindow(const DialogTemplate& dialog) override;

 private:
  // Where a subclassed control finds its window.
  static constexpr const wchar_t* kControlProperty = L"Ostrevane.Win32Window";

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleControlMessage(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
  void InitControls();
  void ShowState(HWND control, const ControlState& state);
  void DetachControls();
  bool HandleCommand(int id, int code, HWND control);
  INT_PTR ColorControl(UINT message, HDC dc, HWND control);
  void PaintOwnerDrawn(HWND control, int id, ControlKind kind);
  void DrawOverlay(HWND control, int id);
  void DropFiles(HDROP drop);
  void SetEditText(HWND control, const ControlState& state);
  void ShowItems(HWND control, const ControlState& state);
  HBRUSH BrushFor(Color color);
  HWND Item(int id) const;
  int IdOf(HWND control) const;
  void DrainRequests();
  void CancelFromOperator();
  void EscapeFromOperator();

  NativeMessageFilter* filter_;
  HWND owner_;
  std::atomic<HWND> hwnd_{nullptr};
  FontSpec fontSpec_;
  std::map<int, HWND> items_;
  std::map<HWND, int> ids_;
  std::map<HWND, WNDPROC> originals_;
  // What each edit's colour handler drew, drawn again over the edit once it has painted.
  std::map<int, std::vector<DrawOp>> overlays_;
  std::map<COLORREF, HBRUSH> brushes_;
  // Line breaks each multi-line edit shows, to see when the state dropped old lines.
  std::map<int, size_t> shownBreaks_;
  std::vector<HICON> icons_;
  std::vector<HBITMAP> bitmaps_;
  // Set while the window writes into its own controls, whose notifications then say
  // nothing new.
  bool reflecting_ = false;
};

}  // namespace ui
