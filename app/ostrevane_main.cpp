// ostrevane: the station with its Qt window, on real handsets through libusb, or on the
// virtual bus with "--virtual-handsets N"; "--capture FILE" records every bulk transfer.
// Usage: ostrevane [AUTO_DLOAD OS CSC] [--virtual-handsets N] [--capture FILE]
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console/about_dlg.h"
#include "console/main_window_template.h"
#include "console/ostrevane_app.h"
#include "console/station.h"
#include "demo/image_file.h"
#include "demo/virtual_line.h"
#include "handset/virtual_handset.h"
#include "platform/notify/libusb/libusb_notifications.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/process/linux/proc_process_list.h"
#include "platform/registry/posix/file_registry.h"
#include "platform/registry/libusb/instance_list_registry.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/thread/posix/posix_thread_service.h"
#include "platform/ui/qt/qt_backend.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "platform/usb/libusb/libusb_host.h"
#include "platform/usb/virtual/virtual_usb_bus.h"

namespace {

constexpr const char* kUsage =
    "usage: ostrevane [AUTO_DLOAD OS.kx4 CSC.csc] [--virtual-handsets N] [--capture FILE]\n";
constexpr const char* kHelp =
    "\n"
    "The flashing station's window: handsets in download mode are bound to channels as\n"
    "they arrive, the operator opens an OS image (and a CSC image) and presses Start.\n"
    "\n"
    "  AUTO_DLOAD OS CSC     exactly these three arguments: bind the handsets attached\n"
    "                        now, open both images and start a run\n"
    "  --virtual-handsets N  put N virtual handsets (0..32) on the virtual bus instead of\n"
    "                        real handsets through libusb\n"
    "  --capture FILE        record every bulk transfer in FILE\n"
    "  --help                print this text and exit\n"
    "  --version             print the version and exit\n";

std::atomic<int> g_signal{0};
void OnSignal(int number) {
  g_signal = number;
}

struct Arguments {
  std::vector<std::string> station;  // what the station sees as its command line
  int virtualHandsets = -1;          // -1: real handsets through libusb
  std::string capturePath;
  bool help = false;
  bool version = false;
};

bool ParseArguments(int argc, char** argv, Arguments* out) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // The station's own options are taken out before the AUTO_DLOAD rule counts.
    if (arg == "--help") {
      out->help = true;
    } else if (arg == "--version") {
      out->version = true;
    } else if (arg == "--virtual-handsets") {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || n < 0 || n > 32) return false;
      out->virtualHandsets = static_cast<int>(n);
    } else if (arg == "--capture") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return false;
      out->capturePath = argv[++i];
    } else {
      out->station.push_back(arg);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!ParseArguments(argc, argv, &args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // Caught from the start: a signal that comes while the window is being built is
  // served as soon as it runs.
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  // The application object comes first: it names the program (the version line and the
  // boxes' captions); it ends the other copies only once the window exists.
  platform::process::ProcProcessList processes;
  console::COstrevaneApp theApp{processes};
  const std::string& name = theApp.ApplicationName();
  if (args.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (args.version) {
    std::printf("%s %s\n", name.c_str(), console::STATION_VERSION);
    return 0;
  }
  const std::optional<console::AutoStart> autoStart = console::ParseAutoStart(args.station);

  ui::QtApplication app(argc, argv);
  platform::SystemClock clock;
  platform::PosixThreadService threads;
  const bool virtualBus = args.virtualHandsets >= 0;
  // The machine's keys (the virtual line's WinUSB instance list) live in memory; the
  // operator's settings persist in the user's settings file.
  platform::registry::MemoryRegistry machine;
  platform::registry::FileRegistry settings(platform::registry::FileRegistry::DefaultPath(),
                                            &machine);

  // Real handsets: libusb for transfers, its hotplug for arrivals, and the attached
  // handsets as the instance list of the automatic start.
  std::unique_ptr<platform::usb::LibusbHost> real;
  std::unique_ptr<platform::notify::LibusbNotifications> realNotifications;
  std::unique_ptr<platform::registry::InstanceListRegistry> instanceList;
  if (!virtualBus) {
    real = std::make_unique<platform::usb::LibusbHost>(clock);
    if (!real->ok())
      std::fputs("ostrevane: libusb could not be started; no handset will be seen\n", stderr);
    realNotifications = std::make_unique<platform::notify::LibusbNotifications>(*real);
    instanceList = std::make_unique<platform::registry::InstanceListRegistry>(*real, settings);
  }
  platform::usb::VirtualUsbBus bus{clock};
  platform::notify::VirtualBusNotifications notifications{bus};
  platform::usb::UsbHost& usb = real ? static_cast<platform::usb::UsbHost&>(*real) : bus;
  platform::usb::CapturingUsbHost capture{usb};
  if (!args.capturePath.empty() && !capture.StartCapture(args.capturePath)) {
    std::fprintf(stderr, "ostrevane: cannot write the capture file %s\n", args.capturePath.c_str());
    return 2;
  }

  // Handsets suit the automatic start's OS image when there is one.
  std::optional<demo::ImageFile> os;
  if (autoStart) {
    std::string error;
    os = demo::ReadImageFile(autoStart->osPath, &error);
  }
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  for (int i = 0; i < args.virtualHandsets; ++i)
    handsets.push_back(std::make_shared<handset::VirtualHandset>(
        demo::HandsetFor(os ? &*os : nullptr, i, 0), clock));

  // An automatic start binds the handsets that are attached when it begins: they are
  // plugged first and named by the WinUSB driver's list, as on a line PC.
  if (autoStart && !handsets.empty()) {
    std::vector<std::string> ids;
    for (const auto& h : handsets) {
      bus.Plug(h);
      ids.push_back(h->InstanceId());
    }
    ids.push_back(demo::kForeignInstance);
    demo::ListInstances(machine, ids);
  }

  platform::notify::DeviceNotifications& arrivals =
      realNotifications ? static_cast<platform::notify::DeviceNotifications&>(*realNotifications)
                        : notifications;
  platform::registry::Registry& registry =
      instanceList ? static_cast<platform::registry::Registry&>(*instanceList) : settings;
  console::Station station(ui::CreateQtWindow(console::MainWindowTemplate()),
                           console::StationServices{capture, arrivals, registry, clock, threads},
                           autoStart);
  console::COstrevaneDlg& dlg = station.dlg();
  dlg.ApplicationTitle = name;
  if (real) real->SetNoticeSink([&dlg](const std::string& line) { dlg.AppendLogText(line); });

  // Otherwise they arrive one by one once the window listens, like cables plugged in.
  std::atomic<bool> leaving{false};
  std::thread plugger;
  auto stationInit = dlg.hooks.initDone;
  dlg.hooks.initDone = [&] {
    stationInit();
    if (autoStart || handsets.empty()) return;
    plugger = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      for (const auto& h : handsets) {
        if (leaving) return;
        bus.Plug(h);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    });
  };

  // SIGTERM and SIGINT close the window the way the operator's Escape does: at once
  // when idle; during a run once it has finished; during the automatic start once it
  // has stopped. A second signal meanwhile changes nothing.
  std::thread signalWatch([&] {
    while (!leaving) {
      if (g_signal.exchange(0) != 0) dlg.Post([&dlg] { dlg.OnCancel(); });
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });

  // The station object exists; now the other copies go, then the window runs.
  (void)theApp.InitInstance([&station] { return station.DoModal(); });

  if (real) real->SetNoticeSink({});
  leaving = true;
  signalWatch.join();
  if (plugger.joinable()) plugger.join();
  for (const auto& h : handsets) bus.Unplug(h.get());
  return 0;
}
