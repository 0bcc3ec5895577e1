// The browse icon's and the drop's hooks are wrapped: both open images synchronously on
// the window's thread, so the image state after them says whether an OS image was accepted.
#include "demo/window_line.h"

#include <mutex>
#include <system_error>

namespace demo {

const char* const kWindowLineHelp =
    "Virtual handsets are plugged one by one once the first OS image is accepted (with\n"
    "AUTO_DLOAD: before the start, suited to its OS image). Unless a --handset-config\n"
    "field says otherwise, each answers that image's model and security (\"SEC_MODE\" for a\n"
    "secure image, \"NON_SECURE\" otherwise) and holds its partition table; images opened\n"
    "later change none of them.\n";

namespace {
constexpr uint32_t kCableGapMs = 200;  // between two handsets plugged after an image
}  // namespace

WindowLine::WindowLine(backends::VirtualLine& line, LineSpec spec, platform::Clock& clock)
    : line_(line), spec_(std::move(spec)), clock_(clock) {}

WindowLine::~WindowLine() {
  Stop();
}

std::vector<handset::HandsetConfig> WindowLine::ConfigsFor(const std::string& osPath,
                                                           console::COstrevaneDlg* dlg) {
  std::string error;
  const std::optional<ImageFile> os = ReadImageFile(osPath, &error);
  auto configs = LineConfigs(spec_, os ? &*os : nullptr, &error);
  if (configs) return *configs;
  if (dlg) dlg->AppendLogText("Virtual handsets: " + error + "\r\n");
  return {};
}

void WindowLine::PlugNow(const std::string& osPath) {
  const auto configs = ConfigsFor(osPath, nullptr);
  line_.PlanSeats(configs, spec_.plan);
  for (size_t seat = 0; seat < configs.size(); ++seat) line_.PlugSeat(static_cast<int>(seat));
}

void WindowLine::PlugAfterFirstImage(console::COstrevaneDlg& dlg) {
  auto& hooks = dlg.hooks;
  auto initDone = hooks.initDone;
  hooks.initDone = [&dlg, initDone] {
    if (initDone) initDone();
    dlg.AppendLogText("Virtual handsets arrive once an OS image is opened.\r\n");
  };
  auto osIcon = hooks.osIconClicked;
  hooks.osIconClicked = [this, &dlg, osIcon] {
    if (osIcon) osIcon();
    OnImageMaybeAccepted(dlg);
  };
  auto drop = hooks.dropFiles;
  hooks.dropFiles = [this, &dlg, drop](const std::vector<std::string>& paths) {
    if (drop) drop(paths);
    OnImageMaybeAccepted(dlg);
  };
}

void WindowLine::OnImageMaybeAccepted(console::COstrevaneDlg& dlg) {
  if (plugging_) return;
  std::string osPath;
  {
    std::lock_guard lock(dlg.ImageMutex);
    if (dlg.Image.OsImageLoaded != 1) return;
    osPath = dlg.Image.OsImagePath;
  }
  plugging_ = true;
  try {
    plugger_ = std::thread([this, &dlg, osPath] {
      const auto configs = ConfigsFor(osPath, &dlg);
      line_.PlanSeats(configs, spec_.plan);
      for (size_t seat = 0; seat < configs.size(); ++seat) {
        clock_.Sleep(kCableGapMs);
        if (stop_) return;
        line_.PlugSeat(static_cast<int>(seat));
      }
    });
  } catch (const std::system_error&) {
    dlg.AppendLogText("Virtual handsets: no thread could be started to plug them\r\n");
  }
}

void WindowLine::Stop() {
  stop_ = true;
  if (plugger_.joinable()) plugger_.join();
}

}  // namespace demo
