// What one refresh of the line board costs the server on a seeded database
// (scripts/board-bench makes it: 50 stations x 10 seats, 1,000,000 channels over 30 days):
// each query function, and one whole HTTP round trip of /api/line, side by side.
// Usage: OSTREVANE_BENCH_DB=CONNINFO board_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <httplib.h>

#include "board/board_command.h"
#include "platform/database/libpq/libpq_connection.h"
#include "results/line_query.h"
#include "results/report.h"

namespace {

std::string Target() {
  const char* t = std::getenv("OSTREVANE_BENCH_DB");
  return t ? t : "";
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::unique_ptr<platform::DbConnection> Connect(benchmark::State& state) {
  std::string error;
  auto db = platform::ConnectPostgres(Target(), &error);
  if (!db) state.SkipWithError(("set OSTREVANE_BENCH_DB: " + error).c_str());
  return db;
}

// A board's first look, or once a minute: every part asked.
void LineWhole(benchmark::State& state) {
  auto db = Connect(state);
  if (!db) return;
  for (auto _ : state) {
    results::LineWindow w;
    w.nowMs = NowMs();
    results::LineBoard board;
    std::string error;
    if (!results::QueryLineBoard(*db, w, &board, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(board);
  }
}
BENCHMARK(LineWhole)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each refresh between: the settled hours and the medians kept.
void LineRefresh(benchmark::State& state) {
  auto db = Connect(state);
  if (!db) return;
  results::LineCache cache;
  for (auto _ : state) {
    results::LineWindow w;
    w.nowMs = NowMs();
    results::LineBoard board;
    std::string error;
    if (!results::QueryLineBoard(*db, w, &board, &error, &cache)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(board);
  }
}
BENCHMARK(LineRefresh)->Unit(benchmark::kMillisecond)->UseRealTime();

void LineOneStation(benchmark::State& state) {
  auto db = Connect(state);
  if (!db) return;
  for (auto _ : state) {
    results::LineWindow w;
    w.nowMs = NowMs();
    w.station = "station-07";
    results::LineBoard board;
    std::string error;
    if (!results::QueryLineBoard(*db, w, &board, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(board);
  }
}
BENCHMARK(LineOneStation)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReportLastShift(benchmark::State& state) {
  auto db = Connect(state);
  if (!db) return;
  for (auto _ : state) {
    results::ReportFilter f;
    f.sinceMs = NowMs() - 8 * 3600 * 1000;
    results::Report report;
    std::string error;
    if (!results::QueryReport(*db, f, &report, &error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(report);
  }
}
BENCHMARK(ReportLastShift)->Unit(benchmark::kMillisecond)->UseRealTime();

// The page's own refresh: the server's whole cost, HTTP and JSON included.
void HttpLine(benchmark::State& state) {
  if (Target().empty()) return state.SkipWithError("set OSTREVANE_BENCH_DB");
  std::atomic<int> stop{0};
  std::ostringstream out, err;
  std::thread board([&] {
    (void)board::RunBoard({"--results-db", Target(), "--listen", "127.0.0.1:18931"}, out, err,
                          [&stop] { return stop.load(); });
  });
  httplib::Client client("127.0.0.1", 18931);
  for (int i = 0; i < 100 && !client.Get("/api/line"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (auto _ : state) {
    const httplib::Result r = client.Get("/api/line");
    if (!r || r->status != 200) {
      state.SkipWithError("the board did not answer 200");
      break;
    }
    state.counters["bytes"] = static_cast<double>(r->body.size());
  }
  stop = 1;
  board.join();
}
BENCHMARK(HttpLine)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
