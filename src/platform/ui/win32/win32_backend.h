// The Win32 window backend as the rest of the station sees it: dialogs built from
// in-memory templates and run modally. No Windows type appears here.
#pragma once

#include <memory>

#include "platform/ui/dialog_template.h"
#include "platform/ui/native_message_filter.h"
#include "platform/ui/window.h"

namespace ui {

// Once per process, before the first window: the common controls and the process's DPI
// awareness. False when the common controls could not be initialised.
[[nodiscard]] bool InitWin32Ui();

// Builds the window from the template; it is created and run by RunModal on the calling
// thread. `filter`, when given, sees the window's messages first and must outlive it.
// The owner's OnInitDialog runs before the native window exists (what it sets is shown
// as the controls are made), so the filter's OnWindowCreated, at WM_INITDIALOG, comes
// after it. RunModal returns -1 when the dialog cannot be created.
std::unique_ptr<Window> CreateWin32Window(const DialogTemplate& dialog,
                                          NativeMessageFilter* filter = nullptr);

}  // namespace ui
