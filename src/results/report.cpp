// The in-memory report follows the database's definitions exactly (linear percentiles as
// percentile_cont, UTC hours), so a station's own file and the line's server agree.
#include "results/report.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "results/iso_time.h"
#include "results/records_reader.h"

namespace results {

namespace {

bool Counts(const Record& r, const ReportFilter& f) {
  return (!f.sinceMs || r.startMs >= *f.sinceMs) && (!f.untilMs || r.startMs < *f.untilMs) &&
         (f.station.empty() || r.station == f.station) && (f.model.empty() || r.model == f.model);
}

std::vector<YieldRow> Rows(const std::map<std::string, YieldRow>& groups) {
  std::vector<YieldRow> out;
  for (const auto& [key, row] : groups) out.push_back(row);
  return out;
}

// percentile_cont: the value at fraction p of the sorted values, interpolated.
double Percentile(const std::vector<int64_t>& sorted, double p) {
  const double at = p * static_cast<double>(sorted.size() - 1);
  const size_t low = static_cast<size_t>(std::floor(at));
  const size_t high = std::min(low + 1, sorted.size() - 1);
  const double frac = at - static_cast<double>(low);
  return static_cast<double>(sorted[low]) +
         frac * static_cast<double>(sorted[high] - sorted[low]);
}

}  // namespace

Report BuildReport(std::vector<Record> records, const ReportFilter& filter) {
  Report report;
  std::map<std::string, YieldRow> station, model, os, hour;
  std::map<std::string, uint64_t> bars;
  std::map<std::string, std::vector<int64_t>> durations;
  for (const Record& r : Fold(std::move(records))) {
    if (!Counts(r, filter)) continue;
    const bool done = r.result == "done";
    ++report.started;
    report.done += done;
    for (auto [groups, key] : {std::pair{&station, r.station}, std::pair{&model, r.model},
                               std::pair{&os, r.os.md5}, std::pair{&hour, HourLabel(r.startMs)}}) {
      YieldRow& row = (*groups)[key];
      row.key = key;
      ++row.started;
      row.done += done;
    }
    if (r.result == "failed" || r.result == "interrupted") ++bars[r.bar];
    if (done && r.durationMs) durations[r.model].push_back(*r.durationMs);
  }
  report.byStation = Rows(station);
  report.byModel = Rows(model);
  report.byOsImage = Rows(os);
  report.byHour = Rows(hour);
  for (const auto& [bar, count] : bars) report.failures.push_back({bar, count});
  std::stable_sort(report.failures.begin(), report.failures.end(),
                   [](const FailureRow& a, const FailureRow& b) { return a.count > b.count; });
  if (report.failures.size() > kTopFailures) report.failures.resize(kTopFailures);
  for (auto& [name, values] : durations) {
    std::sort(values.begin(), values.end());
    report.durations.push_back(
        {name, values.size(), Percentile(values, 0.5), Percentile(values, 0.95)});
  }
  return report;
}

}  // namespace results
