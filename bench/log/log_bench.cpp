// One log line appended to the main window's log that already holds `range(0)` lines:
// below its limit, at it and far past it the cost per line should be the same.
#include <benchmark/benchmark.h>

#include <memory>

#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "platform/ui/headless/headless_window.h"

namespace {

void BM_LogAppendLine(benchmark::State& state) {
  auto window = std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate());
  console::COstrevaneDlg dlg(std::move(window));
  dlg.OnInitDialog();
  const int held = static_cast<int>(state.range(0));
  for (int i = 0; i < held; ++i) dlg.AppendLog("[Channel %d] earlier line %06d\r\n", i % 10, i);
  int n = 0;
  for (auto _ : state) {
    dlg.AppendLog("[Channel %d] Channel Write MainOS  partition data %06d !!\r\n", n % 10, n);
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
}
// A fixed count, so that the smallest log stays below the limit throughout.
BENCHMARK(BM_LogAppendLine)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(5000);

}  // namespace
