// Writing a 1 GB image to one and to ten virtual handsets (digest storage): throughput
// per channel and in total, CPU per MB and per GB, the process's peak resident memory,
// and with a 40 MB/s link the wall time against the ideal.
// OSTREVANE_BENCH_MB sets the image size (default 1024; 4003 gives a MainOS of 4,000 MiB).
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_station.h"
#include "platform/process/resource_use.h"

namespace {

constexpr double kMB = 1024.0 * 1024.0;
constexpr uint64_t kUsb2Link = 40ull * 1024 * 1024;  // bytes per second
constexpr double kStaggerSeconds = 0.9;              // channel 9 starts 900 ms late

uint32_t ImageMegabytes() {
  const char* v = std::getenv("OSTREVANE_BENCH_MB");
  return v ? static_cast<uint32_t>(std::atoi(v)) : 1024u;
}

const bench::BenchImages& Images() {
  static const bench::BenchImages images = bench::PrepareImages(ImageMegabytes());
  return images;
}

void Report(benchmark::State& state, const bench::FlashResult& r, int handsets) {
  const double wall = std::chrono::duration<double>(r.wall).count();
  const double mbPerHandset = static_cast<double>(r.bytesPerHandset) / kMB;
  state.SetIterationTime(wall);
  state.counters["handsets_ok"] = r.succeeded;
  state.counters["MB_per_handset"] = mbPerHandset;
  state.counters["MBps_total"] = mbPerHandset * handsets / wall;
  state.counters["MBps_per_channel"] = mbPerHandset / wall;
  state.counters["cpu_ms_per_MB"] =
      std::chrono::duration<double, std::milli>(r.processCpu).count() / (mbPerHandset * handsets);
  state.counters["cpu_s_per_GB"] = std::chrono::duration<double>(r.processCpu).count() /
                                   (static_cast<double>(r.bytesPerHandset) * handsets / 1e9);
  // Since the process started: image building included, which streams and stays small.
  state.counters["peak_rss_MB"] = static_cast<double>(platform::PeakResidentBytes()) / kMB;
}

void BM_FlashUnlimited(benchmark::State& state) {
  const int handsets = static_cast<int>(state.range(0));
  const auto& images = Images();
  for (auto _ : state) Report(state, bench::FlashAtOnce(images, handsets, 0), handsets);
}

void BM_FlashUsb2Link(benchmark::State& state) {
  const int handsets = static_cast<int>(state.range(0));
  const auto& images = Images();
  for (auto _ : state) {
    bench::FlashResult r = bench::FlashAtOnce(images, handsets, kUsb2Link);
    Report(state, r, handsets);
    const double stagger = handsets > 1 ? (handsets - 1) * 0.1 : 0.0;
    const double ideal = static_cast<double>(r.linkBytesPerHandset) / kUsb2Link + stagger;
    const double idealData = static_cast<double>(r.bytesPerHandset) / kUsb2Link + stagger;
    state.counters["ideal_s"] = ideal;
    state.counters["wall_over_ideal"] = std::chrono::duration<double>(r.wall).count() / ideal;
    state.counters["wall_over_data_ideal"] =
        std::chrono::duration<double>(r.wall).count() / idealData;
  }
}

}  // namespace

BENCHMARK(BM_FlashUnlimited)
    ->Arg(1)
    ->Arg(10)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlashUsb2Link)->Arg(10)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
