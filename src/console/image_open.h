// How the operator gets images into the station: the browse icons with their file
// dialogs, files dropped on the window and the automatic start. Every open is
// confirmed by CMD5Dlg before its header is accepted.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/md5_dlg.h"
#include "console/ostrevane_dlg.h"
#include "image/smd_format.h"
#include "platform/registry/registry.h"
#include "platform/time/clock.h"

namespace console {

// File dialog filters, in the "description|pattern|" form.
inline constexpr const char* FILTER_OS = "KX4 OS SMD Image (*.kx4)|*.kx4|";
inline constexpr const char* FILTER_CSC = "KX4 CSC (SMD) Image (*.csc)|*.csc|";
// Refusals of an open that would disturb another one or a run.
inline constexpr const char* TEXT_OPEN_DURING_RUN =
    "A download is in progress: open the image once it has finished.";
inline constexpr const char* TEXT_OPEN_DURING_OPEN =
    "Another image is being opened: try again once it has finished.";

class ImageOpener {
 public:
  ImageOpener(COstrevaneDlg& dlg, platform::registry::Registry& registry, platform::Clock& clock);
  ImageOpener(const ImageOpener&) = delete;
  ImageOpener& operator=(const ImageOpener&) = delete;

  // True when the image of `kind` ends up loaded. With browse false it opens the path
  // already held for the kind. Any thread that may run a modal dialog.
  bool OpenImage(image::ImageKind kind, bool browse);
  // OpenImage, then the information boxes and the option controls follow the images.
  void OpenImageAndShow(image::ImageKind kind, bool browse);
  // Files dropped on the window, in drop order (window's thread).
  void OnDropFiles(const std::vector<std::string>& paths);
  // Both command-line images, without file dialogs (auto-start thread).
  void AutoLoadImages();
  // The path becomes the kind's path, then OpenImageAndShow without a file dialog; true
  // when the image ends up loaded (front ends without a window, benchmarks).
  bool OpenImageAt(image::ImageKind kind, const std::string& path);

  // Any thread: a confirmation under way stops as its Escape would stop it, and none
  // starts after this while the window closes.
  void StopConfirmation();

  // Whether an open is under way (a run must not start meanwhile).
  bool OpenInProgress() const { return m_opening.load(); }

  // Called with every confirmation dialog once it has closed, before it goes.
  std::function<void(const CMD5Dlg&)> onConfirmClosed;

 private:
  enum class Outcome { kLoaded, kNotLoaded, kRefused };
  Outcome Open(image::ImageKind kind, bool browse);
  // The pairing check on copies of what it reads, so that its box shows unlocked.
  bool PairingHolds();
  // True when confirmed; `confirmed` then holds what the confirmation saw of the file.
  bool Confirm(image::ImageKind kind, const std::string& path,
               std::optional<image::ConfirmedFile>* confirmed);
  // False, after a box naming each problem, when the image could harm a handset.
  bool LayoutHolds(const std::string& path);
  void Accept(image::ImageKind kind, const std::string& path,
              const std::optional<image::ConfirmedFile>& confirmed);
  void Remember(image::ImageKind kind, const std::string& path);
  void ShowImageInformation();

  COstrevaneDlg& m_dlg;
  platform::registry::Registry& m_registry;
  platform::Clock& m_clock;
  std::atomic<bool> m_opening{false};
  // The confirmation dialog on screen, for a close request to stop.
  std::mutex m_confirmMutex;
  ui::Window* m_confirmWindow = nullptr;
};

}  // namespace console
