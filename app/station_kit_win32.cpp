// The station's window program on Windows: the Win32 dialog window, Toolhelp for the
// process list, Win32 threads, and the operator's settings in the registry itself.
#include <optional>

#include "console/main_window_template.h"
#include "platform/process/win32/toolhelp_process_list.h"
#include "platform/registry/split_registry.h"
#include "platform/registry/win32/win32_registry.h"
#include "platform/thread/win32/win32_thread_service.h"
#include "platform/ui/win32/win32_backend.h"
#include "station_kit.h"

namespace app {
using platform::registry::Registry;


struct StationKit::Parts {
  platform::process::ToolhelpProcessList processes;
  platform::Win32ThreadService threads;
  // The user's keys are the real registry's (the operator's settings under
  // HKEY_CURRENT_USER); the machine's come from the backend, which on a virtual line
  // keeps its own instance list.
  platform::registry::Win32Registry user;
  std::optional<platform::registry::SplitRegistry> settings;
};

StationKit::StationKit() : parts_(std::make_unique<Parts>()) {}
StationKit::~StationKit() = default;

platform::process::ProcessList& StationKit::Processes() {
  return parts_->processes;
}

platform::ThreadService& StationKit::Threads() {
  return parts_->threads;
}

bool StationKit::StartWindowSystem(int argc, char** argv, std::string* error) {
  (void)argc;  // the window system reads nothing of the command line here
  (void)argv;
  if (ui::InitWin32Ui()) return true;
  *error = "the common controls cannot be initialised";
  return false;
}

std::unique_ptr<ui::Window> StationKit::CreateMainWindow(ui::NativeMessageFilter* filter) {
  return ui::CreateWin32Window(console::MainWindowTemplate(), filter);
}

Registry& StationKit::Settings(Registry& machine) {
  if (!parts_->settings) parts_->settings.emplace(parts_->user, machine);
  return *parts_->settings;
}

}  // namespace app
