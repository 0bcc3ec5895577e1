// A dialog window built from a template: control state, operator dialogs and the
// hand-over of requests from other threads. The calls below work from any thread: off
// the window's thread they are served by it while the caller waits (a sent message),
// except Invalidate and Post, which never wait. Backends supply the screen side.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/control_state.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/dialog_units.h"
#include "platform/ui/request_queue.h"
#include "platform/ui/window_events.h"

namespace ui {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

struct FileDialogRequest {
  // Description and pattern pairs separated by '|', e.g. "Images (*.img)|*.img|".
  std::string filter;
  std::string defaultExtension;
  std::string startFolder;
  bool fileMustExist = true;
};

// An entry of the window's menu; command 0 is a separator.
struct MenuItem {
  uint32_t command = 0;
  std::string text;
};

class Window {
 public:
  Window(const DialogTemplate& dialog, BaseUnits units);
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Window thread, before the window runs.
  void SetEvents(WindowEvents* events) { events_ = events; }

  // Fixed at construction; safe from any thread.
  const DialogTemplate& Template() const { return template_; }
  bool HasControl(int id) const { return controls_.count(id) != 0; }
  Rect ControlRect(int id) const;
  Size ClientSize() const { return clientSize_; }

  std::string GetText(int id);
  void SetText(int id, const std::string& text);
  void EnableWindow(int id, bool enable);
  bool IsWindowEnabled(int id);
  void ShowWindow(int id, bool show);
  bool IsWindowVisible(int id);
  void SetCheck(int id, int check);
  int GetCheck(int id);

  void ComboResetContent(int id);
  // Returns the new item's index (sorted combo boxes insert in order).
  int ComboAddString(int id, const std::string& text);
  void ComboSetCurSel(int id, int index);
  int ComboGetCurSel(int id);
  std::string ComboSelectedText(int id);
  std::vector<std::string> ComboItems(int id);

  void SetRange(int id, int low, int high);
  void SetPos(int id, int position);
  int GetPos(int id);

  // Puts the caret at the end of a multi-line edit, inserts the text there in one step
  // and scrolls so that the end shows.
  void AppendToEdit(int id, const std::string& text);
  // Keeps a multi-line edit to at most its last `lines` lines (line breaks, and whatever
  // follows the last one): past the limit the oldest lines go down to nine tenths of it
  // at once, so an append costs the same however long the text.
  void SetEditLineLimit(int id, size_t lines);

  // Asks for the control to be drawn again: at once on the window's thread, otherwise
  // as soon as the window's thread gets to it. Never waits.
  void Invalidate(int id);

  // Blocks the caller until the operator answers; returns the button (IDOK). An
  // unowned box stands on its own instead of in front of this window.
  int MessageBox(const std::string& text, const std::string& caption, bool owned = true);
  // None when the operator cancels.
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request);

  bool IsWindowThread() const { return queue_.OnOwnerThread(); }
  // Runs `fn` on the window's thread and waits (at once when called there).
  void Invoke(std::function<void()> fn);
  // Runs `fn` on the window's thread later; never waits.
  void Post(std::function<void()> fn);
  // Runs `fn` now on the window's thread, or posts it from any other thread.
  void RunOrPost(std::function<void()> fn);
  // Window thread: serves one waiting request (and lets the backend handle its own
  // pending events); what a long loop on the window's thread calls each pass.
  bool DispatchOnePending();
  // Window thread: waits up to `timeout` for a request and serves it.
  bool WaitDispatchOne(std::chrono::milliseconds timeout);

  // Window thread. The window's own menu: the title bar's menu belongs to the window
  // manager on this platform, so these entries show where its users look for them, on
  // a right click on the window's background or banner. A chosen entry reaches
  // OnSysCommand.
  void AppendWindowMenu(uint32_t command, const std::string& text);
  const std::vector<MenuItem>& WindowMenu() const { return menu_; }

  // Window thread: OnInitDialog, then serves the window until EndDialog; then
  // OnDestroy. Returns the EndDialog result.
  int RunModal();

  // Any thread: builds a further dialog of this window's backend, hands it to `body`
  // (which runs it, normally with RunModal) and destroys it when `body` returns. The
  // dialog belongs to the calling thread where the backend allows that; otherwise it
  // is built and run on this window's thread while the caller waits. While the dialog
  // runs on this window's thread, this window keeps serving its requests.
  void RunDialog(const DialogTemplate& dialog, const std::function<void(Window&)>& body);
  // Any thread.
  void EndDialog(int result);
  bool Ended() const { return ended_.load(); }

  // Window thread. A picture of the whole client area, saved as PNG or captured as
  // pixels; false where the backend has no screen.
  virtual bool SaveImage(const std::string& /*pngPath*/) { return false; }
  virtual bool Capture(Bitmap& /*out*/) { return false; }

 protected:
  enum class Change {
    Text,
    Enabled,
    Visible,
    Check,
    Items,
    Selection,
    Range,
    Position,
    Appended,
    LineLimit
  };

  // Window thread only.
  ControlState* Control(int id);
  WindowEvents* Events() const { return events_; }
  RequestQueue& Queue() { return queue_; }
  // Applies a click the way auto buttons take it (toggle, radio group), then reports it.
  void ClickFromOperator(int id);
  // The operator chose an entry of the window's menu; unknown commands are ignored.
  void MenuChosenFromOperator(uint32_t command);
  // Stops serving requests; backends call it from their destructors.
  void Shutdown();

  // Backend side, window thread only.
  virtual void Reflect(int /*id*/, Change /*change*/, const std::string& /*appended*/) {}
  virtual void Repaint(int id) = 0;
  virtual int ShowMessageBox(const std::string& text, const std::string& caption, bool owned) = 0;
  virtual std::optional<std::string> ShowFileDialog(const FileDialogRequest& request) = 0;
  virtual void ProcessBackendEvents() {}
  virtual int RunModalLoop() = 0;
  virtual void QuitModalLoop(int /*result*/) {}
  // A further dialog, built on the calling thread.
  virtual std::unique_ptr<Window> CreateDialogWindow(const DialogTemplate& dialog) = 0;
  // Whether a dialog may belong to a thread other than this window's.
  virtual bool DialogsOnAnyThread() const { return false; }
  int Result() const { return result_.load(); }

 private:
  // Runs `fn` on the control's state on the window's thread; false for an unknown id
  // or a window that no longer serves requests.
  bool WithControl(int id, const std::function<void(ControlState&)>& fn);

  DialogTemplate template_;
  std::map<int, ControlState> controls_;
  Size clientSize_;
  RequestQueue queue_;
  WindowEvents* events_ = nullptr;
  std::atomic<bool> ended_{false};
  std::atomic<int> result_{0};
  std::vector<MenuItem> menu_;
};

}  // namespace ui
