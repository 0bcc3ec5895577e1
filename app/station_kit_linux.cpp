// The station's window program on Linux: Qt for the window, /proc for the process list,
// POSIX threads, and the operator's settings in the user's settings file.
#include <optional>

#include "console/main_window_template.h"
#include "platform/process/linux/proc_process_list.h"
#include "platform/registry/posix/file_registry.h"
#include "platform/thread/posix/posix_thread_service.h"
#include "platform/ui/qt/qt_backend.h"
#include "station_kit.h"

namespace app {

struct StationKit::Parts {
  platform::process::ProcProcessList processes;
  platform::PosixThreadService threads;
  std::optional<ui::QtApplication> qt;
  std::optional<platform::registry::FileRegistry> settings;
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
  (void)error;  // Qt ends the process itself when it finds no display
  parts_->qt.emplace(argc, argv);
  return true;
}

std::unique_ptr<ui::Window> StationKit::CreateMainWindow(ui::NativeMessageFilter* filter) {
  (void)filter;  // arrivals come from libusb here, not from the window
  return ui::CreateQtWindow(console::MainWindowTemplate());
}

platform::registry::Registry& StationKit::Settings(platform::registry::Registry& machine) {
  if (!parts_->settings)
    parts_->settings.emplace(platform::registry::FileRegistry::DefaultPath(), &machine);
  return *parts_->settings;
}

}  // namespace app
