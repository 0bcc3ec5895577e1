// A station whose opens are watched: every confirmation dialog is recorded as it
// closes, and a script plays the operator of the dialog (Escape at a percentage, "Close
// Dialog" once it is enabled).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/md5_dlg.h"
#include "console/remembered_paths.h"
#include "station_fixture.h"
#include "support/test_env.h"

namespace opentest {

struct ConfirmRecord {
  std::string text;
  ui::Color bar;
  int abort = -1;
  int lastPercent = -1;
  bool fileOpen = true;
  bool waitedForClose = false;
};

class ImageOpenTest : public stationtest::StationTest {
 protected:
  // With `plugFirst` a handset is attached and listed by the driver before the window
  // starts, as on a line PC at an automatic start.
  explicit ImageOpenTest(std::optional<console::AutoStart> autoStart = std::nullopt,
                         bool plugFirst = false)
      : StationTest(std::move(autoStart), /*init=*/false) {
    {
      // Process-wide buffers: every test starts from the process's start.
      std::lock_guard lock(console::RememberedPathMutex);
      console::RememberedOsPath.fill(0);
      console::RememberedCscPath.fill(0);
    }
    station->opener().onConfirmClosed = [this](const console::CMD5Dlg& d) {
      confirms.push_back({d.m_progress.Text(), d.m_progress.BarColor(), d.m_bAbort, d.LastPercent(),
                          d.FileOpen(), closeClicked});
      closeClicked = false;
    };
    window->SetDialogScript([this](ui::HeadlessWindow& d) {
      const int pos = d.GetPos(console::IDC_MD5_PROGRESS);
      if (escapeAt >= 0 && pos >= escapeAt) {
        escapedAt = pos;
        escapeAt = -1;
        d.PressEscape();
        return;
      }
      if (d.IsWindowEnabled(console::IDC_MD5_CLOSE)) {
        closeClicked = true;
        d.Click(console::IDC_MD5_CLOSE);
      }
    });
    if (plugFirst) {
      using platform::registry::Root;
      auto h = std::make_shared<handset::VirtualHandset>(Config(0), clock);
      handsets.push_back(h);
      bus.Plug(h);
      const char* key = platform::registry::WINUSB_ENUM_KEY;
      registry.CreateKey(Root::kLocalMachine, key);
      registry.WriteDword(Root::kLocalMachine, key, "Count", 1);
      registry.SetString(Root::kLocalMachine, key, "0", h->InstanceId());
    }
    dlg().OnInitDialog();
  }

  bool Open(image::ImageKind kind, const std::string& path) {
    return station->opener().OpenImageAt(kind, path);
  }
  bool Loaded(image::ImageKind kind) {
    std::lock_guard lock(dlg().ImageMutex);
    return (kind == image::ImageKind::Os ? dlg().Image.OsImageLoaded
                                         : dlg().Image.CscImageLoaded) == 1;
  }
  std::string Path(image::ImageKind kind) {
    std::lock_guard lock(dlg().ImageMutex);
    return kind == image::ImageKind::Os ? dlg().Image.OsImagePath : dlg().Image.CscImagePath;
  }
  std::string Log() { return window->GetText(console::IDC_LOG); }
  size_t Count(const std::string& text) {
    const std::string log = Log();
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const auto& b : window->MessageBoxes()) texts.push_back(b.text);
    return texts;
  }

  // A copy of `from` at `to` with the byte at `offset` changed.
  static std::string CopyWithByte(const std::string& from, const std::string& to, size_t offset) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::fstream f(to, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    const char c = static_cast<char>(f.get());
    f.seekp(static_cast<std::streamoff>(offset));
    f.put(static_cast<char>(c ^ 0x5A));
    return to;
  }

  std::vector<ConfirmRecord> confirms;
  int escapeAt = -1;
  int escapedAt = -1;
  bool closeClicked = false;
};

// The images most tests share, built once.
struct OpenImages {
  std::string os = testsupport::BuildOsImage({}, "open_os.kx4");
  std::string os2 = testsupport::BuildOsImage({.seed = 2}, "open_os2.kx4");
  std::string factoryOs =
      testsupport::BuildOsImage({.magic = "FAC_EMMC_MainOS"}, "open_factory.kx4");
  std::string csc = testsupport::BuildCscImage({}, "open.csc");
  std::string factoryCsc =
      testsupport::BuildCscImage({.magic = "FAC_EMMC_CSC"}, "open_factory.csc");
};
inline const OpenImages& Images() {
  static const OpenImages images;
  return images;
}

}  // namespace opentest
