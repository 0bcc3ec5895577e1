// Thread priorities and the console under Wine: each priority is set on the new thread
// whatever its starter runs at, and only a console is readied for live lines.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/terminal/terminal.h"
#include "platform/thread/win32/win32_thread_service.h"

namespace {

TEST(Win32ThreadService, EachThreadRunsAtItsOwnPriorityWhateverItsStarterRunsAt) {
  const struct {
    int starter;
    platform::ThreadPriority asked;
    int runs;
  } cases[] = {
      {THREAD_PRIORITY_NORMAL, platform::ThreadPriority::Highest, THREAD_PRIORITY_HIGHEST},
      {THREAD_PRIORITY_HIGHEST, platform::ThreadPriority::Normal, THREAD_PRIORITY_NORMAL},
      {THREAD_PRIORITY_LOWEST, platform::ThreadPriority::Normal, THREAD_PRIORITY_NORMAL},
  };
  platform::Win32ThreadService service;
  const int own = platform::CurrentThreadPriority();
  for (const auto& c : cases) {
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), c.starter));
    int seen = THREAD_PRIORITY_ERROR_RETURN;
    service.Start(c.asked, [&seen] { seen = platform::CurrentThreadPriority(); }).join();
    EXPECT_EQ(seen, c.runs) << "starter at " << c.starter;
  }
  SetThreadPriority(GetCurrentThread(), own);
}

// Standard output pointed at a pipe. (Wine without a display gives a console whose
// output handle has no console mode, so the console side is seen only by hand.)
TEST(Win32Console, APipeIsNoTerminalAndKeepsTheCodePage) {
  const HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE read = nullptr, write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
  SetStdHandle(STD_OUTPUT_HANDLE, write);
  const UINT codePage = GetConsoleOutputCP();
  EXPECT_FALSE(platform::IsTerminal(1));
  EXPECT_FALSE(platform::PrepareTerminal(1));
  EXPECT_EQ(GetConsoleOutputCP(), codePage);
  CloseHandle(read);
  CloseHandle(write);

  SetStdHandle(STD_OUTPUT_HANDLE, saved);
}

}  // namespace
