// The open procedure as the operator meets it: browse icons with their file dialogs,
// drops, the automatic start, the remembered paths and what the window shows after.
#include <filesystem>
#include <fstream>
#include <thread>

#include "console/image_open.h"
#include "console/settings.h"
#include "image/image_digest.h"
#include "image/smd_format.h"
#include "image_open_fixture.h"
#include "platform/bytes/little_endian.h"
#include "support/test_env.h"

namespace {

using image::ImageKind;
using opentest::ImageOpenTest;
using opentest::Images;
using platform::registry::Root;

constexpr const char* kNotImage = "This File is not a Halcyrafone SMD Image File!!\r\n";
constexpr const char* kNoMatch = "Factory signature does not match !!\r\n";

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('/') + 1);
}

std::vector<uint8_t> RegistryValue(platform::registry::MemoryRegistry& registry,
                                   const std::string& name) {
  auto v = registry.Get(Root::kCurrentUser, console::SETTINGS_KEY, name);
  return v ? v->data : std::vector<uint8_t>{};
}

using ImageOpening = ImageOpenTest;

TEST_F(ImageOpening, BrowseIconsOpenBothImagesWithTheirFiltersAndFolders) {
  window->QueueFileDialogAnswer(Images().os);
  window->Click(console::IDC_OS_BROWSE_ICON);
  window->QueueFileDialogAnswer(Images().csc);
  window->Click(console::IDC_CSC_BROWSE_ICON);
  EXPECT_TRUE(Loaded(ImageKind::Os));
  EXPECT_TRUE(Loaded(ImageKind::Csc));
  EXPECT_EQ(Count("Open KX4 SMD image at : " + Images().os + "\r\n"), 1u);
  EXPECT_EQ(Count("Open KX4 SMD image at : " + Images().csc + "\r\n"), 1u);
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_MODEL), "QMR-K220_SIGN");
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_BUILD), "Product");
  EXPECT_EQ(window->ComboItems(console::IDC_SALES_CODE),
            (std::vector<std::string>{"BTU", "VDF", "XEU"}));
  EXPECT_EQ(window->ComboSelectedText(console::IDC_SALES_CODE), "BTU");

  // The next dialogs start where the last accepted image of their kind lies; the first
  // of the process had nowhere to start.
  window->Click(console::IDC_OS_BROWSE_ICON);  // cancelled
  const auto dialogs = window->FileDialogs();
  ASSERT_EQ(dialogs.size(), 3u);
  EXPECT_EQ(dialogs[0].filter, "KX4 OS SMD Image (*.kx4)|*.kx4|");
  EXPECT_EQ(dialogs[1].filter, "KX4 CSC (SMD) Image (*.csc)|*.csc|");
  EXPECT_EQ(dialogs[0].defaultExtension, "*");
  EXPECT_TRUE(dialogs[0].fileMustExist);
  EXPECT_EQ(dialogs[0].startFolder, "");
  EXPECT_EQ(dialogs[1].startFolder, "");
  EXPECT_EQ(dialogs[2].startFolder, FolderOf(Images().os));
  // A cancelled dialog leaves the kind unloaded.
  EXPECT_FALSE(Loaded(ImageKind::Os));
  EXPECT_EQ(Path(ImageKind::Os), "");
  EXPECT_EQ(Count(kNotImage), 1u);
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_MODEL), "None");
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_LABEL), "None");
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_BUILD), "Engineer");
}

TEST_F(ImageOpening, TheOsImageSetsTheModeAndReopeningDecidesAboutTheCsc) {
  ASSERT_TRUE(Open(ImageKind::Os, Images().factoryOs));
  EXPECT_EQ(dlg().DownloadMode, engine::DOWNLOAD_MODE_FACTORY);
  EXPECT_EQ(window->ComboItems(console::IDC_SALES_CODE), std::vector<std::string>{"FTA"});
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  EXPECT_EQ(dlg().DownloadMode, engine::DOWNLOAD_MODE_ALL);
  EXPECT_EQ(window->ComboItems(console::IDC_SALES_CODE), std::vector<std::string>{"NONE"});
  ASSERT_TRUE(Open(ImageKind::Csc, Images().csc));

  // The same OS image again keeps the CSC image and its codes.
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  EXPECT_TRUE(Loaded(ImageKind::Csc));
  EXPECT_EQ(window->ComboSelectedText(console::IDC_SALES_CODE), "BTU");
  // Another one needs the CSC image opened again; its path stays.
  ASSERT_TRUE(Open(ImageKind::Os, Images().os2));
  EXPECT_FALSE(Loaded(ImageKind::Csc));
  EXPECT_EQ(Path(ImageKind::Csc), Images().csc);
}

TEST_F(ImageOpening, TheBuildBoxReadsEngineerUnlessOnlyTheProductPatternIsSet) {
  const std::string both =
      testsupport::BuildOsImage({.imageType = 0x2ECDF88F}, "both_patterns.kx4");
  const std::string engineer = testsupport::BuildOsImage({.imageType = 0x2ECDE88E}, "engineer.kx4");
  ASSERT_TRUE(Open(ImageKind::Os, both));
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_BUILD), "Engineer");
  ASSERT_TRUE(Open(ImageKind::Os, engineer));
  EXPECT_EQ(window->GetText(console::IDC_IMAGE_BUILD), "Engineer");
}

TEST_F(ImageOpening, ThePairingCheckRunsBeforeTheConfirmationEvenOnACancelledDialog) {
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  EXPECT_FALSE(Open(ImageKind::Csc, Images().factoryCsc));
  EXPECT_EQ(Count(kNoMatch), 1u);
  EXPECT_EQ(confirms.size(), 1u);  // only the OS image was confirmed

  // A cancelled CSC dialog checks the CSC path held from before.
  {
    std::lock_guard lock(dlg().ImageMutex);
    dlg().Image.CscImagePath = Images().factoryCsc;
  }
  window->Click(console::IDC_CSC_BROWSE_ICON);
  EXPECT_EQ(Count(kNoMatch), 2u);
  EXPECT_EQ(Count(kNotImage), 2u);
  const std::string log = Log();
  EXPECT_LT(log.rfind(kNoMatch), log.rfind(kNotImage));
  EXPECT_EQ(Path(ImageKind::Csc), "");

  // A CSC file that cannot be opened says so.
  EXPECT_FALSE(Open(ImageKind::Csc, "/nonexistent/eur.csc"));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"CSC file cannot open\n"});
}

TEST_F(ImageOpening, DropsOpenInOrderAndRefuseOtherEndings) {
  const std::string dir = testsupport::ScratchDir("drops");
  const std::string upper = dir + "/OS.KX4";
  std::filesystem::copy_file(Images().os, upper);

  // The CSC counts as dropped with another file; its confirmation then finds no OS image.
  window->DropFiles({Images().csc, upper});
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"This File Is Not Image File!!!",
                                               "Please Open KX4 Unified SMD binary first!!"}));
  window->DropFiles({Images().csc});
  EXPECT_EQ(Boxes().back(), "Please Open KX4 SMD binary first!!!");
  EXPECT_EQ(confirms.size(), 1u);  // only the CSC of the first drop, refused without OS

  confirms.clear();
  window->DropFiles({Images().csc, Images().os});
  EXPECT_TRUE(Loaded(ImageKind::Os));
  EXPECT_TRUE(Loaded(ImageKind::Csc));
  ASSERT_EQ(confirms.size(), 2u);
  const std::string log = Log();
  EXPECT_LT(log.find("at : " + Images().os), log.find("at : " + Images().csc));
}

TEST_F(ImageOpening, RememberedPathsFollowAcceptedImagesWithinTheirBuffer) {
  // A CSC path of exactly 40 characters: 80 bytes of text, then zero units to 512.
  const std::string folder = "/tmp/ostrevane-open-40/";
  std::filesystem::create_directories(folder);
  const std::string csc40 = folder + std::string(40 - folder.size() - 4, 'c') + ".csc";
  ASSERT_EQ(csc40.size(), 40u);
  // Removed first: the Windows C++ library refuses to overwrite even when asked to.
  std::filesystem::remove(csc40);
  std::filesystem::copy_file(Images().csc, csc40,
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  ASSERT_TRUE(Open(ImageKind::Csc, csc40));
  std::vector<uint8_t> expected(512, 0);
  for (size_t i = 0; i < csc40.size(); ++i) expected[2 * i] = static_cast<uint8_t>(csc40[i]);
  EXPECT_EQ(RegistryValue(registry, "CSC_SMD_Location"), expected);
  EXPECT_EQ(RegistryValue(registry, "KX4_SMD_Location").size(), 512u);

  // A path longer than the buffer is opened and used, but remembered nowhere.
  const std::string deep = testsupport::ScratchDir("long_path") + "/" + std::string(200, 'd');
  std::filesystem::create_directories(deep);
  const std::string longPath = deep + "/" + std::string(60, 'o') + ".kx4";
  // A run before this one may have left it: under Wine the scratch folder's removal
  // gives up on a path this long.
  std::error_code ignored;
  std::filesystem::remove(longPath, ignored);
  std::filesystem::copy_file(Images().os2, longPath);
  const auto before = RegistryValue(registry, "KX4_SMD_Location");
  ASSERT_TRUE(Open(ImageKind::Os, longPath));
  EXPECT_EQ(Count("Open KX4 SMD image at : " + longPath + "\r\n"), 1u);
  EXPECT_EQ(RegistryValue(registry, "KX4_SMD_Location"), before);
  window->Click(console::IDC_OS_BROWSE_ICON);
  EXPECT_EQ(window->FileDialogs().back().startFolder, FolderOf(Images().os));
}

// 255 units and the terminator fill the buffer; a longer path leaves it, and the unit
// after it, as they were.
TEST(RememberedPath, HoldsAtMost255UnitsAndItsTerminator) {
  const std::pair<size_t, bool> cases[] = {{254, true}, {255, true}, {256, false}, {257, false}};
  for (const auto& [units, fits] : cases) {
    SCOPED_TRACE(units);
    struct {
      console::RememberedPath buffer;
      char16_t after;  // shows a write past the buffer's end
    } held{};
    static_assert(sizeof held == sizeof(char16_t) * (console::kRememberedPathUnits + 1));
    held.buffer.fill(u'p');
    held.after = u'G';
    EXPECT_EQ(console::RememberPath(held.buffer, std::string(units, 'a')), fits);
    EXPECT_EQ(held.after, u'G');
    console::RememberedPath expected;
    expected.fill(u'p');
    if (fits) {
      std::fill_n(expected.begin(), units, u'a');
      expected[units] = 0;
    }
    EXPECT_EQ(held.buffer, expected);
  }
}

TEST_F(ImageOpening, AnImageWhosePartitionsOverlapIsRefusedAfterItsDigestMatches) {
  // The builder refuses such a layout, so a sound image is spoilt afterwards and given
  // the digest of what it now holds: only the layout check can catch it.
  std::ifstream in(Images().os, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  bool moved = false;
  for (size_t slot = 0; slot < image::PARTITION_SLOT_COUNT && !moved; ++slot) {
    uint8_t* entry =
        bytes.data() + image::PARTITION_TABLE_OFFSET + slot * image::PARTITION_ENTRY_SIZE;
    if (std::string(reinterpret_cast<const char*>(entry)) != "SBL1") continue;
    platform::PutLe32(entry + image::PE_START_SECTOR, 20);  // inside the GPT's sectors
    moved = true;
  }
  ASSERT_TRUE(moved);
  const image::Md5Digest digest = image::ImageDigestOf(bytes.data(), bytes.size());
  std::copy(digest.begin(), digest.end(), bytes.begin() + image::HDR_MD5);
  const std::string overlapping = testsupport::ScratchDir("open_overlap") + "/overlap.kx4";
  std::ofstream(overlapping, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));

  EXPECT_FALSE(Open(ImageKind::Os, overlapping));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(
      Boxes()[0].rfind("This image cannot be written safely:\nPartition SBL1: its sectors ", 0), 0u)
      << Boxes()[0];
  EXPECT_NE(Boxes()[0].find("overlap those of GPT"), std::string::npos) << Boxes()[0];
  EXPECT_EQ(Count(kNotImage), 1u);
  EXPECT_FALSE(Loaded(ImageKind::Os));
  EXPECT_EQ(Path(ImageKind::Os), "");
  // A sound image opens afterwards as usual.
  EXPECT_TRUE(Open(ImageKind::Os, Images().os));
}

TEST_F(ImageOpening, AKeyThatCannotBeOpenedStillAcceptsTheImage) {
  registry.DenyKey(Root::kCurrentUser, console::SETTINGS_KEY);
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  EXPECT_EQ(Count("Open KX4 SMD image at : " + Images().os + "\r\n"), 1u);
  window->Click(console::IDC_OS_BROWSE_ICON);
  EXPECT_EQ(window->FileDialogs().back().startFolder, "");  // not remembered
}

TEST_F(ImageOpening, AnOpenDuringARunChangesNothing) {
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  ASSERT_TRUE(Open(ImageKind::Csc, Images().csc));
  std::vector<uint8_t> header;
  {
    std::lock_guard lock(dlg().ImageMutex);
    header = dlg().Image.LoadedHeader;
  }
  confirms.clear();
  dlg().RunInProgress = true;
  window->Click(console::IDC_OS_BROWSE_ICON);
  window->Click(console::IDC_CSC_BROWSE_ICON);
  window->DropFiles({Images().os2});
  dlg().RunInProgress = false;
  EXPECT_EQ(Boxes(), std::vector<std::string>(3, console::TEXT_OPEN_DURING_RUN));
  EXPECT_TRUE(window->FileDialogs().empty());
  EXPECT_TRUE(confirms.empty());
  EXPECT_TRUE(Loaded(ImageKind::Os));
  EXPECT_TRUE(Loaded(ImageKind::Csc));
  EXPECT_EQ(Path(ImageKind::Os), Images().os);
  std::lock_guard lock(dlg().ImageMutex);
  EXPECT_EQ(dlg().Image.LoadedHeader, header);
}

TEST_F(ImageOpening, TheWindowKeepsServingWhileEachBoxWaitsForTheOperator) {
  // Each box is answered only once a handset plugged meanwhile has been bound: the
  // binding takes the image lock on the window's thread.
  std::vector<std::string> boundDuring;
  std::vector<std::string> stuckDuring;
  int next = 0;
  window->SetMessageBoxAnswerer([&](const ui::MessageBoxRecord& box) {
    // A lock held across the box would freeze the binding below for good: give up on
    // it after a while instead of hanging the test.
    bool free = false;
    for (int i = 0; i < 2000 && !free; ++i) {
      free = dlg().ImageMutex.try_lock();
      if (!free) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!free) {
      stuckDuring.push_back(box.text);
      return ui::IDOK;
    }
    dlg().ImageMutex.unlock();
    const int32_t before = dlg().Run.BoundDeviceCount;
    auto h = std::make_shared<handset::VirtualHandset>(Config(next++), clock);
    bus.Plug(h);
    const bool bound = window->PumpUntil([&] { return dlg().Run.BoundDeviceCount == before + 1; },
                                         std::chrono::seconds(5));
    (bound ? boundDuring : stuckDuring).push_back(box.text);
    bus.Unplug(h.get());
    window->PumpUntil([&] { return dlg().Run.BoundDeviceCount == before; });
    return ui::IDOK;
  });
  const std::string unknown = testsupport::BuildOsImage({.model = "QMR-K999"}, "unknown.kx4");
  const std::string otherFamily = testsupport::BuildCscImage({.model = "QB-K5310"}, "k5310.csc");
  Open(ImageKind::Csc, Images().csc);
  Open(ImageKind::Os, unknown);
  Open(ImageKind::Os, Images().os);
  Open(ImageKind::Csc, otherFamily);
  Open(ImageKind::Csc, "/nonexistent/eur.csc");
  window->DropFiles({"/images/readme.txt"});
  dlg().RunInProgress = true;
  window->Click(console::IDC_OS_BROWSE_ICON);
  dlg().RunInProgress = false;
  EXPECT_TRUE(stuckDuring.empty()) << stuckDuring.front();
  EXPECT_EQ(boundDuring.size(), 6u);
}

TEST_F(ImageOpening, ClosingSavesTheModeAndTheSixChecks) {
  ASSERT_TRUE(Open(ImageKind::Os, Images().os));
  ASSERT_TRUE(Open(ImageKind::Csc, Images().csc));
  window->PressEscape();
  EXPECT_TRUE(window->Ended());
  EXPECT_EQ(registry.ReadDword(Root::kCurrentUser, console::SETTINGS_KEY, "MODE"), 0xD10AD111u);
  for (const char* name : {"CSC", "SBL", "RPM", "UEFI", "ACPI", "MainOS"})
    EXPECT_EQ(RegistryValue(registry, name), (std::vector<uint8_t>{1, 0, 0, 0})) << name;
}

// One box checked at a time: two value names that took each other's box would both show it.
TEST_F(ImageOpening, EachCheckBoxIsSavedUnderItsOwnName) {
  using console::GroupCheckId;
  const std::pair<int, const char*> boxes[] = {
      {console::IDC_CSC_CHECK, "CSC"}, {GroupCheckId(0), "SBL"},  {GroupCheckId(1), "RPM"},
      {GroupCheckId(2), "UEFI"},       {GroupCheckId(3), "ACPI"}, {GroupCheckId(4), "MainOS"}};
  for (const auto& [checked, checkedName] : boxes) {
    SCOPED_TRACE(checkedName);
    for (const auto& [id, name] : boxes) window->SetCheck(id, id == checked ? 1 : 0);
    console::SaveSettings(dlg(), registry);
    for (const auto& [id, name] : boxes)
      EXPECT_EQ(RegistryValue(registry, name), (std::vector<uint8_t>{id == checked, 0, 0, 0}))
          << name;
  }
}

TEST_F(ImageOpening, ClosingBeforeAnyImageSavesSixZeros) {
  window->PressEscape();
  EXPECT_EQ(registry.ReadDword(Root::kCurrentUser, console::SETTINGS_KEY, "MODE"), 0xD10AD111u);
  for (const char* name : {"CSC", "SBL", "RPM", "UEFI", "ACPI", "MainOS"}) {
    const auto v = registry.Get(Root::kCurrentUser, console::SETTINGS_KEY, name);
    ASSERT_TRUE(v) << name;
    EXPECT_EQ(v->type, platform::registry::MemoryRegistry::Value::Type::kBinary);
    EXPECT_EQ(v->data, (std::vector<uint8_t>{0, 0, 0, 0})) << name;
  }
}

TEST_F(ImageOpening, AKeyThatCannotBeCreatedLeavesTheSettingsAndTheWindowCloses) {
  registry.DenyKey(Root::kCurrentUser, console::SETTINGS_KEY);
  dlg().SettingsValidMarker = console::SETTINGS_VALID_MARKER;
  window->PressEscape();
  EXPECT_TRUE(window->Ended());
  EXPECT_FALSE(registry.KeyExists(Root::kCurrentUser, console::SETTINGS_KEY));
  EXPECT_TRUE(Boxes().empty());
  // A wrong marker writes nothing even where the key could be made.
  platform::registry::MemoryRegistry other;
  dlg().SettingsValidMarker = 0;
  console::SaveSettings(dlg(), other);
  EXPECT_FALSE(other.KeyExists(Root::kCurrentUser, console::SETTINGS_KEY));
}

// The automatic start opens both images through the confirmation dialog.
class AutoLoad : public ImageOpenTest {
 protected:
  static console::AutoStart Paths(const std::string& os, const std::string& csc) {
    return console::AutoStart{os, csc};
  }
  explicit AutoLoad(console::AutoStart start, bool plugFirst = false)
      : ImageOpenTest(start, plugFirst) {}
  bool Finish() {
    return PumpUntil([&] { return station->AutoStartDone(); });
  }
};

class AutoLoadProductWithFactoryCsc : public AutoLoad {
 protected:
  AutoLoadProductWithFactoryCsc()
      : AutoLoad(Paths(Images().os, Images().factoryCsc), /*plugFirst=*/true) {}
};

TEST_F(AutoLoadProductWithFactoryCsc, RefusesThePairAndStartsNoRun) {
  ASSERT_TRUE(Finish());
  const auto& h = handsets.at(0);
  EXPECT_EQ(dlg().Run.DevicePresent[0], 1);  // bound before the images were opened
  EXPECT_TRUE(Loaded(ImageKind::Os));
  EXPECT_FALSE(Loaded(ImageKind::Csc));
  EXPECT_EQ(Count(kNoMatch), 1u);
  EXPECT_EQ(window->DialogsShown().size(), 1u);  // the OS image only
  EXPECT_EQ(h->ResetCount(), 0);
  EXPECT_EQ(dlg().Run.ChannelRunning[0], 0);
}

class AutoLoadBoth : public AutoLoad {
 protected:
  AutoLoadBoth() : AutoLoad(Paths(Images().os, Images().csc)) {}
};

TEST_F(AutoLoadBoth, ConfirmsBothImagesInTheDialog) {
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(Loaded(ImageKind::Os));
  EXPECT_TRUE(Loaded(ImageKind::Csc));
  EXPECT_EQ(window->DialogsShown(),
            (std::vector<std::string>{"Confirm MD5 Value", "Confirm MD5 Value"}));
  ASSERT_EQ(confirms.size(), 2u);
  EXPECT_EQ(confirms[1].abort, 0);
}

class AutoLoadBadPaths : public AutoLoad {
 protected:
  AutoLoadBadPaths() : AutoLoad(Paths("/nonexistent/os.kx4", Images().csc)) {}
};

TEST_F(AutoLoadBadPaths, AnUnusableOsPathOpensNothing) {
  ASSERT_TRUE(Finish());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"KX4 binary location is invalid"});
  EXPECT_TRUE(window->DialogsShown().empty());
  EXPECT_EQ(Path(ImageKind::Csc), Images().csc);
}

class AutoLoadNoCscEnding : public AutoLoad {
 protected:
  AutoLoadNoCscEnding() : AutoLoad(Paths(Images().os, "/images/eur.mbn")) {}
};

TEST_F(AutoLoadNoCscEnding, OpensTheOsImageOnly) {
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(Loaded(ImageKind::Os));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"CSC/MBN binary location is invalid"});
}

// Mode ALL needs the CSC image: the handsets are bound, but no run starts.
class AutoLoadNoCscWithHandset : public AutoLoad {
 protected:
  AutoLoadNoCscWithHandset() : AutoLoad(Paths(Images().os, "/images/eur.mbn"), true) {}
};

TEST_F(AutoLoadNoCscWithHandset, BindsTheHandsetAndStartsNoRun) {
  ASSERT_TRUE(Finish());
  EXPECT_EQ(dlg().Run.DevicePresent[0], 1);
  EXPECT_EQ(dlg().Run.BoundDeviceCount.load(), 1);
  EXPECT_EQ(dlg().DownloadMode.load(), engine::DOWNLOAD_MODE_ALL);
  EXPECT_FALSE(Loaded(ImageKind::Csc));
  EXPECT_EQ(dlg().Run.ChannelRunning[0], 0);
  EXPECT_EQ(handsets.at(0)->ResetCount(), 0);
  EXPECT_EQ(Count("Download Start !!!"), 0u);
  EXPECT_FALSE(dlg().AutoStartInProgress.load());
}

}  // namespace
