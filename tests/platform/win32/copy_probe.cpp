// A stand-in station for the Windows single-copy test, copied under chosen names:
// "sleep" runs until it is ended; "start PARENT" waits for a line on its input, then
// starts up as the station does, seeing only PARENT's children, and prints its name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "console/ostrevane_app.h"
#include "platform/process/win32/toolhelp_process_list.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "sleep") == 0)
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
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
