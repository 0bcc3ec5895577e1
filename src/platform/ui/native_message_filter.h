// A listener on a native window's own messages, for platform services that need the
// station's main window (device-change broadcasts on Windows). No platform type appears.
#pragma once

#include <cstdint>

namespace ui {

struct NativeMessage {
  void* window = nullptr;  // the platform's window handle (an HWND on Windows)
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class NativeMessageFilter {
 public:
  virtual ~NativeMessageFilter() = default;
  // On the window's thread: the native window exists. Its owner's initialisation may
  // already have run (on Windows it runs before the dialog is made), so a service keeps
  // what was asked of it before this call and does it now.
  virtual void OnWindowCreated(void* window) = 0;
  // On the window's thread: the window is going; it still exists.
  virtual void OnWindowDestroying(void* window) = 0;
  // On the window's thread, before the window handles `message` itself. True when the
  // filter took it; `*result` is then what the window procedure returns.
  virtual bool OnMessage(const NativeMessage& message, intptr_t* result) = 0;
};

}  // namespace ui
