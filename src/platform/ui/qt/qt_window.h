// The Qt window: widgets built from the template, kept in step with the window's
// control state, touched only on the GUI thread.
#pragma once

#include <QDialog>
#include <QFont>
#include <QWidget>
#include <map>
#include <memory>

#include "platform/ui/window.h"

namespace ui {

class QtWindow final : public Window {
 public:
  // A dialog with a parent stands in front of it.
  explicit QtWindow(const DialogTemplate& dialog, QWidget* parent = nullptr);
  ~QtWindow() override;

  bool SaveImage(const std::string& pngPath) override;
  bool Capture(Bitmap& out) override;

  // Called by the widgets, on the GUI thread. The close box and Escape.
  void CancelFromOperator();
  void EscapeFromOperator();
  void ButtonClicked(int id);
  void ButtonToggled(int id, bool checked);
  void EditTextChanged(int id, const std::string& text);
  void EditFocusLost(int id);
  void ComboActivated(int id, int index);
  void FilesDropped(const std::vector<std::string>& paths);
  bool SwallowsLeftClick(int id);
  // Shows the window's menu at `globalPos` and reports the chosen entry; false when the
  // menu is empty.
  bool ShowWindowMenu(const QPoint& globalPos);
  void PaintOwnerDrawn(int id, QWidget* widget);
  // Asks the owner for the control's colours; fills `overlay` with what it draws.
  CtlColorQuery QueryColors(int id, QWidget* widget, class RecordingPainter& overlay);
  FontSpec DialogFontSpec() const { return fontSpec_; }

 protected:
  void Reflect(int id, Change change, const std::string& appended) override;
  void Repaint(int id) override;
  int ShowMessageBox(const std::string& text, const std::string& caption, bool owned) override;
  std::optional<std::string> ShowFileDialog(const FileDialogRequest& request) override;
  void ProcessBackendEvents() override;
  int RunModalLoop() override;
  void QuitModalLoop(int result) override;
  std::unique_ptr<Window> CreateDialogWindow(const DialogTemplate& dialog) override;

 private:
  void BuildWidgets(QWidget* parent);
  QWidget* CreateWidget(const ControlTemplate& t, const ControlState& state);
  // Things that need the owner's answers: which clicks are swallowed.
  void Prepare();
  void DrainRequests();

  FontSpec fontSpec_;
  std::unique_ptr<QDialog> dialog_;
  std::map<int, QWidget*> widgets_;  // owned by dialog_
  bool prepared_ = false;
};

}  // namespace ui
