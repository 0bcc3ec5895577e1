// A stand-in station for the single-copy test, copied under chosen names: "sleep" just
// runs until it is ended; "start PARENT" waits for a line on its input, then starts up
// as the station does, seeing only its parent's children, and prints its own name.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "console/ostrevane_app.h"
#include "platform/process/linux/proc_process_list.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "sleep") == 0) {
    for (;;) pause();
  }
  if (argc != 3 || std::strcmp(argv[1], "start") != 0) return 2;
  const int parent = std::atoi(argv[2]);
  // Orphaned, its siblings would be whatever the adopting process has started.
  if (parent <= 1 || getppid() != parent) return 3;

  std::string go;
  if (!std::getline(std::cin, go)) return 4;
  platform::process::ProcProcessList processes(
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
