// A whole run from the Start button: ten virtual handsets on 40 MB/s links through the
// main window (headless) and the run controller; wall time against the ideal, and the
// CPU the window's thread spent in the run's wait.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "bench_station.h"
#include "console/control_ids.h"
#include "console/image_open.h"
#include "console/main_window_template.h"
#include "console/station.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/thread/posix/posix_thread_service.h"
#include "platform/time/cpu_time.h"
#include "platform/ui/headless/headless_window.h"

namespace {

constexpr uint64_t kUsb2Link = 40ull * 1024 * 1024;
constexpr int kHandsets = 10;

void BM_RunDownloadTenHandsets(benchmark::State& state) {
  const uint32_t megabytes = static_cast<uint32_t>(state.range(0));
  const bench::BenchImages images = bench::PrepareImages(megabytes);
  for (auto _ : state) {
    platform::SystemClock clock;
    platform::PosixThreadService threads;
    platform::usb::VirtualUsbBus bus{clock};
    platform::notify::VirtualBusNotifications notifications{bus};
    platform::registry::MemoryRegistry registry;
    auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
    ui::HeadlessWindow* window = headless.get();
    console::Station station(
        std::move(headless),
        console::StationServices{bus, notifications, registry, clock, threads});
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

    const auto cpu0 = platform::ThreadCpuTime();
    const auto t0 = std::chrono::steady_clock::now();
    window->Click(console::IDC_START);  // returns when every handset has left
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double waitCpu = std::chrono::duration<double>(platform::ThreadCpuTime() - cpu0).count();

    int ok = 0;
    for (const auto& p : phones) ok += p->ResetCount() == 1 ? 1 : 0;
    const double linkBytes = static_cast<double>(phones[0]->LinkBytes());
    const double ideal = linkBytes / kUsb2Link + 0.9;
    const double dataIdeal =
        static_cast<double>(phones[0]->emmc().BytesWritten()) / kUsb2Link + 0.9;
    state.SetIterationTime(wall);
    state.counters["handsets_ok"] = ok;
    state.counters["ideal_s"] = ideal;
    state.counters["wall_over_ideal"] = wall / ideal;
    state.counters["wall_over_data_ideal"] = wall / dataIdeal;
    state.counters["wait_thread_cpu_s"] = waitCpu;
    state.counters["wait_thread_cpu_pct"] = 100.0 * waitCpu / wall;
  }
}

}  // namespace

BENCHMARK(BM_RunDownloadTenHandsets)
    ->Arg(256)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
