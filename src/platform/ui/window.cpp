// The backend-independent half of a window: control state kept on the window's
// thread, and every call from another thread handed over to it.
#include "platform/ui/window.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace ui {

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

Window::Window(const DialogTemplate& dialog, BaseUnits units) : template_(dialog) {
  Rect client = DialogToPixels(0, 0, dialog.cx, dialog.cy, units);
  clientSize_ = Size{client.Width(), client.Height()};
  for (const ControlTemplate& t : dialog.controls) {
    ControlState state;
    state.kind = t.kind;
    state.style = t.style;
    state.rect = DialogToPixels(t.x, t.y, t.cx, t.cy, units);
    state.text = t.caption;
    state.enabled = (t.style & kStyleDisabled) == 0;
    state.visible = (t.style & kStyleHidden) == 0;
    controls_.emplace(t.id, std::move(state));
  }
}

Window::~Window() {
  Shutdown();
}

void Window::Shutdown() {
  queue_.Close();
}

Rect Window::ControlRect(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? Rect{} : it->second.rect;
}

ControlState* Window::Control(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool Window::WithControl(int id, const std::function<void(ControlState&)>& fn) {
  bool found = false;
  Invoke([&] {
    if (ControlState* c = Control(id)) {
      fn(*c);
      found = true;
    }
  });
  return found;
}

std::string Window::GetText(int id) {
  std::string text;
  WithControl(id, [&](ControlState& c) { text = c.text; });
  return text;
}

namespace {

// Past `lineLimit` line breaks, drops the oldest lines down to nine tenths of the
// limit at once: moving the whole text up for every appended line would cost a copy of
// the text per line, while this costs one per tenth of the limit.
void TrimToLineLimit(ControlState& c) {
  if (c.lineLimit == 0 || c.lineBreaks <= c.lineLimit) return;
  const size_t keep = c.lineLimit - std::max<size_t>(c.lineLimit / 10, 1);
  size_t drop = c.lineBreaks - keep;
  size_t cut = 0;
  for (; drop > 0; --drop) cut = c.text.find('\n', cut) + 1;
  c.text.erase(0, cut);
  c.lineBreaks = keep;
}

}  // namespace

void Window::SetText(int id, const std::string& text) {
  WithControl(id, [&](ControlState& c) {
    c.text = text;
    c.lineBreaks = static_cast<size_t>(std::count(c.text.begin(), c.text.end(), '\n'));
    TrimToLineLimit(c);
    Reflect(id, Change::Text, {});
  });
}

void Window::EnableWindow(int id, bool enable) {
  WithControl(id, [&](ControlState& c) {
    if (c.enabled == enable) return;
    c.enabled = enable;
    Reflect(id, Change::Enabled, {});
  });
}

bool Window::IsWindowEnabled(int id) {
  bool enabled = false;
  WithControl(id, [&](ControlState& c) { enabled = c.enabled; });
  return enabled;
}

void Window::ShowWindow(int id, bool show) {
  WithControl(id, [&](ControlState& c) {
    if (c.visible == show) return;
    c.visible = show;
    Reflect(id, Change::Visible, {});
  });
}

bool Window::IsWindowVisible(int id) {
  bool visible = false;
  WithControl(id, [&](ControlState& c) { visible = c.visible; });
  return visible;
}

void Window::SetCheck(int id, int check) {
  WithControl(id, [&](ControlState& c) {
    c.check = check;
    Reflect(id, Change::Check, {});
  });
}

int Window::GetCheck(int id) {
  int check = 0;
  WithControl(id, [&](ControlState& c) { check = c.check; });
  return check;
}

void Window::ComboResetContent(int id) {
  WithControl(id, [&](ControlState& c) {
    c.items.clear();
    c.selection = -1;
    Reflect(id, Change::Items, {});
  });
}

int Window::ComboAddString(int id, const std::string& text) {
  int index = -1;
  WithControl(id, [&](ControlState& c) {
    auto at = c.items.end();
    if (c.style & kStyleSorted)
      at = std::upper_bound(c.items.begin(), c.items.end(), text, LessIgnoringCase);
    index = static_cast<int>(at - c.items.begin());
    c.items.insert(at, text);
    if (c.selection >= index) ++c.selection;
    Reflect(id, Change::Items, {});
  });
  return index;
}

void Window::ComboSetCurSel(int id, int index) {
  WithControl(id, [&](ControlState& c) {
    c.selection = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
    Reflect(id, Change::Selection, {});
  });
}

int Window::ComboGetCurSel(int id) {
  int selection = -1;
  WithControl(id, [&](ControlState& c) { selection = c.selection; });
  return selection;
}

std::string Window::ComboSelectedText(int id) {
  std::string text;
  WithControl(id, [&](ControlState& c) {
    if (c.selection >= 0 && c.selection < static_cast<int>(c.items.size()))
      text = c.items[static_cast<size_t>(c.selection)];
  });
  return text;
}

std::vector<std::string> Window::ComboItems(int id) {
  std::vector<std::string> items;
  WithControl(id, [&](ControlState& c) { items = c.items; });
  return items;
}

void Window::SetRange(int id, int low, int high) {
  WithControl(id, [&](ControlState& c) {
    c.rangeLow = low;
    c.rangeHigh = high;
    Reflect(id, Change::Range, {});
  });
}

void Window::SetPos(int id, int position) {
  WithControl(id, [&](ControlState& c) {
    c.position =
        std::clamp(position, std::min(c.rangeLow, c.rangeHigh), std::max(c.rangeLow, c.rangeHigh));
    Reflect(id, Change::Position, {});
  });
}

int Window::GetPos(int id) {
  int position = 0;
  WithControl(id, [&](ControlState& c) { position = c.position; });
  return position;
}

void Window::AppendToEdit(int id, const std::string& text) {
  WithControl(id, [&](ControlState& c) {
    c.text += text;
    c.lineBreaks += static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    TrimToLineLimit(c);
    Reflect(id, Change::Appended, text);
  });
}

void Window::SetEditLineLimit(int id, size_t lines) {
  WithControl(id, [&](ControlState& c) {
    c.lineLimit = lines;
    c.lineBreaks = static_cast<size_t>(std::count(c.text.begin(), c.text.end(), '\n'));
    TrimToLineLimit(c);
    Reflect(id, Change::LineLimit, {});
  });
}

void Window::Invalidate(int id) {
  RunOrPost([this, id] { Repaint(id); });
}

int Window::MessageBox(const std::string& text, const std::string& caption, bool owned) {
  int answer = IDCANCEL;
  Invoke([&] { answer = ShowMessageBox(text, caption, owned); });
  return answer;
}

std::optional<std::string> Window::OpenFileDialog(const FileDialogRequest& request) {
  std::optional<std::string> chosen;
  Invoke([&] { chosen = ShowFileDialog(request); });
  return chosen;
}

void Window::Invoke(std::function<void()> fn) {
  queue_.Invoke(std::move(fn));
}

void Window::Post(std::function<void()> fn) {
  queue_.Post(std::move(fn));
}

void Window::RunOrPost(std::function<void()> fn) {
  if (IsWindowThread())
    fn();
  else
    queue_.Post(std::move(fn));
}

bool Window::DispatchOnePending() {
  bool served = queue_.DispatchOne();
  ProcessBackendEvents();
  return served;
}

bool Window::WaitDispatchOne(std::chrono::milliseconds timeout) {
  bool served = queue_.WaitDispatchOne(timeout);
  ProcessBackendEvents();
  return served;
}

int Window::RunModal() {
  if (events_) events_->OnInitDialog();
  int result = ended_.load() ? result_.load() : RunModalLoop();
  if (events_) events_->OnDestroy();
  return result;
}

void Window::RunDialog(const DialogTemplate& dialog, const std::function<void(Window&)>& body) {
  auto run = [&] {
    std::unique_ptr<Window> window = CreateDialogWindow(dialog);
    body(*window);
  };
  if (DialogsOnAnyThread() || IsWindowThread())
    run();
  else
    Invoke(run);
}

void Window::EndDialog(int result) {
  result_.store(result);
  ended_.store(true);
  RunOrPost([this, result] { QuitModalLoop(result); });
  queue_.Wake();
}

void Window::AppendWindowMenu(uint32_t command, const std::string& text) {
  menu_.push_back(MenuItem{command, text});
}

void Window::MenuChosenFromOperator(uint32_t command) {
  for (const MenuItem& item : menu_)
    if (item.command == command && command != 0) {
      if (events_) events_->OnSysCommand(command);
      return;
    }
}

void Window::ClickFromOperator(int id) {
  ControlState* c = Control(id);
  if (!c || !c->enabled || !c->visible) return;
  if (c->kind == ControlKind::CheckBox) {
    c->check = c->check ? 0 : 1;
    Reflect(id, Change::Check, {});
  } else if (c->kind == ControlKind::RadioButton) {
    // The group runs from the last radio button that starts one to the next.
    const auto& list = template_.controls;
    auto self = std::find_if(list.begin(), list.end(), [&](auto& t) { return t.id == id; });
    auto first = self;
    while (first != list.begin() && !(first->style & kStyleGroup) &&
           std::prev(first)->kind == ControlKind::RadioButton)
      --first;
    for (auto it = first; it != list.end() && it->kind == ControlKind::RadioButton; ++it) {
      if (it != first && (it->style & kStyleGroup)) break;
      ControlState* other = Control(it->id);
      int check = it->id == id ? 1 : 0;
      if (other && other->check != check) {
        other->check = check;
        Reflect(it->id, Change::Check, {});
      }
    }
  }
  if (events_) events_->OnCommand(id, Notify::Clicked);
}

}  // namespace ui
