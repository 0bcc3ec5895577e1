// The few services the station's window program takes from the platform it runs on:
// the window system, the process list, threads and where the operator's settings live.
#pragma once

#include <memory>
#include <string>

#include "platform/process/process_list.h"
#include "platform/registry/registry.h"
#include "platform/thread/thread_service.h"
#include "platform/ui/native_message_filter.h"
#include "platform/ui/window.h"

namespace app {

// One per process, made on the thread that will run the window. Defined once per
// platform (station_kit_linux.cpp, station_kit_win32.cpp).
class StationKit {
 public:
  StationKit();
  ~StationKit();
  StationKit(const StationKit&) = delete;
  StationKit& operator=(const StationKit&) = delete;

  platform::process::ProcessList& Processes();
  platform::ThreadService& Threads();

  // Readies the window system before the first window; false with `error` set when there
  // can be no window.
  [[nodiscard]] bool StartWindowSystem(int argc, char** argv, std::string* error);

  // The main window; `filter`, when given, sees its native messages and outlives it.
  std::unique_ptr<ui::Window> CreateMainWindow(ui::NativeMessageFilter* filter);

  // The operator's settings, kept from one start to the next; the machine's keys are
  // read from `machine`, which outlives the kit. Made once.
  platform::registry::Registry& Settings(platform::registry::Registry& machine);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace app
