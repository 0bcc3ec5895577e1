// The window without a screen: every control's state in memory, drawing recorded as
// operations, message boxes and file dialogs answered from a script, and requests of
// other threads served on the thread that constructed it. For tests and for a
// command-line front end.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/recording_painter.h"
#include "platform/ui/window.h"

namespace ui {

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  bool owned = true;
};

struct ColorResult {
  CtlColorType type = CtlColorType::Static;
  Color text;
  std::optional<Color> textBackground;
  Color brush;
  std::vector<DrawOp> ops;  // drawn into the control by the handler
};

class HeadlessWindow final : public Window {
 public:
  explicit HeadlessWindow(const DialogTemplate& dialog, BaseUnits units = kShellDlgBaseUnits);
  ~HeadlessWindow() override;

  // Script. Without an answerer every message box is answered with IDOK.
  void SetMessageBoxAnswerer(std::function<int(const MessageBoxRecord&)> answerer);
  std::vector<MessageBoxRecord> MessageBoxes() const;
  // Answers for the next file dialogs, in order; none left means "cancelled".
  void QueueFileDialogAnswer(std::optional<std::string> path);
  std::vector<FileDialogRequest> FileDialogs() const;
  // The operator of further dialogs built from this window: called on the dialog's
  // thread after every request its modal loop serves and whenever it has waited a
  // while without one. Without a script the dialog's button 1 (IDOK) is pressed as
  // soon as it is enabled, as message boxes are answered with OK.
  using DialogScript = std::function<void(HeadlessWindow& dialog)>;
  void SetDialogScript(DialogScript script);
  // Titles of the dialogs built from this window, in order.
  std::vector<std::string> DialogsShown() const;
  // Set on the window's thread, and called there with every text appended to an edit,
  // whole even when a line limit then drops the oldest lines: a front end follows a log
  // that keeps only its last lines without reading it whole.
  using AppendTap = std::function<void(int id, const std::string& text)>;
  void SetAppendTap(AppendTap tap) { appendTap_ = std::move(tap); }

  // The operator, on the window's thread. A click on a disabled or hidden control does
  // nothing. LeftButtonDown returns true when the owner swallowed it; otherwise an edit
  // takes the focus. Id 0 is the window's background.
  void Click(int id);
  bool LeftButtonDown(int id);
  void Focus(int id);  // by keyboard (Tab)
  void Type(int id, const std::string& text);
  void SelectComboItem(int id, int index);
  void DropFiles(const std::vector<std::string>& paths);
  void PressEscape();
  void PressCloseBox();
  // A right click: what the window's menu shows there (nothing on an edit or a combo
  // box, which have menus of their own), and the operator's choice from it.
  std::vector<MenuItem> RightButtonDown(int id);
  void ChooseWindowMenu(uint32_t command);
  int FocusedControl() const { return focused_; }

  // Drawing, on the window's thread. PaintControl draws an owner-drawn control now;
  // LastPaint is what its latest repaint drew (requested through Invalidate).
  std::vector<DrawOp> PaintControl(int id);
  std::vector<DrawOp> LastPaint(int id) const;
  int PaintCount(int id) const;
  ColorResult QueryColors(int id);
  // Client rectangle an owner-drawn control draws in (inside its border).
  Rect ClientRectOf(int id) const;

  // Window thread: serves requests until `done` holds or `timeout` passes.
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

  static FontSpec DialogFont(const DialogTemplate& dialog);

 protected:
  void Reflect(int id, Change change, const std::string& appended) override;
  void Repaint(int id) override;
  int ShowMessageBox(const std::string& text, const std::string& caption, bool owned) override;
  std::optional<std::string> ShowFileDialog(const FileDialogRequest& request) override;
  void ProcessBackendEvents() override;
  int RunModalLoop() override;
  std::unique_ptr<Window> CreateDialogWindow(const DialogTemplate& dialog) override;
  bool DialogsOnAnyThread() const override { return true; }

 private:
  FontSpec font_;
  // The window a dialog was built from; its requests are served by the dialog's loop
  // when both belong to the same thread, as one thread's message loop serves all of
  // its windows.
  HeadlessWindow* parent_ = nullptr;
  int focused_ = 0;
  std::map<int, std::vector<DrawOp>> lastPaint_;
  std::map<int, int> paintCount_;
  AppendTap appendTap_;

  mutable std::mutex scriptMutex_;
  std::function<int(const MessageBoxRecord&)> answerer_;
  std::vector<MessageBoxRecord> messageBoxes_;
  std::deque<std::optional<std::string>> fileAnswers_;
  std::vector<FileDialogRequest> fileDialogs_;
  DialogScript dialogScript_;
  std::vector<std::string> dialogsShown_;
};

}  // namespace ui
