// The confirmation dialog on Qt, offscreen: pictures of it while hashing and with each
// verdict, saved as <build>/test-output/confirm_md5_*.png; and a real confirmation
// started off the GUI thread, as the automatic start does it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "console/main_window_template.h"
#include "console/md5_dlg.h"
#include "console/ostrevane_dlg.h"
#include "image/image_digest.h"
#include "platform/ui/qt/qt_backend.h"

namespace {

using namespace console;
namespace fs = std::filesystem;

uint32_t PixelAt(const ui::Bitmap& b, int x, int y) {
  return b.argb.at(static_cast<size_t>(y) * b.width + x) & 0xFFFFFF;
}

fs::path OutputDir() {
  const auto dir = fs::current_path() / "test-output";
  fs::create_directories(dir);
  return dir;
}

// A product OS image of the K220 family with a body of `bodyBytes` and a right digest.
std::string WriteImage(const std::string& name, size_t bodyBytes) {
  std::vector<uint8_t> bytes(image::SMD_HEADER_SIZE + bodyBytes);
  std::memcpy(bytes.data(), "KX4_EMMC_MainOS", 15);
  std::memcpy(bytes.data() + image::HDR_MODEL, "QMR-K220_SIGN", 13);
  for (size_t i = image::SMD_HEADER_SIZE; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 7);
  const image::Md5Digest digest = image::ImageDigestOf(bytes.data(), bytes.size());
  std::memcpy(bytes.data() + image::HDR_MD5, digest.data(), digest.size());
  const std::string path = (OutputDir() / name).string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

class ConfirmDialogOnQt : public ::testing::Test {
 protected:
  static inline char name_[] = "console_qt_tests";
  static inline char* argv_[] = {name_, nullptr};
  ui::QtApplication app{1, argv_};
  platform::ScaledClock clock{50};
  COstrevaneDlg owner{ui::CreateQtWindow(MainWindowTemplate())};
};

TEST_F(ConfirmDialogOnQt, ShowsTheHashAndEachVerdict) {
  owner.OnInitDialog();
  owner.GetWindow().RunDialog(Md5DialogTemplate(), [&](ui::Window& w) {
    CMD5Dlg confirm(clock);
    confirm.Attach(w);
    EXPECT_EQ(w.Template().title, "Confirm MD5 Value");
    const ui::Rect bar = w.ControlRect(IDC_MD5_PROGRESS);
    auto shoot = [&](const char* file) {
      EXPECT_TRUE(w.SaveImage((OutputDir() / file).string()));
      ui::Bitmap shot;
      EXPECT_TRUE(w.Capture(shot));
      return shot;
    };

    confirm.m_progress.ShowProgress(50, PROGRESS_KIND_CONFIRM, "MD5");
    w.SetPos(IDC_MD5_PROGRESS, 50);
    w.EnableWindow(IDC_MD5_CLOSE, false);
    EXPECT_EQ(confirm.m_progress.Text(), "MD5 Confirm in SMD Binary... 50%");
    ui::Bitmap shot = shoot("confirm_md5_hashing.png");
    EXPECT_EQ(PixelAt(shot, bar.left + 4, bar.top + 3), 0x66CCFFu);   // hashed part
    EXPECT_EQ(PixelAt(shot, bar.right - 4, bar.top + 3), 0xFFFFFFu);  // still to hash

    const struct {
      const char* file;
      uint32_t rgb;
      const char* text;
    } verdicts[] = {
        {"confirm_md5_equal.png", 0x00FF00, " MD5 Result Equal Binayr header Information."},
        {"confirm_md5_not_equal.png", 0xFF0000, " MD5 Result not Equal Binayr header Information."},
        {"confirm_md5_cannot_open.png", 0xFF0000, " Cannot Open Image File Please Try again!"},
    };
    for (const auto& v : verdicts) {
      confirm.m_progress.m_barRed = static_cast<int32_t>(v.rgb >> 16);
      confirm.m_progress.m_barGreen = static_cast<int32_t>((v.rgb >> 8) & 0xFF);
      confirm.m_progress.m_barBlue = static_cast<int32_t>(v.rgb & 0xFF);
      confirm.m_progress.SetTextAndPos(v.text, 100);
      w.EnableWindow(IDC_MD5_CLOSE, v.rgb == 0xFF0000);
      shot = shoot(v.file);
      EXPECT_EQ(PixelAt(shot, bar.right - 4, bar.top + 3), v.rgb) << v.file;
    }
  });
}

TEST_F(ConfirmDialogOnQt, AConfirmationStartedOffTheGuiThreadRunsThereAndCloses) {
  owner.OnInitDialog();
  const std::string path = WriteImage("confirm_qt.kx4", 300000);
  std::atomic<bool> done{false};
  int abort = -1;
  int last = -1;
  bool ranOnGuiThread = false;
  std::thread opener([&] {
    owner.GetWindow().RunDialog(Md5DialogTemplate(), [&](ui::Window& w) {
      ranOnGuiThread = owner.GetWindow().IsWindowThread();
      CMD5Dlg confirm(clock);
      confirm.SetImage(path, image::ImageKind::Os);
      confirm.m_pOwner = &owner;
      confirm.DoModal(w);
      abort = confirm.m_bAbort;
      last = confirm.LastPercent();
    });
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done && std::chrono::steady_clock::now() < deadline)
    owner.GetWindow().WaitDispatchOne(std::chrono::milliseconds(5));
  opener.join();
  EXPECT_TRUE(ranOnGuiThread);
  EXPECT_EQ(abort, 0);
  EXPECT_EQ(last, 100);
  std::lock_guard lock(owner.ImageMutex);
  EXPECT_EQ(owner.Image.CurrentModelFamily, image::ModelFamily::FamilyK220);
}

}  // namespace
