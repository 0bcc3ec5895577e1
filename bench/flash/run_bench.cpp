// A whole run from the Start button: ten virtual handsets on 40 MB/s links through the
// main window (headless) and the run controller; wall time against the ideal, the CPU
// the window's thread spent in the run's wait, and what a USB capture costs the run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

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
#include "platform/usb/capture/capturing_usb_host.h"

namespace {

constexpr uint64_t kUsb2Link = 40ull * 1024 * 1024;
constexpr int kHandsets = 10;

struct RunFigures {
  double wall = 0;  // seconds from Start until every handset has left (and the capture is written)
  double waitCpu = 0;
  int ok = 0;
  double linkBytes = 0;
  double dataBytes = 0;
  std::string captureSummary;
};

// One run of ten handsets; through a capture into `capturePath` unless it is empty.
RunFigures RunTenHandsets(const bench::BenchImages& images, const std::string& capturePath) {
  platform::SystemClock clock;
  platform::PosixThreadService threads;
  platform::usb::VirtualUsbBus bus{clock};
  platform::notify::VirtualBusNotifications notifications{bus};
  platform::registry::MemoryRegistry registry;
  platform::usb::CapturingUsbHost capture{bus, clock};
  if (!capturePath.empty() && !capture.StartCapture(capturePath))
    throw std::runtime_error("cannot write " + capturePath);
  platform::usb::UsbHost& usb =
      capturePath.empty() ? static_cast<platform::usb::UsbHost&>(bus) : capture;
  auto headless = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  ui::HeadlessWindow* window = headless.get();
  console::Station station(std::move(headless),
                           console::StationServices{usb, notifications, registry, clock, threads});
  station.dlg().OnInitDialog();
  std::vector<std::shared_ptr<handset::VirtualHandset>> phones;
  for (int c = 0; c < kHandsets; ++c) {
    phones.push_back(std::make_shared<handset::VirtualHandset>(
        bench::BenchHandset("7&run&0&" + std::to_string(c), kUsb2Link), clock));
    bus.Plug(phones.back());
  }
  window->PumpUntil([&] { return station.dlg().Run.BoundDeviceCount == kHandsets; });
  station.opener().OpenImageAt(image::ImageKind::Os, images.os);
  station.opener().OpenImageAt(image::ImageKind::Csc, images.csc);

  RunFigures f;
  const auto cpu0 = platform::ThreadCpuTime();
  const auto t0 = std::chrono::steady_clock::now();
  window->Click(console::IDC_START);  // returns when every handset has left
  f.waitCpu = std::chrono::duration<double>(platform::ThreadCpuTime() - cpu0).count();
  f.captureSummary = capture.StopCapture();
  f.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  for (const auto& p : phones) f.ok += p->ResetCount() == 1 ? 1 : 0;
  f.linkBytes = static_cast<double>(phones[0]->LinkBytes());
  f.dataBytes = static_cast<double>(phones[0]->emmc().BytesWritten());
  return f;
}

void BM_RunDownloadTenHandsets(benchmark::State& state) {
  const bench::BenchImages images = bench::PrepareImages(static_cast<uint32_t>(state.range(0)));
  for (auto _ : state) {
    const RunFigures f = RunTenHandsets(images, "");
    const double ideal = f.linkBytes / kUsb2Link + 0.9;
    state.SetIterationTime(f.wall);
    state.counters["handsets_ok"] = f.ok;
    state.counters["ideal_s"] = ideal;
    state.counters["wall_over_ideal"] = f.wall / ideal;
    state.counters["wall_over_data_ideal"] = f.wall / (f.dataBytes / kUsb2Link + 0.9);
    state.counters["wait_thread_cpu_s"] = f.waitCpu;
    state.counters["wait_thread_cpu_pct"] = 100.0 * f.waitCpu / f.wall;
  }
}

// Runs without and with a capture side by side, in the order A B B A so that a machine
// that slows down or speeds up during the benchmark weighs on both alike. The size is
// OSTREVANE_BENCH_MB when set.
void BM_CaptureCostTenHandsets(benchmark::State& state) {
  const char* mb = std::getenv("OSTREVANE_BENCH_MB");
  const auto megabytes =
      mb ? static_cast<uint32_t>(std::atoi(mb)) : static_cast<uint32_t>(state.range(0));
  const bench::BenchImages images = bench::PrepareImages(megabytes);
  const std::string pcap = std::string(OSTREVANE_BENCH_DIR) + "/run-capture.pcap";
  for (auto _ : state) {
    double plain = 0, captured = 0;
    int ok = 0;
    RunFigures last;
    for (bool withCapture : {false, true, true, false}) {
      last = RunTenHandsets(images, withCapture ? pcap : "");
      (withCapture ? captured : plain) += last.wall;
      ok += last.ok;
      if (withCapture) state.SetLabel(last.captureSummary);
    }
    state.SetIterationTime(plain + captured);
    state.counters["image_MB"] = megabytes;
    state.counters["handsets_ok_of_40"] = ok;
    state.counters["wall_without_s"] = plain / 2;
    state.counters["wall_with_s"] = captured / 2;
    state.counters["capture_cost_pct"] = 100.0 * (captured / plain - 1.0);
  }
}

}  // namespace

BENCHMARK(BM_RunDownloadTenHandsets)
    ->Arg(256)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaptureCostTenHandsets)
    ->Arg(256)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
