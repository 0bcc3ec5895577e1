// Which options are checked and enabled in each mode, with and without images, and
// when Start is available.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "main_window_fixture.h"

namespace consoletest {
namespace {

using namespace console;

constexpr int kGroup4 = IDC_GROUP_CHECK_FIRST + 4;

TEST_F(MainWindowTest, StartsWithNothingLoadedAndModeAll) {
  for (int n = 0; n < kChannelCount; ++n) EXPECT_EQ(window->GetText(ChannelBoxId(n)), "NONE");
  for (int id : {IDC_IMAGE_MODEL, IDC_IMAGE_LABEL, IDC_IMAGE_BUILD})
    EXPECT_EQ(window->GetText(id), "No binary");
  EXPECT_TRUE(Checked(IDC_MODE_ALL));
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_ALL);
  EXPECT_FALSE(Enabled(IDC_START));
  for (int id = IDC_CSC_CHECK; id <= kGroup4; ++id) {
    EXPECT_FALSE(Checked(id)) << id;
    EXPECT_FALSE(Enabled(id)) << id;
  }
  EXPECT_FALSE(Enabled(IDC_OS_PATH));
  EXPECT_FALSE(Enabled(IDC_CSC_PATH));
  EXPECT_FALSE(Enabled(IDC_SALES_CODE));
  EXPECT_EQ(window->ComboItems(IDC_SALES_CODE), std::vector<std::string>{"NONE"});
  EXPECT_EQ(dlg->SelectedComboText(), "NONE");
  EXPECT_EQ(dlg->SettingsValidMarker.load(), SETTINGS_VALID_MARKER);
  EXPECT_EQ(dlg->Bar(0).Font().face, "Tahoma");
  EXPECT_FALSE(window->IsWindowVisible(IDC_MODE_SELECT));
  EXPECT_FALSE(window->IsWindowVisible(IDC_EFS_CLEAR));
  EXPECT_FALSE(Checked(IDC_EFS_CLEAR));
}

TEST_F(MainWindowTest, ModeAllChecksAndGreysEverythingLoadedAndNeedsCsc) {
  Bind(0, usb::SECURITY_MODE_SECURE);
  dlg->UpdateOptionControls();
  EXPECT_FALSE(Enabled(IDC_START));  // a handset alone is not enough

  OpenOs();
  for (int g = 0; g < kGroupCount; ++g) {
    EXPECT_TRUE(Checked(GroupCheckId(g))) << g;
    EXPECT_FALSE(Enabled(GroupCheckId(g))) << g;
  }
  EXPECT_FALSE(Checked(IDC_CSC_CHECK));
  EXPECT_EQ(window->GetText(IDC_OS_PATH), "/images/os.kx4");
  EXPECT_TRUE(Enabled(IDC_OS_PATH));
  EXPECT_FALSE(Enabled(IDC_CSC_PATH));
  EXPECT_FALSE(Enabled(IDC_SALES_CODE));
  EXPECT_FALSE(Enabled(IDC_START));  // mode ALL waits for the CSC image

  OpenCsc();
  EXPECT_TRUE(Checked(IDC_CSC_CHECK));
  EXPECT_FALSE(Enabled(IDC_CSC_CHECK));
  EXPECT_EQ(window->GetText(IDC_CSC_PATH), "/images/eur.csc");
  EXPECT_TRUE(Enabled(IDC_CSC_PATH));
  EXPECT_TRUE(Enabled(IDC_SALES_CODE));
  EXPECT_TRUE(Enabled(IDC_START));
  for (int id = IDC_MODE_ALL; id <= IDC_MODE_ERASE; ++id) EXPECT_TRUE(Enabled(id));
  EXPECT_FALSE(window->IsWindowVisible(IDC_MODE_ERASE));  // enabled, still hidden
}

TEST_F(MainWindowTest, RecoverClearsGroupsZeroToThreeButKeepsTheLastGroup) {
  Bind(0, usb::SECURITY_MODE_SECURE);
  OpenOs();
  OpenCsc();
  window->Click(IDC_MODE_RECOVER);
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_RECOVER);
  for (int g = 0; g < 4; ++g) EXPECT_FALSE(Checked(GroupCheckId(g))) << g;
  EXPECT_TRUE(Checked(kGroup4));  // "EFIESP,  MainOS,  Data"
  for (int id = IDC_CSC_CHECK; id <= kGroup4; ++id) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_FALSE(Checked(IDC_CSC_CHECK));
  EXPECT_TRUE(Enabled(IDC_START));

  window->Click(IDC_MODE_ALL);
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_ALL);
  for (int id = IDC_CSC_CHECK; id <= kGroup4; ++id) EXPECT_TRUE(Checked(id)) << id;
}

TEST_F(MainWindowTest, RecoverNeedsOnlyTheOsImage) {
  Bind(2, usb::SECURITY_MODE_NON_SECURE);
  OpenOs();
  window->Click(IDC_MODE_RECOVER);
  EXPECT_TRUE(Enabled(IDC_START));
  EXPECT_FALSE(Enabled(IDC_SALES_CODE));
}

TEST_F(MainWindowTest, OpeningAnOsImageSetsTheModeButNotTheRadioButtons) {
  OpenOs();
  window->Click(IDC_MODE_RECOVER);
  OpenOs(engine::DOWNLOAD_MODE_ALL);  // a product image sets mode ALL
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_ALL);
  EXPECT_TRUE(Checked(IDC_MODE_RECOVER));
  EXPECT_FALSE(Checked(IDC_MODE_ALL));
  window->Click(IDC_MODE_RECOVER);  // clicking the checked button again takes effect
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_RECOVER);
}

TEST_F(MainWindowTest, FactoryAndEraseLetTheOperatorChoose) {
  for (uint32_t mode : {engine::DOWNLOAD_MODE_FACTORY, engine::DOWNLOAD_MODE_ERASE_NV}) {
    OpenOs(mode);
    OpenCsc();
    for (int id = IDC_CSC_CHECK; id <= kGroup4; ++id) {
      EXPECT_TRUE(Enabled(id)) << id;
      EXPECT_TRUE(Checked(id)) << id;  // every open remembers "write it"
    }
    window->Click(GroupCheckId(1));
    window->Click(IDC_CSC_CHECK);
    EXPECT_EQ(RememberedGroup[1].load(), 0);
    EXPECT_EQ(RememberedCsc.load(), 0);
    dlg->UpdateOptionControls();
    EXPECT_FALSE(Checked(GroupCheckId(1)));
    EXPECT_FALSE(Checked(IDC_CSC_CHECK));
    EXPECT_TRUE(Checked(GroupCheckId(0)));
    window->Click(GroupCheckId(1));
    EXPECT_EQ(RememberedGroup[1].load(), 1);
    EXPECT_TRUE(Checked(GroupCheckId(1)));
  }
}

TEST_F(MainWindowTest, RememberedChoicesComeBackAfterAll) {
  OpenOs(engine::DOWNLOAD_MODE_FACTORY);
  window->Click(GroupCheckId(3));  // unchecks ACPI
  dlg->DownloadMode = engine::DOWNLOAD_MODE_ALL;
  dlg->UpdateOptionControls();
  EXPECT_TRUE(Checked(GroupCheckId(3)));  // ALL writes everything...
  dlg->DownloadMode = engine::DOWNLOAD_MODE_FACTORY;
  dlg->UpdateOptionControls();
  EXPECT_FALSE(Checked(GroupCheckId(3)));  // ...but the choice is kept
}

TEST(StartRule, FollowsModeImagesAndHandsets) {
  using engine::DOWNLOAD_MODE_ALL;
  EXPECT_FALSE(StartAllowed(0, true, true, DOWNLOAD_MODE_ALL));
  EXPECT_FALSE(StartAllowed(1, false, true, DOWNLOAD_MODE_ALL));
  EXPECT_FALSE(StartAllowed(1, true, false, DOWNLOAD_MODE_ALL));
  EXPECT_TRUE(StartAllowed(1, true, true, DOWNLOAD_MODE_ALL));
  for (uint32_t mode : {engine::DOWNLOAD_MODE_FACTORY, engine::DOWNLOAD_MODE_RECOVER,
                        engine::DOWNLOAD_MODE_ERASE_NV}) {
    EXPECT_TRUE(StartAllowed(3, true, false, mode));
    EXPECT_FALSE(StartAllowed(3, false, true, mode));
  }
  EXPECT_FALSE(StartAllowed(1, true, true, 0x12345678));
}

TEST_F(MainWindowTest, ModeHandlersActOnlyWhenTheirButtonIsChecked) {
  dlg->DownloadMode = engine::DOWNLOAD_MODE_FACTORY;
  window->SetCheck(IDC_MODE_RECOVER, 0);
  dlg->OnModeRecoverClicked();
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_FACTORY);
  window->SetCheck(IDC_MODE_ALL, 0);
  dlg->OnModeAllClicked();
  EXPECT_EQ(dlg->DownloadMode.load(), engine::DOWNLOAD_MODE_FACTORY);
}

TEST_F(MainWindowTest, PathEditsTakeNoClicksAndForgetWhatIsTyped) {
  OpenOs();
  OpenCsc();
  for (int id = IDC_IMAGE_MODEL; id <= IDC_CSC_PATH; ++id) EXPECT_TRUE(window->LeftButtonDown(id));
  EXPECT_FALSE(window->LeftButtonDown(IDC_LOG));
  EXPECT_FALSE(window->LeftButtonDown(IDC_CSC_CHECK));
  window->Focus(IDC_OS_PATH);  // by Tab
  window->Type(IDC_OS_PATH, "/elsewhere.kx4");
  window->Focus(IDC_CSC_PATH);
  EXPECT_EQ(window->GetText(IDC_OS_PATH), "/images/os.kx4");
  window->Type(IDC_CSC_PATH, "typed");
  window->Focus(IDC_START);
  EXPECT_EQ(window->GetText(IDC_CSC_PATH), "/images/eur.csc");
}

TEST_F(MainWindowTest, ARunDisablesTheOptionsButNotTheBrowseIcons) {
  Bind(0, usb::SECURITY_MODE_SECURE);
  OpenOs();
  OpenCsc();
  dlg->DisableControlsForRun();
  for (int id :
       {IDC_MODE_ALL, IDC_MODE_SELECT, IDC_MODE_RECOVER, IDC_MODE_ERASE, IDC_CSC_CHECK,
        GroupCheckId(0), GroupCheckId(4), IDC_START, IDC_OS_PATH, IDC_CSC_PATH, IDC_SALES_CODE})
    EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(IDC_OS_BROWSE_ICON));
  EXPECT_TRUE(Enabled(IDC_CSC_BROWSE_ICON));
  dlg->UpdateOptionControls();
  EXPECT_TRUE(Enabled(IDC_START));
}

TEST_F(MainWindowTest, ImageDefaultsNeedAnAcceptedImage) {
  dlg->ApplyImageDefaults(image::ImageKind::Os);
  dlg->ApplyImageDefaults(image::ImageKind::Csc);
  EXPECT_EQ(RememberedGroup[0].load(), 0);
  EXPECT_EQ(RememberedCsc.load(), 0);
  OpenOs();
  for (auto& g : RememberedGroup) EXPECT_EQ(g.load(), 1);
  EXPECT_EQ(RememberedCsc.load(), 0);
}

TEST_F(MainWindowTest, OptionsCanBeUpdatedFromAnotherThread) {
  Bind(0, usb::SECURITY_MODE_SECURE);
  {
    std::lock_guard lock(dlg->ImageMutex);
    dlg->Image.OsImageLoaded = 1;
    dlg->Image.CscImageLoaded = 1;
  }
  std::atomic<bool> done{false};
  std::thread autoStart([&] {
    dlg->UpdateOptionControls();
    done = true;
  });
  ASSERT_TRUE(window->PumpUntil([&] { return done.load(); }));
  autoStart.join();
  EXPECT_TRUE(Enabled(IDC_START));
}

}  // namespace
}  // namespace consoletest
