// A channel's record as the keeper makes it on a station's window: its times are read
// from the wall clock, its duration from the station's clock, which no one sets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#include "backend/virtual_line.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "platform/ui/headless/headless_window.h"
#include "records/record_keeper.h"
#include "records/run_records.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

using namespace std::chrono;

// Stands still until the test moves it.
class HandClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return ticks; }
  void Sleep(uint32_t milliseconds) override { ticks += milliseconds; }
  std::chrono::nanoseconds RealDuration(uint32_t) override { return {}; }
  std::atomic<uint32_t> ticks{0};
};

// A station on an empty line, whose window the keepers read.
class RecordKeeperTest : public ::testing::Test {
 protected:
  platform::Clock& stationClock = testsupport::FastClock();
  testsupport::RecordingThreadService threads;
  backends::VirtualLine line{stationClock};
  console::Station station{std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate()),
                           console::StationServices{line.Usb(), line.Notifications(),
                                                    line.Registry(), stationClock, threads}};
};

TEST_F(RecordKeeperTest, DurationIsTheStationClocksEvenWhenTheWallClockStepsDuringTheRun) {
  struct Case {
    const char* name;
    uint32_t startTick;
    uint32_t runTicks;
    seconds wallStep;  // the wall clock set during the run
  };
  const Case cases[] = {
      {"set back an hour", 1000, 5000, -hours(1)},
      {"set forward a day", 1000, 5000, hours(24)},
      {"tick counter wraps", 0xFFFFF000u, 0x2000u, seconds(0)},
  };
  for (const Case& c : cases) {
    HandClock clock;
    const system_clock::time_point start = sys_days{2026y / December / 9} + 10h;
    system_clock::time_point wall = start;
    records::RecordKeeper keeper(station.dlg(), clock,
                                 {"3f0c7a52-8d1e-4b6a-9c2f-5e7d1a0b4c93", "st"}, {}, {}, nullptr,
                                 {}, [&wall] { return wall; });
    engine::ChannelStartInfo handset;
    handset.channel = 2;
    handset.seat = "A3";
    clock.ticks = c.startTick;
    keeper.ChannelStarted(handset);
    clock.ticks += c.runTicks;
    wall += c.wallStep + milliseconds(c.runTicks);
    keeper.ChannelEnded(2, engine::ChannelEnd{true, engine::FailureReason::kNone, "", 0});

    const auto ended = keeper.Ended();
    ASSERT_EQ(ended.size(), 1u) << c.name;
    EXPECT_EQ(ended[0].durationMs, int64_t{c.runTicks}) << c.name;
    // The times a person reads stay the wall clock's.
    EXPECT_EQ(ended[0].startMs, duration_cast<milliseconds>(start.time_since_epoch()).count());
    EXPECT_EQ(ended[0].endMs, duration_cast<milliseconds>(wall.time_since_epoch()).count());
    EXPECT_EQ(ended[0].seat, "A3") << c.name;
  }
}

// A window's continuous session lasts a shift; its channels' earlier handsets are in the
// file and must not pile up in memory while another channel keeps the run going.
TEST_F(RecordKeeperTest, TheWindowsSessionKeepsNoEarlierHandsetOfAChannel) {
  records::ResultsFile results;
  std::string error;
  ASSERT_TRUE(results.Open(testsupport::ScratchDir("session") + "/r.jsonl", &error)) << error;
  records::RunRecords run(station.dlg(), stationClock, "st", results);
  run.RunPerHandset("3f0c7a52-8d1e-4b6a-9c2f-5e7d1a0b4c93");
  engine::ChannelStartInfo slow;
  slow.channel = 1;
  run.ChannelStarted(slow);  // runs all along
  engine::ChannelStartInfo quick;
  quick.channel = 0;
  for (int i = 0; i < 50; ++i) {
    run.ChannelStarted(quick);
    run.ChannelEnded(0, engine::ChannelEnd{true, engine::FailureReason::kNone, "", 0});
  }
  ASSERT_NE(run.Current(), nullptr);
  EXPECT_EQ(run.Current()->Ended().size(), 1u);
}

}  // namespace
