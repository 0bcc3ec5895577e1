// Whole runs from the Start button on the headless window: ten handsets written in
// parallel, failing handsets, a cable pulled mid-run and a handset plugged in meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/run_controller.h"
#include "platform/thread/thread_service.h"
#include "station_fixture.h"
#include "support/flashing/handset_image_check.h"
#include "support/test_env.h"
#include "wire/packet_format.h"

namespace stationtest {
namespace {

using console::IDC_START;
using testsupport::PartitionOnHandset;

using Images = testsupport::ImagePair;

const Images& RunImages() {
  static const Images images = testsupport::BuildImagePair("run");
  return images;
}

class StationRunTest : public StationTest {
 protected:
  handset::HandsetConfig Phone(int index) {
    handset::HandsetConfig c = testsupport::HandsetFor(RunImages().os);
    c.instancePart = Config(index).instancePart;
    return c;
  }
  void PlugAndLoad(int count, const std::function<void(int, handset::HandsetConfig&)>& tweak = {}) {
    for (int i = 0; i < count; ++i) {
      handset::HandsetConfig c = Phone(i);
      if (tweak) tweak(i, c);
      Plug(c);
    }
    LoadImages(RunImages().os, RunImages().csc);
    ASSERT_TRUE(StartEnabled());
  }
  static bool DoneText(const std::string& t) {
    return t.rfind(" DL Done. [ ", 0) == 0 && t.size() > 18 && t.substr(t.size() - 6) == " Sec.]";
  }
};

TEST_F(StationRunTest, TenHandsetsAreWrittenAtOnce) {
  PlugAndLoad(10);
  window->Click(IDC_START);  // returns when the run has ended

  for (int c = 0; c < 10; ++c) {
    auto& h = *handsets[c];
    EXPECT_EQ(h.ResetCount(), 1u) << c;
    EXPECT_FALSE(h.Connected()) << c;  // the run ended only after it left
    for (const char* name : {"GPT", "SBL1", "SBL2", "SBL3", "TZ", "WINSECAPP", "RPM", "UEFI",
                             "PLAT", "EFIESP", "MMOS", "MainOS", "Data", "CrashDump"})
      EXPECT_TRUE(PartitionOnHandset(h, RunImages().os, name)) << c << " " << name;
    EXPECT_TRUE(DoneText(BarText(c))) << c << ": " << BarText(c);
    EXPECT_EQ(BoxText(c), "None   ");
    EXPECT_EQ(dlg().Run.DevicePresent[c], 0);
    EXPECT_EQ(dlg().Run.ChannelFinished[c], 1);
  }
  const std::string log = window->GetText(console::IDC_LOG);
  for (int c = 0; c < 10; ++c)
    EXPECT_NE(log.find("[Channel " + std::to_string(c) + "] Binary Download complete!!\r\n"),
              std::string::npos);
  EXPECT_FALSE(StartEnabled());  // no handset bound any more
  EXPECT_FALSE(dlg().RunInProgress);
}

TEST_F(StationRunTest, FailingHandsetsKeepTheirTextsAndStayAttached) {
  PlugAndLoad(4, [](int i, handset::HandsetConfig& c) {
    if (i == 1) c.writeProtected = true;
    if (i == 3) c.faults.nakDataPacket = 5, c.faults.nakTimes = 2;
  });
  window->Click(IDC_START);

  EXPECT_EQ(BarText(1), "[Channel 1] This device Write Protection Enable !!");
  EXPECT_EQ(dlg().Bar(1).m_barGreen, 0);
  EXPECT_NE(BarText(3).find("Write fail !!"), std::string::npos) << BarText(3);
  for (int c : {1, 3}) {
    EXPECT_TRUE(handsets[c]->Connected());
    EXPECT_EQ(handsets[c]->ResetCount(), 0u);
    EXPECT_EQ(dlg().Run.ChannelFailed[c], 1);
    EXPECT_EQ(dlg().Run.DevicePresent[c], 1);
  }
  for (int c : {0, 2}) EXPECT_TRUE(DoneText(BarText(c))) << BarText(c);
  // Two failed handsets are still bound: Start comes back for another try.
  EXPECT_TRUE(StartEnabled());
}

TEST_F(StationRunTest, CablePulledMidRunEndsThatChannelAndTheRun) {
  PlugAndLoad(3, [](int i, handset::HandsetConfig& c) {
    if (i == 2) c.faults.disconnectAfterTransfers = 120;
  });
  window->Click(IDC_START);
  // Whatever the worker showed before it saw the cable go, the removal's text stays.
  EXPECT_EQ(BarText(2), " Error Disconnect Device!!!");
  EXPECT_EQ(BoxText(2), "None   ");
  EXPECT_EQ(dlg().Run.DevicePresent[2], 0);
  EXPECT_EQ(dlg().Run.ChannelFailed[2], 1);
  EXPECT_TRUE(DoneText(BarText(0)));
  EXPECT_TRUE(DoneText(BarText(1)));
}

TEST_F(StationRunTest, HandsetPluggedDuringARunHoldsItOpenUntilUnplugged) {
  // A slow link keeps channel 0 busy while the operator plugs another handset in.
  PlugAndLoad(1, [](int, handset::HandsetConfig& c) { c.faults.linkBytesPerSecond = 16 << 20; });
  auto late = std::make_shared<handset::VirtualHandset>(Phone(7), clock);
  std::atomic<bool> unplugged{false};
  std::atomic<bool> startDisabledMeanwhile{false};
  std::atomic<bool> sawLateBound{false};
  std::thread operatorHands([&] {
    auto& run = dlg().Run;
    testsupport::PollUntil([&] { return run.ChannelRunning[0] == 1; });
    bus.Plug(late);
    sawLateBound = testsupport::PollUntil([&] { return run.DevicePresent[1] == 1; });
    // Channel 0 is done and gone; the late handset alone keeps the run waiting.
    testsupport::PollUntil([&] { return run.ChannelFinished[0] == 1 && run.DevicePresent[0] == 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    startDisabledMeanwhile = !window->IsWindowEnabled(IDC_START) && dlg().RunInProgress;
    unplugged = true;
    bus.Unplug(late.get());
  });
  window->Click(IDC_START);
  operatorHands.join();

  EXPECT_TRUE(sawLateBound);
  EXPECT_TRUE(unplugged);
  EXPECT_TRUE(startDisabledMeanwhile);
  EXPECT_TRUE(DoneText(BarText(0)));
  EXPECT_EQ(BarText(1), " Disconnect Device !!!");
  EXPECT_EQ(late->Requests().size(), 5u);  // identified, never started
}

TEST_F(StationRunTest, RunWithNoHandsetEndsAtOnce) {
  LoadImages(RunImages().os, RunImages().csc);
  engine::RunDownload(station->runHost());
  EXPECT_FALSE(dlg().RunInProgress);
  EXPECT_EQ(dlg().Run.Sum(dlg().Run.ChannelThread), 0);
}

TEST_F(StationRunTest, SecondRunOfAChannelWaitsForItsNewWorker) {
  // A failed channel keeps its handset; a second run must not end on the old flags.
  PlugAndLoad(2, [](int i, handset::HandsetConfig& c) {
    if (i == 1) c.writeProtected = true;
  });
  window->Click(IDC_START);
  ASSERT_EQ(dlg().Run.ChannelFinished[1], 1);
  const size_t before = handsets[1]->Requests().size();
  window->Click(IDC_START);
  EXPECT_GT(handsets[1]->Requests().size(), before);
  EXPECT_EQ(dlg().Run.ChannelRunning[1], 0);
  EXPECT_EQ(dlg().Run.ChannelThread[1], 0);
  EXPECT_EQ(BarText(1), "[Channel 1] This device Write Protection Enable !!");
}

// A channel that failed keeps ChannelFailed in the next run, even when that run writes
// its handset: only program start clears it.
TEST_F(StationRunTest, ChannelFailedStaysSetInTheNextRun) {
  PlugAndLoad(2, [](int i, handset::HandsetConfig& c) {
    if (i == 1)
      c.faults.onCommand = {{wire::CMD_CHECK_WRITE_PROTECTION, 1, handset::CommandFault::kNakOnce}};
  });
  window->Click(IDC_START);
  ASSERT_EQ(dlg().Run.ChannelFailed[1], 1);
  ASSERT_TRUE(StartEnabled());
  window->Click(IDC_START);
  ASSERT_TRUE(PumpUntil([&] { return !handsets[1]->Connected(); }));
  EXPECT_EQ(handsets[1]->ResetCount(), 1u);
  EXPECT_TRUE(DoneText(BarText(1))) << BarText(1);
  EXPECT_EQ(dlg().Run.ChannelFailed[1], 1);
}

// A handset pulled out during a run frees its channel; Start stays disabled while the
// other channel still runs.
TEST_F(StationRunTest, StartLeftAloneWhileAnotherChannelRuns) {
  PlugAndLoad(2, [](int i, handset::HandsetConfig& c) {
    if (i == 0) c.faults.disconnectAfterTransfers = 40;
    if (i == 1) c.faults.linkBytesPerSecond = 8 << 20;
  });
  std::atomic<bool> sawRemovalWhileRunning{false};
  std::atomic<bool> startEnabledMeanwhile{false};
  std::thread watcher([&] {
    auto& run = dlg().Run;
    testsupport::PollUntil([&] { return run.DevicePresent[0] == 0 && run.ChannelRunning[1] == 1; });
    sawRemovalWhileRunning = run.ChannelRunning[1] == 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    startEnabledMeanwhile = window->IsWindowEnabled(IDC_START) && run.ChannelRunning[1] == 1;
  });
  window->Click(IDC_START);
  watcher.join();
  EXPECT_TRUE(sawRemovalWhileRunning);
  EXPECT_FALSE(startEnabledMeanwhile);
  EXPECT_EQ(BarText(0), " Error Disconnect Device!!!");
  EXPECT_TRUE(DoneText(BarText(1)));
}

// Start pressed while an image is being confirmed starts nothing: the open is about to
// change what the workers would read. The run starts once the open is over.
TEST_F(StationRunTest, StartDuringAnOpenStartsNoRun) {
  PlugAndLoad(2);
  std::string os;
  {
    std::lock_guard lock(dlg().ImageMutex);
    os = dlg().Image.OsImagePath;
  }
  bool pressed = false;
  window->SetDialogScript([&](ui::HeadlessWindow& confirmation) {
    if (!pressed) {
      pressed = true;
      window->Click(IDC_START);  // a run would end before this returns
    }
    if (confirmation.IsWindowEnabled(ui::IDOK)) confirmation.Click(ui::IDOK);
  });
  ASSERT_TRUE(station->opener().OpenImageAt(image::ImageKind::Os, os));
  EXPECT_TRUE(pressed);
  for (int c = 0; c < 2; ++c) EXPECT_EQ(handsets[c]->ResetCount(), 0u) << c;

  window->Click(IDC_START);
  for (int c = 0; c < 2; ++c) EXPECT_TRUE(DoneText(BarText(c))) << c;
}

TEST_F(StationRunTest, EveryWorkerIsStartedAtTheHighestPriority) {
  PlugAndLoad(3);
  window->Click(IDC_START);

  // Image opening's confirmation worker came before the run and asked for nothing.
  EXPECT_EQ(threads.Requested(),
            std::vector<platform::ThreadPriority>(3, platform::ThreadPriority::Highest));
  for (int c = 0; c < 3; ++c) EXPECT_TRUE(DoneText(BarText(c))) << c;
}

}  // namespace
}  // namespace stationtest
