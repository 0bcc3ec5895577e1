// The Qt 6 Widgets backend as the rest of the station sees it: the application object
// and windows built from templates. No Qt type appears here.
#pragma once

#include <memory>

#include "platform/ui/dialog_template.h"
#include "platform/ui/window.h"

namespace ui {

// One per process, on the thread that will run the windows (the GUI thread).
class QtApplication {
 public:
  QtApplication(int argc, char** argv);
  ~QtApplication();
  QtApplication(const QtApplication&) = delete;
  QtApplication& operator=(const QtApplication&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Builds the window's widgets from the template; call on the GUI thread.
std::unique_ptr<Window> CreateQtWindow(const DialogTemplate& dialog);

}  // namespace ui
