// The Win32 window: the dialog procedure, the controls' subclass procedure, the state
// mirrored into the controls, and other threads' requests served on a private message.
#include "platform/ui/win32/win32_window.h"

#include <algorithm>

#include "platform/ui/win32/dialog_template_bytes.h"
#include "platform/ui/win32/file_filter.h"
#include "platform/ui/win32/png_writer.h"
#include "platform/ui/win32/wide_text.h"
#include "platform/ui/win32/win32_images.h"

#include <commdlg.h>
#include <shellapi.h>

namespace ui {

namespace {

// Posted to the dialog when another thread has queued a request.
constexpr UINT kWakeMessage = WM_APP + 0x2A;

FontSpec DialogFont(const DialogTemplate& dialog) {
  FontSpec font;
  font.face = dialog.fontFace.empty() ? "MS Shell Dlg" : dialog.fontFace;
  font.pointSize = dialog.pointSize;
  return font;
}

std::string WindowText(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

// What a dialog procedure returns for a message the filter took: a few messages return
// their result directly, the rest through the window's message result.
INT_PTR FilterResult(HWND hwnd, UINT message, intptr_t result) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return result;
    default:
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

}  // namespace

Win32Window::Win32Window(const DialogTemplate& dialog, NativeMessageFilter* filter, HWND owner)
    : Window(dialog, MeasureDialogBaseUnits(dialog)),
      filter_(filter),
      owner_(owner),
      fontSpec_(DialogFont(dialog)) {
  Queue().SetWakeHandler([this] {
    if (HWND h = hwnd_.load()) PostMessageW(h, kWakeMessage, 0, 0);
  });
}

Win32Window::~Win32Window() {
  Shutdown();
  if (HWND h = hwnd_.load()) DestroyWindow(h);
  for (auto& [color, brush] : brushes_) DeleteObject(brush);
  for (HICON icon : icons_) DestroyIcon(icon);
  for (HBITMAP bitmap : bitmaps_) DeleteObject(bitmap);
}

HWND Win32Window::Item(int id) const {
  auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

int Win32Window::IdOf(HWND control) const {
  auto it = ids_.find(control);
  return it == ids_.end() ? kNoControlId : it->second;
}

int Win32Window::RunModalLoop() {
  std::vector<uint8_t> bytes = native::BuildDialogTemplate(Template(), owner_ == nullptr);
  INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                           owner_, DialogProc, reinterpret_cast<LPARAM>(this));
  return static_cast<int>(result);
}

void Win32Window::QuitModalLoop(int result) {
  if (HWND h = hwnd_.load()) ::EndDialog(h, result);
}

std::unique_ptr<Window> Win32Window::CreateDialogWindow(const DialogTemplate& dialog) {
  return std::make_unique<Win32Window>(dialog, nullptr, hwnd_.load());
}

void Win32Window::DrainRequests() {
  while (Queue().DispatchOne()) {
  }
}

void Win32Window::ProcessBackendEvents() {
  // A long loop on the window's thread keeps the windows alive, without the dialog keys.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Win32Window* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Win32Window*>(lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_.store(hwnd);
    if (self->filter_) self->filter_->OnWindowCreated(hwnd);
  } else {
    self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (!self) return FALSE;
  if (self->filter_) {
    intptr_t result = 0;
    NativeMessage m{hwnd, message, static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam)};
    const bool taken = self->filter_->OnMessage(m, &result);
    if (message == WM_DESTROY) self->filter_->OnWindowDestroying(hwnd);
    // The window's own set-up and clean-up run whatever the filter answers.
    if (taken && message != WM_INITDIALOG && message != WM_DESTROY)
      return FilterResult(hwnd, message, result);
  }
  return self->HandleMessage(message, wParam, lParam);
}

INT_PTR Win32Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND hwnd = hwnd_.load();
  switch (message) {
    case WM_INITDIALOG:
      InitControls();
      // Requests that came before the window existed, and an end asked for meanwhile.
      DrainRequests();
      if (Ended()) ::EndDialog(hwnd, Result());
      return TRUE;
    case kWakeMessage:
      DrainRequests();
      return TRUE;
    case WM_COMMAND:
      return HandleCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
      // The close box and the window menu's Close; Escape arrives as IDCANCEL.
      CancelFromOperator();
      return TRUE;
    case WM_SYSCOMMAND: {
      const uint32_t command = static_cast<uint32_t>(wParam & 0xFFF0);
      for (const MenuItem& item : WindowMenu())
        if (item.command != 0 && item.command == command) {
          MenuChosenFromOperator(command);
          return TRUE;
        }
      return FALSE;
    }
    case WM_DROPFILES:
      DropFiles(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return ColorControl(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY:
      DetachControls();
      hwnd_.store(nullptr);
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32Window::InitControls() {
  const HWND hwnd = hwnd_.load();
  // The children come in template order.
  HWND child = GetWindow(hwnd, GW_CHILD);
  for (const ControlTemplate& t : Template().controls) {
    if (!child) break;
    if (!items_.count(t.id)) items_[t.id] = child;
    ids_[child] = t.id;
    originals_[child] = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProc)));
    SetPropW(child, kControlProperty, this);
    if (t.image && t.kind == ControlKind::IconStatic) {
      if (HICON icon = CreateIconFromBitmap(*t.image)) {
        icons_.push_back(icon);
        SendMessageW(child, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
      }
    } else if (t.image && t.kind == ControlKind::BitmapStatic) {
      if (HBITMAP bitmap = CreateOpaqueBitmap(*t.image, kButtonFaceColor)) {
        bitmaps_.push_back(bitmap);
        SendMessageW(child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
      }
    }
    if (ControlState* state = Control(t.id)) ShowState(child, *state);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  const DialogTemplate& d = Template();
  if (d.icon) {
    if (HICON icon = CreateIconFromBitmap(*d.icon)) {
      icons_.push_back(icon);
      SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
      SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
  }
  if (HMENU menu = d.systemMenu ? GetSystemMenu(hwnd, FALSE) : nullptr) {
    for (const MenuItem& item : WindowMenu()) {
      if (item.command == 0)
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      else
        AppendMenuW(menu, MF_STRING, item.command, Wide(item.text).c_str());
    }
  }
  if (d.acceptFiles) DragAcceptFiles(hwnd, TRUE);
}

void Win32Window::DetachControls() {
  for (auto& [control, original] : originals_) {
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    RemovePropW(control, kControlProperty);
  }
  originals_.clear();
  items_.clear();
  ids_.clear();
}

bool Win32Window::HandleCommand(int id, int code, HWND control) {
  if (!control) {
    // The dialog keys: Escape is IDCANCEL; Enter without a button to press is nothing.
    if (id == IDCANCEL) EscapeFromOperator();
    return id == IDCANCEL || id == IDOK;
  }
  ControlState* c = Control(id);
  if (!c || reflecting_) return c != nullptr;
  // The dialog manager presses IDOK for Enter whether or not the button is enabled: a
  // disabled or hidden control never acts.
  if (code == BN_CLICKED && (!c->enabled || !c->visible)) return true;
  WindowEvents* events = Events();
  switch (c->kind) {
    case ControlKind::PushButton:
      if (code == BN_CLICKED && events) events->OnCommand(id, Notify::Clicked);
      return true;
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
      if (code != BN_CLICKED) return true;
      // The auto buttons have changed themselves (and their radio group) already.
      for (const ControlTemplate& t : Template().controls) {
        ControlState* other = Control(t.id);
        HWND button = Item(t.id);
        if (other && button && (t.kind == ControlKind::CheckBox || t.kind == ControlKind::RadioButton))
          other->check = SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
      }
      if (events) events->OnCommand(id, Notify::Clicked);
      return true;
    case ControlKind::Edit:
      if (code == EN_CHANGE) {
        c->text = WindowText(control);
        c->lineBreaks = static_cast<size_t>(std::count(c->text.begin(), c->text.end(), '\n'));
      } else if (code == EN_KILLFOCUS && events) {
        events->OnCommand(id, Notify::KillFocus);
      }
      return true;
    case ControlKind::ComboBox:
      if (code == CBN_SELCHANGE) {
        c->selection = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
        if (events) events->OnCommand(id, Notify::SelChange);
      }
      return true;
    case ControlKind::IconStatic:
    case ControlKind::BitmapStatic:
    case ControlKind::TextStatic:
      if (code == STN_CLICKED && (c->style & kStyleNotify) && events)
        events->OnCommand(id, Notify::Clicked);
      return true;
    default:
      return true;
  }
}

void Win32Window::CancelFromOperator() {
  if (Events())
    Events()->OnCancel();
  else
    EndDialog(IDCANCEL);
}

void Win32Window::EscapeFromOperator() {
  if (Events())
    Events()->OnEscape();
  else
    EndDialog(IDCANCEL);
}

void Win32Window::DropFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
    paths.push_back(Narrow(path));
  }
  DragFinish(drop);
  // Handled once the drop has finished: the owner may run dialogs for the files.
  Post([this, paths] {
    if (Events()) Events()->OnDropFiles(paths);
  });
}

int Win32Window::ShowMessageBox(const std::string& text, const std::string& caption, bool owned) {
  const std::string& title = caption.empty() ? Template().title : caption;
  return MessageBoxW(owned ? hwnd_.load() : nullptr, Wide(text).c_str(), Wide(title).c_str(),
                     MB_OK | (owned ? 0 : MB_SETFOREGROUND));
}

std::optional<std::string> Win32Window::ShowFileDialog(const FileDialogRequest& request) {
  const std::u16string filter = native::ToDoubleNulFilter(request.filter);
  const std::wstring wideFilter(filter.begin(), filter.end());
  const std::wstring folder = Wide(request.startFolder);
  std::wstring extension = Wide(request.defaultExtension);
  if (!extension.empty() && extension.front() == L'.') extension.erase(0, 1);
  std::wstring file(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_.load();
  ofn.lpstrFilter = wideFilter.empty() ? nullptr : wideFilter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER |
              (request.fileMustExist ? OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST : 0);
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  file.resize(file.find(L'\0'));
  return Narrow(file);
}

bool Win32Window::Capture(Bitmap& out) {
  return CaptureClientArea(hwnd_.load(), out);
}

bool Win32Window::SaveImage(const std::string& pngPath) {
  Bitmap picture;
  return Capture(picture) && native::WritePng(pngPath, picture);
}

}  // namespace ui
