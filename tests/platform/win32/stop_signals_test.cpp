// The console events under Wine: Ctrl-C and Ctrl-Break count one stop each; an event that
// ends the process on return cuts the run off and returns only once the records are final.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/signal/stop_signals.h"
#include "platform/signal/win32/console_events.h"

namespace {

using std::chrono::milliseconds;

TEST(Win32StopSignals, CtrlCAndCtrlBreakCountOneStopEachAndReturnAtOnce) {
  platform::StopSignals stops;
  EXPECT_TRUE(platform::StopSignalsConsoleHandler(CTRL_C_EVENT));
  EXPECT_EQ(stops.Count(), 1);
  EXPECT_TRUE(platform::StopSignalsConsoleHandler(CTRL_BREAK_EVENT));
  EXPECT_EQ(stops.Count(), 2);
}

TEST(Win32StopSignals, AnEndingEventCutsOffAndWaitsForTheFinalRecords) {
  for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    SCOPED_TRACE(event);
    platform::StopSignals stops;
    // Windows runs the handler on a thread of its own.
    auto handled = std::async(std::launch::async,
                              [event] { return platform::StopSignalsConsoleHandler(event); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (stops.Count() < 2 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    EXPECT_EQ(stops.Count(), 2);
    EXPECT_EQ(handled.wait_for(milliseconds(100)), std::future_status::timeout)
        << "returned before the records were final: Windows would end the process";
    stops.RecordsFinal();
    ASSERT_EQ(handled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(handled.get());
  }
}

}  // namespace
