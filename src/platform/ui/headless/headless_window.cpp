// The headless window.
#include "platform/ui/headless/headless_window.h"

#include <utility>

namespace ui {

HeadlessWindow::HeadlessWindow(const DialogTemplate& dialog, BaseUnits units)
    : Window(dialog, units), font_(DialogFont(dialog)) {}

HeadlessWindow::~HeadlessWindow() {
  Shutdown();
}

FontSpec HeadlessWindow::DialogFont(const DialogTemplate& dialog) {
  FontSpec font;
  font.face = dialog.fontFace;
  font.pointSize = dialog.pointSize;
  return font;
}

void HeadlessWindow::SetMessageBoxAnswerer(std::function<int(const MessageBoxRecord&)> answerer) {
  std::lock_guard lock(scriptMutex_);
  answerer_ = std::move(answerer);
}

std::vector<MessageBoxRecord> HeadlessWindow::MessageBoxes() const {
  std::lock_guard lock(scriptMutex_);
  return messageBoxes_;
}

void HeadlessWindow::QueueFileDialogAnswer(std::optional<std::string> path) {
  std::lock_guard lock(scriptMutex_);
  fileAnswers_.push_back(std::move(path));
}

std::vector<FileDialogRequest> HeadlessWindow::FileDialogs() const {
  std::lock_guard lock(scriptMutex_);
  return fileDialogs_;
}

int HeadlessWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   bool owned) {
  MessageBoxRecord record{text, caption, owned};
  std::function<int(const MessageBoxRecord&)> answerer;
  {
    std::lock_guard lock(scriptMutex_);
    messageBoxes_.push_back(record);
    answerer = answerer_;
  }
  return answerer ? answerer(record) : IDOK;
}

std::optional<std::string> HeadlessWindow::ShowFileDialog(const FileDialogRequest& request) {
  std::lock_guard lock(scriptMutex_);
  fileDialogs_.push_back(request);
  if (fileAnswers_.empty()) return std::nullopt;
  auto answer = std::move(fileAnswers_.front());
  fileAnswers_.pop_front();
  return answer;
}

void HeadlessWindow::SetDialogScript(DialogScript script) {
  std::lock_guard lock(scriptMutex_);
  dialogScript_ = std::move(script);
}

std::vector<std::string> HeadlessWindow::DialogsShown() const {
  std::lock_guard lock(scriptMutex_);
  return dialogsShown_;
}

std::unique_ptr<Window> HeadlessWindow::CreateDialogWindow(const DialogTemplate& dialog) {
  auto window = std::make_unique<HeadlessWindow>(dialog);
  window->parent_ = this;
  std::lock_guard lock(scriptMutex_);
  dialogsShown_.push_back(dialog.title);
  // Dialogs of the dialog are run by the same operator.
  window->dialogScript_ = dialogScript_;
  window->answerer_ = answerer_;
  return window;
}

void HeadlessWindow::Reflect(int id, Change change, const std::string& appended) {
  if (change == Change::Appended && appendTap_) appendTap_(id, appended);
}

void HeadlessWindow::ProcessBackendEvents() {
  if (parent_ && parent_->IsWindowThread()) parent_->DispatchOnePending();
}

int HeadlessWindow::RunModalLoop() {
  DialogScript script;
  if (parent_) {
    std::lock_guard lock(parent_->scriptMutex_);
    script = parent_->dialogScript_;
  }
  while (!Ended()) {
    WaitDispatchOne(std::chrono::milliseconds(parent_ ? 1 : 20));
    if (Ended()) break;
    if (script) {
      script(*this);
    } else if (ControlState* ok = Control(IDOK); parent_ && ok && ok->enabled && ok->visible) {
      // Only a dialog's OK: the window itself waits for its real operator.
      ClickFromOperator(IDOK);
    }
  }
  return Result();
}

void HeadlessWindow::Click(int id) {
  ClickFromOperator(id);
}

bool HeadlessWindow::LeftButtonDown(int id) {
  if (Events() && Events()->FiltersLeftClick(id)) return true;
  ControlState* c = Control(id);
  if (c && c->enabled && c->visible && c->kind == ControlKind::Edit) Focus(id);
  return false;
}

void HeadlessWindow::Focus(int id) {
  if (focused_ == id) return;
  int previous = focused_;
  focused_ = id;
  ControlState* before = Control(previous);
  if (before && before->kind == ControlKind::Edit && Events())
    Events()->OnCommand(previous, Notify::KillFocus);
}

void HeadlessWindow::Type(int id, const std::string& text) {
  ControlState* c = Control(id);
  if (!c || !c->enabled || (c->style & kStyleReadOnly) || focused_ != id) return;
  c->text = text;
}

void HeadlessWindow::SelectComboItem(int id, int index) {
  ControlState* c = Control(id);
  if (!c || !c->enabled || index < 0 || index >= static_cast<int>(c->items.size())) return;
  c->selection = index;
  if (Events()) Events()->OnCommand(id, Notify::SelChange);
}

void HeadlessWindow::DropFiles(const std::vector<std::string>& paths) {
  if (Template().acceptFiles && Events()) Events()->OnDropFiles(paths);
}

void HeadlessWindow::PressEscape() {
  if (Events()) Events()->OnEscape();
}

void HeadlessWindow::PressCloseBox() {
  if (Events()) Events()->OnCancel();
}

std::vector<MenuItem> HeadlessWindow::RightButtonDown(int id) {
  const ControlTemplate* t = Template().Find(id);
  if (t && (t->kind == ControlKind::Edit || t->kind == ControlKind::ComboBox)) return {};
  return WindowMenu();
}

void HeadlessWindow::ChooseWindowMenu(uint32_t command) {
  MenuChosenFromOperator(command);
}

Rect HeadlessWindow::ClientRectOf(int id) const {
  Rect r = ControlRect(id).MovedToOrigin();
  const ControlTemplate* t = Template().Find(id);
  if (t && (t->style & kStyleBorder)) r = Rect{0, 0, r.right - 2, r.bottom - 2};
  return r;
}

std::vector<DrawOp> HeadlessWindow::PaintControl(int id) {
  RecordingPainter painter(font_);
  if (Events() && HasControl(id)) Events()->OnPaintControl(id, painter, ClientRectOf(id));
  return painter.TakeOps();
}

void HeadlessWindow::Repaint(int id) {
  lastPaint_[id] = PaintControl(id);
  ++paintCount_[id];
}

std::vector<DrawOp> HeadlessWindow::LastPaint(int id) const {
  auto it = lastPaint_.find(id);
  return it == lastPaint_.end() ? std::vector<DrawOp>{} : it->second;
}

int HeadlessWindow::PaintCount(int id) const {
  auto it = paintCount_.find(id);
  return it == paintCount_.end() ? 0 : it->second;
}

ColorResult HeadlessWindow::QueryColors(int id) {
  RecordingPainter painter(font_);
  ControlState* c = Control(id);
  bool isStatic = c && ((c->style & kStyleReadOnly) || !c->enabled);
  CtlColorQuery query{isStatic ? CtlColorType::Static : CtlColorType::Edit,
                      ControlRect(id).MovedToOrigin(),
                      painter,
                      c && !c->enabled ? kGrayTextColor : kWindowTextColor,
                      std::nullopt,
                      isStatic ? kButtonFaceColor : kWindowColor};
  if (Events()) Events()->OnCtlColor(id, query);
  return ColorResult{query.type, query.text, query.textBackground, query.brush, painter.TakeOps()};
}

bool HeadlessWindow::PumpUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    WaitDispatchOne(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace ui
