// The confirmation dialog through real opens: each row of its failure table with what
// the bar shows, m_bAbort and whether it waited for "Close Dialog"; Escape in the
// middle of the hash; the empty path and files too short to hash.
#include <filesystem>
#include <fstream>
#include <future>
#include <utility>

#include "image_open_fixture.h"

namespace {

using image::ImageKind;
using opentest::ImageOpenTest;
using opentest::Images;

constexpr const char* kEqual = " MD5 Result Equal Binayr header Information.";
constexpr const char* kNotEqual = " MD5 Result not Equal Binayr header Information.";
constexpr const char* kNotImage = "This File is not a Halcyrafone SMD Image File!!\r\n";

// How many of this process's open files are `path`.
int OpenDescriptorsOn(const std::string& path) {
  int n = 0;
  const auto target = std::filesystem::canonical(path);
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto link = std::filesystem::read_symlink(fd.path(), error);
    if (!error && link == target) ++n;
  }
  return n;
}

using ConfirmDialog = ImageOpenTest;

TEST_F(ConfirmDialog, AConfirmedImageShowsGreenAndClosesByItself) {
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].text, kEqual);
  EXPECT_EQ(confirms[0].bar, ui::Rgb(0, 255, 0));
  EXPECT_EQ(confirms[0].abort, 0);
  EXPECT_EQ(confirms[0].lastPercent, 100);
  EXPECT_FALSE(confirms[0].waitedForClose);
  EXPECT_FALSE(confirms[0].fileOpen);
  EXPECT_EQ(window->DialogsShown(), std::vector<std::string>{"Confirm MD5 Value"});
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConfirmDialog, RefusalsThatWaitForCloseDialog) {
  // A file that cannot be opened, a changed byte outside the digest field, and a file
  // that ends inside its header (nothing to hash is never a match).
  const std::string dir = testsupport::ScratchDir("confirm_wait");
  const std::string changed = CopyWithByte(Images().os, dir + "/changed.kx4", 5000);
  const std::string shorty = dir + "/short.kx4";
  std::filesystem::copy_file(Images().os, shorty);
  std::filesystem::resize_file(shorty, 96);

  EXPECT_FALSE(Open(ImageKind::Os, dir + "/missing.kx4"));
  EXPECT_FALSE(Open(ImageKind::Os, changed));
  EXPECT_FALSE(Open(ImageKind::Os, shorty));
  ASSERT_EQ(confirms.size(), 3u);
  EXPECT_EQ(confirms[0].text, " Cannot Open Image File Please Try again!");
  EXPECT_EQ(confirms[1].text, kNotEqual);
  EXPECT_EQ(confirms[1].lastPercent, 100);
  EXPECT_EQ(confirms[2].text, kNotEqual);
  for (const auto& c : confirms) {
    EXPECT_EQ(c.bar, ui::Rgb(255, 0, 0));
    EXPECT_EQ(c.abort, 1);
    EXPECT_TRUE(c.waitedForClose);
  }
  EXPECT_EQ(Count(kNotImage), 3u);
  EXPECT_EQ(Path(ImageKind::Os), "");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ConfirmDialog, TheDigestFieldItselfIsHashedAsZeros) {
  const std::string dir = testsupport::ScratchDir("confirm_field");
  // Changing the stored digest refuses; the rest of the file is as it was.
  EXPECT_FALSE(Open(ImageKind::Os, CopyWithByte(Images().os, dir + "/digest.kx4", 0x55)));
  EXPECT_EQ(confirms.at(0).text, kNotEqual);
}

TEST_F(ConfirmDialog, RefusalsThatCloseByThemselves) {
  const std::string unknown = testsupport::BuildOsImage({.model = "QMR-K999"}, "unknown.kx4");
  const std::string otherFamily = testsupport::BuildCscImage({.model = "QB-K5310"}, "k5310.csc");

  // A CSC image before any OS image, even with a right digest.
  EXPECT_FALSE(Open(ImageKind::Csc, Images().csc));
  // An unknown OS model is refused before its magic is looked at.
  EXPECT_FALSE(Open(ImageKind::Os, unknown));
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  EXPECT_FALSE(Open(ImageKind::Csc, otherFamily));
  // A CSC image given as the OS image passes the model check, fails the magic check.
  EXPECT_FALSE(Open(ImageKind::Os, Images().csc));

  ASSERT_EQ(confirms.size(), 5u);
  for (size_t i : {0u, 1u, 3u, 4u}) {
    EXPECT_EQ(confirms[i].abort, 1) << i;
    EXPECT_FALSE(confirms[i].waitedForClose) << i;
    EXPECT_EQ(confirms[i].text, "") << i;  // no verdict drawn
    EXPECT_FALSE(confirms[i].fileOpen) << i;
  }
  const auto boxes = window->MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Please Open KX4 Unified SMD binary first!!");
  EXPECT_EQ(boxes[0].caption, " Error!!!");
  EXPECT_FALSE(boxes[0].owned);
  EXPECT_EQ(boxes[1].text, "This is an unknown binary");
  EXPECT_TRUE(boxes[1].owned);
  EXPECT_EQ(boxes[2].text, "This CSC binary does NOT match KX4 OS binary");
  EXPECT_EQ(boxes[2].caption, " Error!!!");
  EXPECT_EQ(Count(kNotImage), 4u);
}

TEST_F(ConfirmDialog, EscapeDuringTheHashStopsTheWorkerAndRefusesTheOpen) {
  escapeAt = 50;
  EXPECT_FALSE(Open(ImageKind::Os, Images().os));
  EXPECT_EQ(escapedAt, 50);
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].abort, 1);
  // The worker stops before its next read: at most the step it was taking shows.
  EXPECT_LE(confirms[0].lastPercent, 51);
  EXPECT_NE(confirms[0].text, kEqual);
  EXPECT_NE(confirms[0].text, kNotEqual);
  EXPECT_FALSE(confirms[0].fileOpen);
  EXPECT_EQ(OpenDescriptorsOn(Images().os), 0);
  EXPECT_EQ(Count(kNotImage), 1u);
  EXPECT_FALSE(Loaded(ImageKind::Os));
  // The next open of the same file is confirmed as usual.
  EXPECT_TRUE(Open(ImageKind::Os, Images().os));
}

// The fast clock, except that the worker's first wait lasts until the test ends it.
struct HeldFirstWait final : platform::Clock {
  uint32_t TickCount() override { return testsupport::FastClock().TickCount(); }
  void Sleep(uint32_t milliseconds) override {
    if (milliseconds == 200) return released.wait();
    testsupport::FastClock().Sleep(milliseconds);
  }
  std::chrono::nanoseconds RealDuration(uint32_t milliseconds) override {
    return testsupport::FastClock().RealDuration(milliseconds);
  }
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
};

// Escape before the worker's first step: it asks the owner nothing and shows nothing,
// where each of these would bring up a box after the dialog had gone or set the family.
TEST_F(ConfirmDialog, EscapeDuringTheFirstWaitLeavesTheOwnerAlone) {
  const std::string unknown = testsupport::BuildOsImage({.model = "QMR-K999"}, "unknown.kx4");
  const std::pair<ImageKind, std::string> cases[] = {
      {ImageKind::Os, unknown}, {ImageKind::Os, Images().os}, {ImageKind::Csc, Images().csc}};
  for (const auto& [kind, path] : cases) {
    SCOPED_TRACE(path);
    HeldFirstWait clock;
    window->SetDialogScript([&clock, escaped = false](ui::HeadlessWindow& d) mutable {
      if (std::exchange(escaped, true)) return;
      d.PressEscape();
      clock.release.set_value();
    });
    int abort = -1;
    std::string text = "?";
    window->RunDialog(console::Md5DialogTemplate(), [&](ui::Window& w) {
      console::CMD5Dlg confirm(clock);
      confirm.SetImage(path, kind);
      confirm.m_pOwner = &dlg();
      confirm.DoModal(w);
      abort = confirm.m_bAbort;
      text = confirm.m_progress.Text();
    });
    EXPECT_EQ(abort, 1);
    EXPECT_EQ(text, "");
    EXPECT_TRUE(Boxes().empty());
    std::lock_guard lock(dlg().ImageMutex);
    EXPECT_EQ(dlg().Image.CurrentModelFamily, image::ModelFamily::FamilyUnknown);
  }
}

TEST_F(ConfirmDialog, AnEmptyPathIsConfirmedButNotAccepted) {
  {
    std::lock_guard lock(dlg().ImageMutex);
    dlg().Image.OsImagePath.clear();
  }
  EXPECT_FALSE(station->opener().OpenImage(ImageKind::Os, false));
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].abort, 0);
  EXPECT_EQ(confirms[0].text, "");
  EXPECT_EQ(Count(kNotImage), 1u);
}

}  // namespace
