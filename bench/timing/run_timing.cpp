// One ten-handset run from the Start button on 40 MiB/s virtual links, timed without
// Google Benchmark (which has no Windows build here): wall time over the links' ideal,
// the same ratio the flashing benchmark reports. Usage: ostrevane_run_timing [MiB]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/flash/bench_station.h"
#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/thread/thread_service.h"
#include "platform/ui/headless/headless_window.h"

namespace {

constexpr uint64_t kUsb2Link = 40ull * 1024 * 1024;
constexpr int kHandsets = 10;

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 256;
  if (megabytes <= 0 || megabytes > 4000) {
    std::fprintf(stderr, "usage: ostrevane_run_timing [MiB of MainOS, 1..4000]\n");
    return 2;
  }
  const bench::BenchImages images = bench::PrepareImages(static_cast<uint32_t>(megabytes));
  platform::SystemClock clock;
  const auto threads = platform::MakeSystemThreadService();
  platform::usb::VirtualUsbBus bus{clock};
  platform::notify::VirtualBusNotifications notifications{bus};
  platform::registry::MemoryRegistry registry;
  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* window = headless.get();
  console::Station station(std::move(headless),
                           console::StationServices{bus, notifications, registry, clock, *threads});
  station.dlg().OnInitDialog();
  std::vector<std::shared_ptr<handset::VirtualHandset>> phones;
  for (int c = 0; c < kHandsets; ++c) {
    handset::HandsetConfig cfg;
    cfg.instancePart = "7&run&0&" + std::to_string(c);
    cfg.storage = handset::StorageKind::kDigest;
    cfg.keepRequestLog = false;
    cfg.faults.linkBytesPerSecond = kUsb2Link;
    phones.push_back(std::make_shared<handset::VirtualHandset>(cfg, clock));
    bus.Plug(phones.back());
  }
  window->PumpUntil([&] { return station.dlg().Run.BoundDeviceCount == kHandsets; });
  station.opener().OpenImageAt(image::ImageKind::Os, images.os);
  station.opener().OpenImageAt(image::ImageKind::Csc, images.csc);

  const auto t0 = std::chrono::steady_clock::now();
  window->Click(console::IDC_START);  // returns when every handset has left
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  int ok = 0;
  for (const auto& p : phones) ok += p->ResetCount() == 1 ? 1 : 0;
  // The channels start channel x 100 ms apart: the last starts 0.9 s after the first.
  const double ideal = static_cast<double>(phones[0]->LinkBytes()) / kUsb2Link + 0.9;
  std::printf("handsets_ok=%d wall_s=%.3f ideal_s=%.3f wall_over_ideal=%.4f\n", ok, wall, ideal,
              wall / ideal);
  return ok == kHandsets ? 0 : 1;
}
