// A Windows console is a handle whose console mode can be read; a pipe or a file has
// none. The arguments come from the UTF-16 command line, split as the C runtime does.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "platform/terminal/terminal.h"
#include "platform/text/win32/wide.h"

namespace platform {

namespace {

HANDLE StreamHandle(int standardStream) {
  if (standardStream == 1) return GetStdHandle(STD_OUTPUT_HANDLE);
  if (standardStream == 2) return GetStdHandle(STD_ERROR_HANDLE);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

bool IsTerminal(int standardStream) {
  const HANDLE h = StreamHandle(standardStream);
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && h != nullptr && GetConsoleMode(h, &mode) != FALSE;
}

int TerminalColumns(int standardStream) {
  const HANDLE h = StreamHandle(standardStream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (h == INVALID_HANDLE_VALUE || h == nullptr || GetConsoleScreenBufferInfo(h, &info) == FALSE)
    return 0;
  // The window's width, not the buffer's, which may be far wider than what shows.
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool PrepareTerminal(int standardStream) {
  const HANDLE h = StreamHandle(standardStream);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || GetConsoleMode(h, &mode) == FALSE) return false;
  // The station's text is UTF-8; the console's own code page would show it as mojibake.
  if (SetConsoleOutputCP(CP_UTF8) == FALSE) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) !=
         FALSE;
}

void UseStartingConsole() {
  // A pipe or a file from the starter (a test, a redirection) is kept.
  if (GetFileType(GetStdHandle(STD_ERROR_HANDLE)) != FILE_TYPE_UNKNOWN) return;
  if (AttachConsole(ATTACH_PARENT_PROCESS) == FALSE) return;
  // Only a stream that opened on the console is used; the other stays closed.
  if (FILE* out = std::freopen("CONOUT$", "w", stdout)) std::setvbuf(out, nullptr, _IONBF, 0);
  if (FILE* err = std::freopen("CONOUT$", "w", stderr)) std::setvbuf(err, nullptr, _IONBF, 0);
}

std::vector<std::string> Arguments(int argc, char** argv) {
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(
      CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
  // Without the wide command line the narrow one is all there is.
  if (!wide) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                             : std::vector<std::string>{};
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide.get()[i]));
  return args;
}

}  // namespace platform
