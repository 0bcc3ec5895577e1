// What the image integrity check costs a ten-handset run on 40 MiB/s virtual links: runs
// with the check on and off alternate on fresh stations, and the medians are set side by
// side. Usage: ostrevane_integrity_timing [MiB] [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "bench/flash/bench_station.h"
#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/thread/thread_service.h"
#include "platform/time/cpu_time.h"
#include "platform/ui/headless/headless_window.h"

namespace {

constexpr uint64_t kUsb2Link = 40ull * 1024 * 1024;
constexpr int kHandsets = 10;

struct Timed {
  double wall = 0;
  double cpu = 0;
  bool ok = false;
};

// One run from the Start button; the images are confirmed as the operator's open does,
// and with `check` off what the confirmation saw is dropped before the start.
Timed TimedRun(const bench::BenchImages& images, bool check) {
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
    phones.push_back(std::make_shared<handset::VirtualHandset>(
        bench::BenchHandset("7&integrity&0&" + std::to_string(c), kUsb2Link), clock));
    bus.Plug(phones.back());
  }
  window->PumpUntil([&] { return station.dlg().Run.BoundDeviceCount == kHandsets; });
  station.opener().OpenImageAt(image::ImageKind::Os, images.os);
  station.opener().OpenImageAt(image::ImageKind::Csc, images.csc);
  bool confirmed = false;
  {
    std::lock_guard lock(station.dlg().ImageMutex);
    image::ImageState& state = station.dlg().Image;
    confirmed = state.OsConfirmed.has_value() && state.CscConfirmed.has_value();
    if (!check) {
      state.OsConfirmed.reset();
      state.CscConfirmed.reset();
    }
  }

  const auto cpu0 = platform::ProcessCpuTime();
  const auto t0 = std::chrono::steady_clock::now();
  window->Click(console::IDC_START);  // returns when every handset has left
  Timed t;
  t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  t.cpu = std::chrono::duration<double>(platform::ProcessCpuTime() - cpu0).count();
  int done = 0;
  for (const auto& p : phones) done += p->ResetCount() == 1 ? 1 : 0;
  t.ok = confirmed && done == kHandsets;
  return t;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 128;
  const long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3;
  if (megabytes <= 0 || megabytes > 4000 || rounds <= 0 || rounds > 100) {
    std::fprintf(stderr,
                 "usage: ostrevane_integrity_timing [MiB of MainOS, 1..4000] [rounds, 1..100]\n");
    return 2;
  }
  const bench::BenchImages images = bench::PrepareImages(static_cast<uint32_t>(megabytes));
  std::vector<double> wallOn, wallOff, cpuOn, cpuOff;
  bool allOk = true;
  for (long r = 0; r < rounds; ++r) {
    // Alternating, and starting with the other one each round, so that a machine getting
    // busier or quieter weighs on both alike.
    for (const bool check : {r % 2 == 0, r % 2 != 0}) {
      const Timed t = TimedRun(images, check);
      allOk = allOk && t.ok;
      (check ? wallOn : wallOff).push_back(t.wall);
      (check ? cpuOn : cpuOff).push_back(t.cpu);
      std::printf("round=%ld check=%s ok=%d wall_s=%.3f cpu_s=%.3f\n", r, check ? "on" : "off",
                  t.ok ? 1 : 0, t.wall, t.cpu);
    }
  }
  const double on = Median(wallOn);
  const double off = Median(wallOff);
  std::printf(
      "median wall_s on=%.3f off=%.3f cost=%+.2f%%  median cpu_s on=%.3f off=%.3f cost=%+.2f%%\n",
      on, off, (on / off - 1) * 100, Median(cpuOn), Median(cpuOff),
      (Median(cpuOn) / Median(cpuOff) - 1) * 100);
  return allOk ? 0 : 1;
}
