// The station's window program on Windows: the Win32 dialog window, Toolhelp for the
// process list, Win32 threads, and the operator's settings in the registry itself.
#include <optional>

#include "console/main_window_template.h"
#include "platform/process/win32/toolhelp_process_list.h"
#include "platform/registry/win32/win32_registry.h"
#include "platform/thread/win32/win32_thread_service.h"
#include "platform/ui/win32/win32_backend.h"
#include "station_kit.h"

namespace app {
namespace {

using platform::registry::Registry;
using platform::registry::Root;

// The user's keys are the real registry's (the operator's settings under
// HKEY_CURRENT_USER); the machine's come from the backend, which on a virtual line
// keeps its own instance list.
class UserKeysInRegistry final : public Registry {
 public:
  explicit UserKeysInRegistry(Registry& machine) : machine_(machine) {}

  bool KeyExists(Root root, const std::string& key) override {
    return Of(root).KeyExists(root, key);
  }
  std::optional<uint32_t> ReadDword(Root root, const std::string& key,
                                    const std::string& name) override {
    return Of(root).ReadDword(root, key, name);
  }
  std::optional<std::string> ReadString(Root root, const std::string& key, const std::string& name,
                                        size_t maxBytes) override {
    return Of(root).ReadString(root, key, name, maxBytes);
  }
  bool CreateKey(Root root, const std::string& key) override {
    return Of(root).CreateKey(root, key);
  }
  bool WriteDword(Root root, const std::string& key, const std::string& name,
                  uint32_t value) override {
    return Of(root).WriteDword(root, key, name, value);
  }
  bool WriteBinary(Root root, const std::string& key, const std::string& name,
                   const std::vector<uint8_t>& data) override {
    return Of(root).WriteBinary(root, key, name, data);
  }
  bool WriteStringBytes(Root root, const std::string& key, const std::string& name,
                        const std::vector<uint8_t>& data) override {
    return Of(root).WriteStringBytes(root, key, name, data);
  }

 private:
  Registry& Of(Root root) { return root == Root::kCurrentUser ? user_ : machine_; }

  platform::registry::Win32Registry user_;
  Registry& machine_;
};

}  // namespace

struct StationKit::Parts {
  platform::process::ToolhelpProcessList processes;
  platform::Win32ThreadService threads;
  std::optional<UserKeysInRegistry> settings;
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
  if (!parts_->settings) parts_->settings.emplace(machine);
  return *parts_->settings;
}

}  // namespace app
