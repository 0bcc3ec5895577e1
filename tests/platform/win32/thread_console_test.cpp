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

// Standard output is pointed at a pipe, then at a console of this process's own.
TEST(Win32Console, OnlyAConsoleIsSwitchedToUtf8AndEscapeSequences) {
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

  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  DWORD mode = 0;
  ASSERT_TRUE(GetConsoleMode(console, &mode));
  ASSERT_TRUE(SetConsoleMode(console, mode & ~DWORD{ENABLE_VIRTUAL_TERMINAL_PROCESSING}));
  SetStdHandle(STD_OUTPUT_HANDLE, console);
  EXPECT_TRUE(platform::IsTerminal(1));
  EXPECT_TRUE(platform::PrepareTerminal(1));
  EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
  ASSERT_TRUE(GetConsoleMode(console, &mode));
  EXPECT_NE(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING, 0u);
  SetStdHandle(STD_OUTPUT_HANDLE, saved);
  CloseHandle(console);
  FreeConsole();
}

}  // namespace
