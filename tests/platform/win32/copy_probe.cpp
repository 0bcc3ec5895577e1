// A stand-in station for the Windows single-copy test, copied under chosen names:
// "sleep" shows a window and runs until it is closed (exit code 7, so that a close is
// told from an end by force); "start PARENT" waits for a line on its input, then starts
// up as the station does, seeing only PARENT's children, and prints its name.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "console/ostrevane_app.h"
#include "platform/process/win32/toolhelp_process_list.h"

namespace {

constexpr int kClosed = 7;

int ShowUntilClosed() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = [](HWND window, UINT message, WPARAM w, LPARAM l) -> LRESULT {
    if (message == WM_DESTROY) PostQuitMessage(kClosed);
    return DefWindowProcW(window, message, w, l);
  };
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"OstrevaneCopyProbe";
  RegisterClassW(&cls);
  const HWND window = CreateWindowExW(0, cls.lpszClassName, L"copy probe", WS_OVERLAPPEDWINDOW,
                                      0, 0, 200, 100, nullptr, nullptr, cls.hInstance, nullptr);
  if (window == nullptr) return 5;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return static_cast<int>(message.wParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "sleep") == 0) return ShowUntilClosed();
  if (argc != 3 || std::strcmp(argv[1], "start") != 0) return 2;
  const int parent = std::atoi(argv[2]);
  std::string go;
  if (!std::getline(std::cin, go)) return 4;
  platform::process::ToolhelpProcessList processes(
      [parent](platform::process::ProcessId, platform::process::ProcessId itsParent) {
        return itsParent == parent;
      });
  console::COstrevaneApp app(processes);
  (void)app.InitInstance([&app] {
    std::printf("started as %s\n", app.ApplicationName().c_str());
    return 0;
  });
  return 0;
}
