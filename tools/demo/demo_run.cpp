// Builds the station on the virtual bus, memory registry and headless window, serves
// the window on the calling thread while the automatic start runs, then judges every
// handset against the image files.
#include "demo/demo_run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/control_ids.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "demo/handset_check.h"
#include "demo/image_file.h"
#include "demo/virtual_line.h"
#include "handset/virtual_handset.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/ui/headless/headless_window.h"
#include "platform/usb/virtual/virtual_usb_bus.h"

namespace demo {
namespace {

using Clock = std::chrono::steady_clock;

// Log lines carry "\r\n"; a terminal wants "\n".
std::string TerminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Generous: a few minutes, plus twice what the slowest link needs for the image.
std::chrono::seconds RunAllowance(const ImageFile& os, uint64_t linkMbps) {
  uint64_t seconds = 300 + os.fileSize / (20u << 20);
  if (linkMbps > 0) seconds += 2 * os.fileSize / (linkMbps * 1000000 / 8);
  return std::chrono::seconds(seconds);
}

std::string Cell(const std::string& text, size_t width) {
  std::string t = text.size() > width ? text.substr(0, width) : text;
  return t + std::string(width - t.size() + 2, ' ');
}

}  // namespace

DemoReport RunDemo(const DemoOptions& o, platform::Clock& clock, std::ostream& out) {
  DemoReport report;
  std::string error;
  auto os = ReadImageFile(o.osPath, &error);
  auto csc = os ? ReadImageFile(o.cscPath, &error) : std::nullopt;
  if (!os || !csc) {
    out << "ostrevane_demo: " << error << "\n";
    return report;
  }
  if (GptOfImage(*os).empty()) {
    out << "ostrevane_demo: " << o.osPath << " carries no partition table (\"GPT\" partition)\n";
    return report;
  }
  std::error_code ec;
  std::filesystem::create_directories(o.outDir, ec);
  const std::string capturePath = (std::filesystem::path(o.outDir) / "capture.pcap").string();
  const std::string dumpPath = (std::filesystem::path(o.outDir) / "handset0").string();

  platform::usb::VirtualUsbBus bus{clock};
  platform::notify::VirtualBusNotifications notifications{bus};
  platform::registry::MemoryRegistry registry;
  if (!bus.StartCapture(capturePath)) out << "ostrevane_demo: cannot write " << capturePath << "\n";

  // The handsets are attached before the station starts, as on a line where they were
  // plugged in first: the start-up scan of the WinUSB instance list binds them.
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets;
  std::vector<std::string> instances;
  for (int i = 0; i < o.handsets; ++i) {
    handsets.push_back(
        std::make_shared<handset::VirtualHandset>(HandsetFor(&*os, i, o.linkMbps), clock));
    instances.push_back(handsets.back()->InstanceId());
    bus.Plug(handsets.back());
  }
  instances.push_back(kForeignInstance);
  ListInstances(registry, instances);
  report.handsets = o.handsets;

  out << "Ostrevane station, " << o.handsets << " virtual handset(s) "
      << (o.linkMbps ? "at " + std::to_string(o.linkMbps) + " Mbit/s each" : "on unlimited links")
      << "\n  OS image  " << o.osPath << " (" << os->model << ", " << os->fileSize << " bytes)"
      << "\n  CSC image " << o.cscPath << "\n  command line: AUTO_DLOAD " << o.osPath << " "
      << o.cscPath << "\n\n";

  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* window = headless.get();
  window->SetMessageBoxAnswerer([&out](const ui::MessageBoxRecord& box) {
    out << "[message box \"" << box.caption << "\"] " << box.text << "\n";
    return ui::IDOK;
  });
  console::Station station(std::move(headless),
                           console::StationServices{bus, notifications, registry, clock},
                           console::ParseAutoStart({"AUTO_DLOAD", o.osPath, o.cscPath}));

  const Clock::time_point start = Clock::now();
  station.dlg().OnInitDialog();
  size_t logShown = 0;
  auto showNewLog = [&] {
    const std::string log = window->GetText(console::IDC_LOG);
    if (log.size() <= logShown) return;
    out << TerminalText(log.substr(logShown)) << std::flush;
    logShown = log.size();
  };
  auto showProgress = [&] {
    out << "  -- " << static_cast<int>(SecondsSince(start)) << " s:";
    for (int c = 0; c < o.handsets; ++c)
      out << (c ? " |" : "") << " " << Trimmed(station.dlg().Bar(c).Text());
    out << "\n" << std::flush;
  };

  const Clock::time_point deadline = start + RunAllowance(*os, o.linkMbps);
  Clock::time_point nextProgress = start + std::chrono::seconds(2);
  auto done = [&] { return station.AutoStartDone(); };
  bool timedOut = false;
  while (!done()) {
    window->PumpUntil(done, std::chrono::milliseconds(100));
    showNewLog();
    if (station.dlg().RunInProgress && Clock::now() >= nextProgress) {
      showProgress();
      nextProgress = Clock::now() + std::chrono::seconds(2);
    }
    if (!timedOut && Clock::now() > deadline) {
      // Pulling every cable ends the workers, and with them the run.
      out << "ostrevane_demo: the run did not end in time; unplugging every handset\n";
      timedOut = true;
      for (auto& h : handsets) bus.Unplug(h.get());
      if (!window->PumpUntil(done, std::chrono::seconds(60))) {
        out << "ostrevane_demo: the station does not stop; giving up" << std::endl;
        std::_Exit(1);  // the automatic start's thread cannot be left behind safely
      }
    }
  }
  report.seconds = SecondsSince(start);
  showNewLog();
  bus.StopCapture();

  image::ModelFamily family;
  {
    std::lock_guard lock(station.dlg().ImageMutex);
    family = station.dlg().Image.CurrentModelFamily;
  }
  const std::string salesCode = window->ComboSelectedText(console::IDC_SALES_CODE);

  out << "\nChannel  " << Cell("Box", 24) << Cell("Bar", 36) << "eMMC vs image       CSC files\n";
  for (int c = 0; c < o.handsets; ++c) {
    const auto& h = *handsets[static_cast<size_t>(c)];
    HandsetVerdict v = CheckHandset(h, *os, *csc, family, salesCode);
    char partitions[32];
    std::snprintf(partitions, sizeof partitions, "%d/%d partitions", v.partitionsMatching,
                  v.partitionsChecked);
    out << Cell(std::to_string(c), 7)
        << Cell(Trimmed(window->GetText(console::ChannelBoxId(c))), 24)
        << Cell(Trimmed(station.dlg().Bar(c).Text()), 36) << Cell(partitions, 18)
        << (v.cscPackage ? "CSC.mbn " : "CSC.mbn MISSING/WRONG ")
        << (v.salesCode ? "SalesCode.cfg(" + salesCode + ")" : "SalesCode.cfg MISSING/WRONG")
        << (v.ok() ? "  OK" : "  FAILED") << "\n";
    for (const auto& m : v.mismatches) out << "         " << m << "\n";
    if (v.ok()) ++report.written;
  }

  char summary[160];
  std::snprintf(summary, sizeof summary, "\n%d of %d handset(s) written correctly in %.1f s",
                report.written, report.handsets, report.seconds);
  out << summary;
  uint64_t linkBytes = 0;
  for (const auto& h : handsets) linkBytes += h->LinkBytes();
  if (report.seconds > 0) {
    std::snprintf(summary, sizeof summary, " (%.1f MB sent to the handsets, %.1f MB/s)",
                  static_cast<double>(linkBytes) / 1e6,
                  static_cast<double>(linkBytes) / 1e6 / report.seconds);
    out << summary;
  }
  out << "\n";

  if (handsets.front()->DumpTo(dumpPath))
    out << "Handset 0 dumped to " << dumpPath << " (emmc.img is sparse, files/, state.txt)\n";
  else
    out << "ostrevane_demo: cannot dump handset 0 to " << dumpPath << "\n";
  out << "USB capture of the bus: " << capturePath << "\n";

  // Handsets still attached (failed ones) leave before the window goes.
  for (auto& h : handsets) bus.Unplug(h.get());
  window->PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  return report;
}

}  // namespace demo
