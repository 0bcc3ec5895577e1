// The in-memory report follows the database's definitions exactly (linear percentiles as
// percentile_cont, UTC hours), so a station's own file and the line's server agree.
#include "results/report.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "results/iso_time.h"
#include "results/records_reader.h"
#include "results/statistics.h"

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
template <typename T>
double Percentile(const std::vector<T>& sorted, double p) {
  const double at = p * static_cast<double>(sorted.size() - 1);
  const size_t low = static_cast<size_t>(std::floor(at));
  const size_t high = std::min(low + 1, sorted.size() - 1);
  const double frac = at - static_cast<double>(low);
  return static_cast<double>(sorted[low]) +
         frac * static_cast<double>(sorted[high] - sorted[low]);
}

struct FailureGroup {
  uint64_t count = 0;
  int64_t latestMs = 0;
  std::string bar;
};

// Taken from the one that started last; of two that started together, the greater text,
// as the server orders them.
void Count(FailureGroup* g, const Record& r) {
  if (g->count++ == 0 || r.startMs > g->latestMs || (r.startMs == g->latestMs && r.bar > g->bar))
    g->latestMs = r.startMs, g->bar = r.bar;
}

std::optional<double> Median(std::vector<double>* values) {
  if (values->empty()) return std::nullopt;
  std::sort(values->begin(), values->end());
  return Percentile(*values, 0.5);
}

}  // namespace

std::vector<SeatCheck> SeatsToCheck(const std::vector<SeatRow>& seats,
                                    const std::vector<StationSpeed>& stations) {
  std::map<std::string, std::pair<uint64_t, uint64_t>> ended;  // station: ended, failed
  for (const SeatRow& s : seats) {
    ended[s.station].first += s.done + s.failed;
    ended[s.station].second += s.failed;
  }
  std::vector<SeatCheck> out;
  for (const SeatRow& s : seats) {
    if (s.done + s.failed < kSeatCheckMinHandsets) continue;
    SeatCheck c;
    c.seat = s;
    c.restEnded = ended[s.station].first - (s.done + s.failed);
    c.restFailed = ended[s.station].second - s.failed;
    if (c.restEnded > 0) c.p = FisherUpperTail(s.failed, s.done + s.failed, c.restFailed, c.restEnded);
    for (const StationSpeed& st : stations)
      if (st.station == s.station) c.stationMedianMBps = st.medianMBps;
    c.failsMore = c.p < kSeatCheckP;
    c.slow = s.medianMBps && c.stationMedianMBps && *s.medianMBps < *c.stationMedianMBps / 2;
    if (c.failsMore || c.slow) out.push_back(c);
  }
  return out;
}

Report BuildReport(std::vector<Record> records, const ReportFilter& filter) {
  Report report;
  std::map<std::string, YieldRow> station, model, os, hour;
  std::map<std::pair<std::string, std::string>, FailureGroup> failures;
  std::map<std::string, std::vector<int64_t>> durations;
  std::map<std::tuple<std::string, std::string, std::string>, std::pair<SeatRow, std::vector<double>>> seats;
  std::map<std::string, std::vector<double>> stationSpeeds;
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
    const bool failed = r.result == "failed" || r.result == "interrupted";
    if (failed) Count(&failures[{r.reason, r.reason.empty() ? r.bar : ""}], r);
    if (done && r.durationMs) durations[r.model].push_back(*r.durationMs);
    const std::string location = r.seat.empty() ? r.location : "";
    auto& [seat, speeds] = seats[{r.station, r.seat, location}];
    seat.station = r.station, seat.seat = r.seat, seat.location = location;
    ++seat.started;
    seat.done += done;
    seat.failed += failed;
    std::vector<double>& station = stationSpeeds[r.station];
    if (done && r.bytesSent && r.durationMs && *r.durationMs > 0) {
      const double mbps = static_cast<double>(*r.bytesSent) / static_cast<double>(*r.durationMs) / 1000;
      speeds.push_back(mbps);
      station.push_back(mbps);
    }
  }
  report.byStation = Rows(station);
  report.byModel = Rows(model);
  report.byOsImage = Rows(os);
  report.byHour = Rows(hour);
  for (const auto& [key, group] : failures)
    report.failures.push_back({key.first, group.bar, group.count});
  std::stable_sort(report.failures.begin(), report.failures.end(),
                   [](const FailureRow& a, const FailureRow& b) { return a.count > b.count; });
  if (report.failures.size() > kTopFailures) report.failures.resize(kTopFailures);
  for (auto& [name, values] : durations) {
    std::sort(values.begin(), values.end());
    report.durations.push_back(
        {name, values.size(), Percentile(values, 0.5), Percentile(values, 0.95)});
  }
  for (auto& [key, seat] : seats) {
    seat.first.medianMBps = Median(&seat.second);
    report.seats.push_back(seat.first);
  }
  for (auto& [name, values] : stationSpeeds) report.stationSpeeds.push_back({name, Median(&values)});
  report.seatsToCheck = SeatsToCheck(report.seats, report.stationSpeeds);
  return report;
}

}  // namespace results
