// Closing the station while it is busy: during a run the close waits for the run and
// the window then closes by itself; during the automatic start the confirmation stops
// as its Escape would, no run starts and the window closes. The window runs modally on
// the test thread and the closes arrive as posted requests, the way a termination
// signal delivers them; a second request while waiting changes nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "console/md5_dlg.h"
#include "console/settings.h"
#include "engine/channel_observer.h"
#include "engine/run_controller.h"
#include "station_fixture.h"
#include "support/flashing/test_images.h"

namespace stationtest {
namespace {

using namespace std::chrono_literals;
using console::TEXT_CLOSE_AFTER_AUTO_START;
using console::TEXT_CLOSE_AFTER_RUN;

struct CloseImages {
  // Large enough that the hash takes many progress steps.
  std::string bigOs = testsupport::BuildOsImage({.mainOsBytes = 64u << 20}, "close_big.kx4");
  std::string os = testsupport::BuildOsImage({}, "close.kx4");
  std::string csc = testsupport::BuildCscImage({}, "close.csc");
};
const CloseImages& Images() {
  static const CloseImages images;
  return images;
}

// Where the close request comes.
enum class Moment { kStartWait, kOsHash, kCscHash, kRun };

class ClosingStation : public StationTest {
 protected:
  ClosingStation(const std::string& os, const std::string& csc)
      : StationTest(console::AutoStart{os, csc}, /*init=*/false) {
    handset::HandsetConfig c = Config(0);
    c.partitions = testsupport::GptOfImage(os);
    auto h = std::make_shared<handset::VirtualHandset>(c, clock);
    handsets.push_back(h);
    bus.Plug(h);
    using platform::registry::Root;
    const char* key = platform::registry::WINUSB_ENUM_KEY;
    registry.CreateKey(Root::kLocalMachine, key);
    registry.WriteDword(Root::kLocalMachine, key, "Count", 1);
    registry.SetString(Root::kLocalMachine, key, "0", h->InstanceId());
  }

  // Twice, as an impatient operator or a repeated signal would.
  void PostClose() {
    dlg().Post([this] {
      dlg().OnCancel();
      dlg().OnCancel();
    });
  }

  // Runs the window until it closes; the close comes at `moment`.
  void RunAndCloseAt(Moment moment) {
    station->opener().onConfirmClosed = [this](const console::CMD5Dlg& d) {
      lastPercents.push_back(d.LastPercent());
    };
    window->SetDialogScript([this, moment](ui::HeadlessWindow& d) {
      const size_t shown = window->DialogsShown().size();
      const bool hashMoment =
          (moment == Moment::kOsHash && shown == 1) || (moment == Moment::kCscHash && shown == 2);
      if (hashMoment && !posted && d.GetPos(console::IDC_MD5_PROGRESS) >= 30) {
        posted = true;
        closedAtPercent = d.GetPos(console::IDC_MD5_PROGRESS);
        PostClose();
        // The hash waits on this thread for its next step: it is still under way
        // when the close is served.
        while (!dlg().CloseRequested()) std::this_thread::sleep_for(1ms);
      }
      if (d.IsWindowEnabled(console::IDC_MD5_CLOSE)) d.Click(console::IDC_MD5_CLOSE);
    });
    auto init = dlg().hooks.initDone;
    dlg().hooks.initDone = [this, init, moment] {
      init();
      if (moment == Moment::kStartWait) {
        posted = true;
        PostClose();
      }
    };
    std::thread closer;
    if (moment == Moment::kRun)
      closer = std::thread([this] {
        while (dlg().Run.ChannelRunning[0] == 0 && !station->AutoStartDone())
          std::this_thread::sleep_for(1ms);
        posted = true;
        PostClose();
      });
    result = station->DoModal();
    if (closer.joinable()) closer.join();
  }

  size_t Count(const std::string& text) {
    const std::string log = window->GetText(console::IDC_LOG);
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }
  bool Loaded(image::ImageKind kind) {
    std::lock_guard lock(dlg().ImageMutex);
    return (kind == image::ImageKind::Os ? dlg().Image.OsImageLoaded
                                         : dlg().Image.CscImageLoaded) == 1;
  }
  bool HeaderFreed() {
    std::lock_guard lock(dlg().ImageMutex);
    return dlg().Image.LoadedHeader.empty() && dlg().Image.SalesCodes.empty();
  }
  bool SettingsSaved() {
    return registry.KeyExists(platform::registry::Root::kCurrentUser, console::SETTINGS_KEY);
  }

  std::atomic<bool> posted{false};
  int closedAtPercent = -1;
  std::vector<int> lastPercents;  // of each confirmation, as it closed
  int result = -1;
};

class CloseDuringAutomaticStart : public ClosingStation {
 protected:
  CloseDuringAutomaticStart() : ClosingStation(Images().bigOs, Images().csc) {}
};

TEST_F(CloseDuringAutomaticStart, AtTheStartNothingIsOpenedAndNoRunStarts) {
  RunAndCloseAt(Moment::kStartWait);
  EXPECT_EQ(result, ui::IDCANCEL);
  EXPECT_TRUE(station->AutoStartDone());
  EXPECT_TRUE(window->DialogsShown().empty());
  EXPECT_EQ(handsets[0]->ResetCount(), 0);
  EXPECT_TRUE(SettingsSaved());
  EXPECT_EQ(Count(TEXT_CLOSE_AFTER_AUTO_START), 1u);
}

TEST_F(CloseDuringAutomaticStart, DuringTheOsHashTheConfirmationStopsAsEscapeWould) {
  RunAndCloseAt(Moment::kOsHash);
  EXPECT_EQ(result, ui::IDCANCEL);
  EXPECT_GE(closedAtPercent, 30);
  EXPECT_LT(closedAtPercent, 100);
  // The hash stopped where the close found it instead of running to its end.
  ASSERT_EQ(lastPercents.size(), 1u);
  EXPECT_LT(lastPercents[0], 100);
  // One confirmation, stopped: the OS image is not loaded and the CSC never opened.
  EXPECT_EQ(window->DialogsShown().size(), 1u);
  EXPECT_FALSE(Loaded(image::ImageKind::Os));
  EXPECT_FALSE(Loaded(image::ImageKind::Csc));
  EXPECT_EQ(dlg().Run.DevicePresent[0], 1);  // the scan had bound the handset
  EXPECT_EQ(dlg().Run.ChannelRunning[0], 0);
  EXPECT_EQ(handsets[0]->ResetCount(), 0);
  EXPECT_EQ(Count(TEXT_CLOSE_AFTER_AUTO_START), 1u);
  EXPECT_EQ(Count("This File is not a Halcyrafone SMD Image File!!"), 1u);
  EXPECT_TRUE(window->MessageBoxes().empty());
}

TEST_F(CloseDuringAutomaticStart, DuringTheCscConfirmationTheOsImageStaysAndNoRunStarts) {
  RunAndCloseAt(Moment::kCscHash);
  EXPECT_EQ(result, ui::IDCANCEL);
  EXPECT_EQ(window->DialogsShown().size(), 2u);
  ASSERT_EQ(lastPercents.size(), 2u);
  EXPECT_LT(lastPercents[1], 100);
  EXPECT_FALSE(Loaded(image::ImageKind::Csc));
  EXPECT_EQ(dlg().Run.ChannelRunning[0], 0);
  EXPECT_EQ(handsets[0]->ResetCount(), 0);
  EXPECT_FALSE(dlg().RunInProgress.load());
  // The window went in order: its image state and the channel buffers are freed.
  EXPECT_TRUE(HeaderFreed());
  EXPECT_TRUE(station->table().Devices().empty());
}

class CloseDuringAutomaticRun : public ClosingStation {
 protected:
  CloseDuringAutomaticRun() : ClosingStation(Images().os, Images().csc) {}
};

TEST_F(CloseDuringAutomaticRun, TheRunFinishesAndThenTheWindowCloses) {
  RunAndCloseAt(Moment::kRun);
  EXPECT_EQ(result, ui::IDCANCEL);
  ASSERT_TRUE(posted.load());
  EXPECT_EQ(handsets[0]->ResetCount(), 1);  // written to its end
  EXPECT_EQ(Count(TEXT_CLOSE_AFTER_RUN), 1u);
  EXPECT_EQ(Count(TEXT_CLOSE_AFTER_AUTO_START), 0u);
  const std::string log = window->GetText(console::IDC_LOG);
  EXPECT_LT(log.find(TEXT_CLOSE_AFTER_RUN), log.find("[Channel 0] Binary Download complete!!"));
  EXPECT_TRUE(HeaderFreed());
}

// From the Start button: the window's thread is inside the run when the close comes.
class CloseDuringStartedRun : public StationTest {};

// Calls `onStart` as a channel's worker is about to start.
class CloseAtStart final : public engine::ChannelObserver {
 public:
  explicit CloseAtStart(std::function<void()> onStart) : onStart_(std::move(onStart)) {}
  void ChannelStarted(const engine::ChannelStartInfo&) override { onStart_(); }
  void ChannelLog(int, const std::string&) override {}
  void ChannelPassedOver(int, const std::string&) override {}
  void ChannelEnded(int, const engine::ChannelEnd&) override {}

 private:
  std::function<void()> onStart_;
};

TEST_F(CloseDuringStartedRun, TheCloseBoxWaitsForTheRunAndASecondOneChangesNothing) {
  handset::HandsetConfig c = Config(0);
  c.partitions = testsupport::GptOfImage(Images().os);
  Plug(c);
  LoadImages(Images().os, Images().csc);
  ASSERT_TRUE(StartEnabled());
  std::atomic<int> savesWhileRunning{-1};
  int saves = 0;
  auto save = dlg().hooks.saveSettings;
  dlg().hooks.saveSettings = [&] {
    ++saves;
    save();
  };
  // Posted as the channel starts, so the run serves it: a thread watching for the channel
  // to run could miss a short run altogether and wait for ever.
  CloseAtStart closer([&] {
    dlg().Post([&] {
      window->PressCloseBox();
      window->PressCloseBox();
      savesWhileRunning = saves;
      // Still the run's: nothing of the window has gone.
      EXPECT_FALSE(window->Ended());
    });
  });
  station->ObserveChannels(&closer);
  window->Click(console::IDC_START);  // returns when the run has ended
  station->ObserveChannels(nullptr);
  EXPECT_EQ(savesWhileRunning.load(), 1);
  EXPECT_EQ(handsets[0]->ResetCount(), 1);
  EXPECT_TRUE(window->Ended());
  EXPECT_EQ(window->RunModal(), ui::IDCANCEL);
  EXPECT_EQ(saves, 2);  // the close and the window's destruction
}

TEST_F(CloseDuringStartedRun, ARunAskedForWhileACloseWaitsIsRefused) {
  handset::HandsetConfig c = Config(0);
  c.partitions = testsupport::GptOfImage(Images().os);
  Plug(c);
  LoadImages(Images().os, Images().csc);
  const size_t requests = handsets[0]->Requests().size();
  // As if the automatic start were still busy when the close came.
  dlg().AutoStartInProgress = true;
  window->PressEscape();
  EXPECT_FALSE(window->Ended());
  engine::RunDownload(station->runHost());
  EXPECT_FALSE(dlg().RunInProgress.load());
  EXPECT_EQ(dlg().Run.ChannelRunning[0], 0);
  EXPECT_NE(BarText(0), "Download Start !!!");
  EXPECT_EQ(handsets[0]->Requests().size(), requests);
  EXPECT_FALSE(window->Ended());  // still waiting for the automatic start
  dlg().AutoStartEnded();
  EXPECT_TRUE(window->Ended());
}

}  // namespace
}  // namespace stationtest
