// MD5 benchmarks: bare compression over memory, and the confirmation's streaming digest
// of a file (set OSTREVANE_BENCH_IMAGE to use an existing image; otherwise a 256 MiB
// scratch file in /tmp is made once).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "image/image_digest.h"
#include "image/md5.h"

namespace {

void BM_Md5Memory(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37);
  for (auto _ : state) {
    image::Md5 md5;
    md5.Update(data.data(), data.size());
    benchmark::DoNotOptimize(md5.Final());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5Memory)->Arg(2048)->Arg(1 << 20);

std::string BenchFile() {
  if (const char* given = std::getenv("OSTREVANE_BENCH_IMAGE")) return given;
  static const std::string path = [] {
    std::string p = "/tmp/ostrevane-md5-bench.bin";
    std::ifstream probe(p, std::ios::binary | std::ios::ate);
    if (!probe || probe.tellg() != (256 << 20)) {
      std::ofstream out(p, std::ios::binary);
      std::vector<char> chunk(1 << 20);
      for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131);
      for (int i = 0; i < 256; ++i)
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    return p;
  }();
  return path;
}

// The confirmation path: reads of `readSize` bytes, percent callback, stop flag.
void BM_ImageDigestFile(benchmark::State& state) {
  const std::string path = BenchFile();
  std::atomic<bool> stop{false};
  uint64_t bytes = 0;
  int percents = 0;
  for (auto _ : state) {
    image::ImageDigestJob job;
    if (!job.Open(path)) {
      state.SkipWithError("cannot open the benchmark file");
      return;
    }
    const auto r = job.Run([&](int) { ++percents; }, stop, static_cast<size_t>(state.range(0)));
    benchmark::DoNotOptimize(r.computed);
    bytes += job.FileLength();
  }
  benchmark::DoNotOptimize(percents);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ImageDigestFile)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
