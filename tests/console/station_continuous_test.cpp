// Continuous mode and seat plans on the whole station: handsets that arrive during a run
// are written at once until the count or the close, and a seat plan decides the channel.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "console/line_mode.h"
#include "station_fixture.h"
#include "support/test_env.h"

namespace stationtest {
namespace {

using console::IDC_START;

const testsupport::ImagePair& Images() {
  static const testsupport::ImagePair images = testsupport::BuildImagePair("continuous");
  return images;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class ContinuousTest : public StationTest {
 protected:
  handset::HandsetConfig Phone(int index) {
    handset::HandsetConfig c = testsupport::HandsetFor(Images().os);
    c.instancePart = Config(index).instancePart;
    return c;
  }
  std::shared_ptr<handset::VirtualHandset> Unplugged(handset::HandsetConfig config) {
    auto h = std::make_shared<handset::VirtualHandset>(std::move(config), clock);
    handsets.push_back(h);
    return h;
  }
  void SetMode(bool continuous, int count, std::optional<console::SeatPlan> seats = {}) {
    console::LineMode mode;
    mode.continuous = continuous;
    mode.count = count;
    mode.seats = std::move(seats);
    station->SetLineMode(std::move(mode));
  }
  std::string Log() { return window->GetText(console::IDC_LOG); }
};

TEST_F(ContinuousTest, EachArrivalOnTheFreedChannelIsWrittenUntilTheCount) {
  SetMode(true, 4);
  Plug(Phone(0));
  LoadImages(Images().os, Images().csc);
  std::vector<std::shared_ptr<handset::VirtualHandset>> line = {handsets[0]};
  for (int i = 1; i < 4; ++i) line.push_back(Unplugged(Phone(i)));
  std::atomic<int> plugged{1};
  // One at a time, each once the one before has been written and has left: every one
  // lands on channel 0, freed by the handset before.
  std::thread operatorHands([&] {
    for (size_t i = 1; i < line.size(); ++i) {
      // Once the station has heard it leave: the handset knows it is off the bus first.
      if (!testsupport::PollUntil([&] {
            return line[i - 1]->ResetCount() == 1 && dlg().Run.DevicePresent[0] == 0;
          }))
        return;
      bus.Plug(line[i]);
      ++plugged;
    }
  });
  window->Click(IDC_START);  // returns when the run has ended
  operatorHands.join();

  ASSERT_EQ(plugged, 4);
  for (size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(line[i]->ResetCount(), 1u) << i;
    EXPECT_FALSE(line[i]->Connected()) << i;
  }
  EXPECT_FALSE(dlg().RunInProgress);
  const std::string log = Log();
  EXPECT_EQ(Count(log, console::TEXT_CONTINUOUS), 1u) << log;
  EXPECT_EQ(Count(log, console::TEXT_CONTINUOUS_ANY_HANDSET), 1u) << log;
  EXPECT_EQ(Count(log, "[Channel 0] Binary Download complete!!"), 4u) << log;
}

TEST_F(ContinuousTest, AHandsetArrivingAfterTheCloseIsNotStartedAndDoesNotHoldTheRun) {
  SetMode(true, 0);
  handset::HandsetConfig slow = Phone(0);
  slow.faults.linkBytesPerSecond = 16 << 20;
  Plug(slow);
  LoadImages(Images().os, Images().csc);
  auto late = Unplugged(Phone(1));
  std::atomic<bool> boundWhileRunning{false};
  std::thread operatorHands([&] {
    auto& run = dlg().Run;
    if (!testsupport::PollUntil([&] { return run.ChannelRunning[0] == 1; })) return;
    dlg().Post([this] { dlg().OnCancel(); });
    if (!testsupport::PollUntil([&] { return dlg().CloseRequested(); })) return;
    bus.Plug(late);
    boundWhileRunning = testsupport::PollUntil([&] { return run.DevicePresent[1] == 1; }) && run.ChannelRunning[0] == 1;
  });
  window->Click(IDC_START);
  operatorHands.join();

  EXPECT_TRUE(boundWhileRunning);
  EXPECT_EQ(handsets[0]->ResetCount(), 1u);
  EXPECT_EQ(late->ResetCount(), 0u);
  EXPECT_EQ(late->Requests().size(), 5u);  // identified, never started
  EXPECT_FALSE(dlg().RunInProgress);
}

TEST_F(ContinuousTest, OrdinaryRunSaysNothingOfContinuousMode) {
  Plug(Phone(0));
  LoadImages(Images().os, Images().csc);
  window->Click(IDC_START);
  EXPECT_EQ(Count(Log(), console::TEXT_CONTINUOUS), 0u) << Log();
}

TEST_F(ContinuousTest, SeatPlanBindsEachHandsetToItsSeatsChannelAndNoOtherHandset) {
  // The virtual bus names seats "virtual-<n>" in plugging order; the plan reverses them.
  SetMode(false, 0,
          console::SeatPlan{{{"virtual-4", "D"}, {"virtual-3", "C"}, {"virtual-2", "B"},
                             {"virtual-1", "A"}}});
  for (int i = 0; i < 5; ++i) Plug(Phone(i));

  for (int c = 0; c < 4; ++c) EXPECT_EQ(dlg().Run.DevicePresent[c], 1) << c;
  EXPECT_EQ(dlg().Run.DevicePresent[4], 0);
  for (const auto& device : station->table().Devices())
    EXPECT_EQ(device->m_pHandleInfo->location, "virtual-" + std::to_string(4 - device->m_nChannel));
  EXPECT_EQ(station->table().Devices().size(), 4u);
  EXPECT_TRUE(handsets[4]->Requests().empty());  // never spoken to
  EXPECT_EQ(Count(Log(), "handset at virtual-5 is on no seat of this station; left alone\r\n"), 1u)
      << Log();
}

// The operator may put the next handset on a seat before the station has heard the last
// one leave: it waits for its seat instead of being left unbound on it, whether its path
// is its own or the one the port gave the handset before.
TEST_F(ContinuousTest, AnArrivalAtASeatStillHeldIsBoundWhenTheSeatsHandsetLeaves) {
  SetMode(true, 0, console::SeatPlan{{{"1-1.4", "A"}}});
  for (const int nextIndex : {1, 0}) {
    SCOPED_TRACE(nextIndex == 0 ? "the port's path again" : "a path of its own");
    handset::HandsetConfig first = Phone(0);
    handset::HandsetConfig next = Phone(nextIndex);
    first.location = next.location = "1-1.4";
    auto held = Plug(first);
    auto waiting = Plug(next);
    ASSERT_EQ(station->table().Devices().size(), 1u);
    Unplug(held);

    ASSERT_EQ(station->table().Devices().size(), 1u);
    EXPECT_EQ(dlg().Run.DevicePresent[0], 1);
    EXPECT_FALSE(waiting->Requests().empty());  // opened and asked who it is
    Unplug(waiting);
    EXPECT_TRUE(station->table().Devices().empty());
  }
}

}  // namespace
}  // namespace stationtest
