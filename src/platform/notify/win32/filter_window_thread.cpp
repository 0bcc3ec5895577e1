// A message-only window: no desktop presence, yet a window handle that device-interface
// registrations can name. Its thread does nothing but pump the window's messages.
#include "platform/notify/win32/filter_window_thread.h"

#include <future>
#include <system_error>

#include <windows.h>

namespace platform::notify {
namespace {

constexpr wchar_t kClassName[] = L"OstrevaneNotificationWindow";
// Sent by the owner's thread: the window destroys itself on its own thread.
constexpr UINT kStopMessage = WM_APP + 0x51;

ui::NativeMessageFilter* FilterOf(HWND hwnd) {
  return reinterpret_cast<ui::NativeMessageFilter*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  ui::NativeMessageFilter* filter = FilterOf(hwnd);
  if (filter && message == kStopMessage) {
    ::DestroyWindow(hwnd);
    return 0;
  }
  if (filter && message == WM_DESTROY) {
    filter->OnWindowDestroying(hwnd);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    ::PostQuitMessage(0);
    return 0;
  }
  intptr_t result = 0;
  if (filter && filter->OnMessage({hwnd, message, wParam, lParam}, &result)) return result;
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

FilterWindowThread::FilterWindowThread(ui::NativeMessageFilter& filter) {
  // The promise lives with the thread: it may still be setting it when this returns.
  std::promise<void> ready;
  std::future<void> made = ready.get_future();
  try {
    thread_ = std::thread([this, &filter, ready = std::move(ready)]() mutable {
      Run(filter);  // sets window_ or error_ before it says it is ready
      ready.set_value();
      if (!window_) return;
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    });
  } catch (const std::system_error& e) {
    error_ = std::string("no thread for the notification window: ") + e.what();
    return;
  }
  made.wait();
}

void FilterWindowThread::Run(ui::NativeMessageFilter& filter) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  if (!::RegisterClassExW(&wc)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_CLASS_ALREADY_EXISTS) {
      error_ = "the notification window's class could not be registered (Windows error " +
               std::to_string(error) + ")";
      return;
    }
  }
  const HWND hwnd = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      instance, &filter);
  if (!hwnd) {
    const DWORD error = ::GetLastError();
    error_ = "the notification window could not be created (Windows error " +
             std::to_string(error) + ")";
    return;
  }
  filter.OnWindowCreated(hwnd);
  window_ = hwnd;
}

FilterWindowThread::~FilterWindowThread() {
  // Sent, not posted: it cannot be lost to a full queue, and the thread is pumping.
  if (window_) ::SendMessageW(static_cast<HWND>(window_), kStopMessage, 0, 0);
  if (thread_.joinable()) thread_.join();
}

}  // namespace platform::notify
