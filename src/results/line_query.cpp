// The line board from records in memory or from the database. The database path asks
// only for what the board draws (the latest row per seat, counts per station and hour),
// each through the started_at indexes, so a refresh reads a day of rows, not the table.
#include "results/line_query.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <tuple>

#include <nlohmann/json.hpp>

#include "results/iso_time.h"
#include "results/records_reader.h"
#include "results/report.h"

namespace results {

namespace {

constexpr int64_t kHourMs = 3600 * 1000;
// A seat whose last channel ended this long ago has had its handset taken away.
constexpr int64_t kIdleAfterMs = 10 * 60 * 1000;
constexpr size_t kTopReasons = 10;
constexpr int64_t kChartHours = 24;

int64_t FirstChartHour(int64_t nowMs) {
  return (nowMs - (nowMs % kHourMs + kHourMs) % kHourMs) - (kChartHours - 1) * kHourMs;
}

std::string StateOf(const std::string& result) {
  if (result == "running") return "writing";
  return result == "done" ? "done" : "failed";
}

double Median(std::vector<int64_t> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  if (n == 0) return 0;
  return n % 2 ? static_cast<double>(values[n / 2])
               : (static_cast<double>(values[n / 2 - 1]) + static_cast<double>(values[n / 2])) / 2;
}

// What is left of the board once the rows are known: the idle seats, the time a writing
// seat still needs, the station list and the line's own hourly yield.
void Finish(LineBoard* board, const std::map<std::string, double>& medianMs,
            const LineWindow& window) {
  for (Tile& t : board->tiles) {
    if (t.state == "writing") {
      const auto m = medianMs.find(t.model);
      if (m != medianMs.end())
        t.remainingMs = std::max<int64_t>(0, static_cast<int64_t>(m->second) - (window.nowMs - t.startMs));
    } else if (window.nowMs - (t.startMs + t.durationMs.value_or(0)) > kIdleAfterMs) {
      t.state = "idle";
    }
  }
  std::sort(board->tiles.begin(), board->tiles.end(), [](const Tile& a, const Tile& b) {
    return std::tie(a.station, a.seat, a.channel) < std::tie(b.station, b.seat, b.channel);
  });
  board->stations.clear();
  for (const Tile& t : board->tiles)
    if (board->stations.empty() || board->stations.back() != t.station)
      board->stations.push_back(t.station);
  // Rows only for the stations shown: a station quiet for the whole window is off the board.
  std::erase_if(board->rows, [board](const StationRow& r) {
    return !std::binary_search(board->stations.begin(), board->stations.end(), r.station);
  });
  std::sort(board->rows.begin(), board->rows.end(),
            [](const StationRow& a, const StationRow& b) { return a.station < b.station; });
  for (StationRow& r : board->rows)
    r.handsetsPerHour = static_cast<double>(r.shiftDone) / static_cast<double>(window.shiftHours);
  std::map<int64_t, HourYield> line;
  for (const HourYield& h : board->hours) {
    HourYield& sum = line[h.hourMs];
    sum.hourMs = h.hourMs;
    sum.ended += h.ended;
    sum.done += h.done;
  }
  for (const auto& [hour, sum] : line) board->hours.push_back(sum);
  std::sort(board->hours.begin(), board->hours.end(), [](const HourYield& a, const HourYield& b) {
    return std::tie(a.hourMs, a.station) < std::tie(b.hourMs, b.station);
  });
  board->nowMs = window.nowMs;
}

// The failure code when the record has one, else its bar text (older records).
std::string ReasonOf(const Record& r) { return r.reason.empty() ? r.bar : r.reason; }

// The report's seats over the board's window: the same rule, the same numbers.
ReportFilter SeatWindow(const LineWindow& window) {
  ReportFilter filter;
  filter.sinceMs = window.nowMs - window.windowHours * kHourMs;
  filter.station = window.station;
  return filter;
}

}  // namespace

std::vector<SeatToCheck> BoardSeatsToCheck(const std::vector<SeatCheck>& checks) {
  std::vector<SeatToCheck> out;
  for (const SeatCheck& c : checks) {
    const uint64_t ended = c.seat.done + c.seat.failed;
    char why[200];
    if (c.failsMore) {
      std::snprintf(why, sizeof why, "fails %llu of %llu, the rest of the station %llu of %llu (p = %.2g)",
                    static_cast<unsigned long long>(c.seat.failed),
                    static_cast<unsigned long long>(ended),
                    static_cast<unsigned long long>(c.restFailed),
                    static_cast<unsigned long long>(c.restEnded), c.p);
    } else {
      std::snprintf(why, sizeof why, "median %.1f MB/s, the station's %.1f MB/s",
                    c.seat.medianMBps.value_or(0), c.stationMedianMBps.value_or(0));
    }
    out.push_back({c.seat.station, c.seat.seat.empty() ? c.seat.location : c.seat.seat, why});
  }
  return out;
}

LineBoard BuildLineBoard(std::vector<Record> records, const LineWindow& window) {
  records = Fold(std::move(records));
  const int64_t since = window.nowMs - window.windowHours * kHourMs;
  const int64_t shift = window.nowMs - window.shiftHours * kHourMs;
  const int64_t hour = window.nowMs - kHourMs;
  const int64_t chart = FirstChartHour(window.nowMs);
  const int64_t medianSince = window.nowMs - kChartHours * kHourMs;
  LineBoard board;
  std::map<std::tuple<std::string, std::string, int>, Tile> latest;
  std::map<std::string, StationRow> rows;
  std::map<std::pair<std::string, int64_t>, HourYield> hours;
  std::map<std::string, uint64_t> reasons;
  std::map<std::string, std::vector<int64_t>> durations;
  for (const Record& r : records) {
    if (!window.station.empty() && r.station != window.station) continue;
    const bool ended = r.Final(), done = r.result == "done";
    if (r.startMs >= since) {
      // A seat of a plan is its label; without a plan, the channel.
      Tile& t = latest[{r.station, r.seat, r.seat.empty() ? r.channel : 0}];
      if (t.station.empty() || r.startMs >= t.startMs)
        t = Tile{r.station, r.seat, r.channel, StateOf(r.result), r.model, r.startMs, r.durationMs,
                 std::nullopt, r.Final() && !done ? r.reason : "", r.Final() && !done ? r.bar : ""};
    }
    if (r.startMs >= shift) {
      StationRow& row = rows[r.station];
      row.station = r.station;
      row.shiftEnded += ended;
      row.shiftDone += done;
      if (r.startMs >= hour) row.hourEnded += ended, row.hourDone += done;
      if (ended && !done) ++reasons[ReasonOf(r)];
    }
    if (r.startMs >= chart && ended) {
      const int64_t h = r.startMs - r.startMs % kHourMs;
      HourYield& y = hours[{r.station, h}];
      y.station = r.station, y.hourMs = h;
      ++y.ended;
      y.done += done;
    }
    if (done && r.durationMs && r.startMs >= medianSince) durations[r.model].push_back(*r.durationMs);
  }
  for (auto& [key, tile] : latest) board.tiles.push_back(std::move(tile));
  for (auto& [key, row] : rows) board.rows.push_back(row);
  for (auto& [key, y] : hours) board.hours.push_back(y);
  for (auto& [reason, count] : reasons) board.reasons.push_back({reason, count});
  std::stable_sort(board.reasons.begin(), board.reasons.end(),
                   [](const ReasonCount& a, const ReasonCount& b) { return a.count > b.count; });
  if (board.reasons.size() > kTopReasons) board.reasons.resize(kTopReasons);
  std::map<std::string, double> medians;
  for (auto& [model, values] : durations) medians[model] = Median(std::move(values));
  Finish(&board, medians, window);
  board.seatsToCheck = BoardSeatsToCheck(BuildReport(std::move(records), SeatWindow(window)).seatsToCheck);
  return board;
}

namespace {

uint64_t Count(const platform::DbValue& v) { return v ? std::stoull(*v) : 0; }
int64_t Whole(const platform::DbValue& v) { return v ? std::stoll(*v) : 0; }

}  // namespace

bool QueryLineBoard(platform::DbConnection& db, const LineWindow& window, LineBoard* out,
                    std::string* error, LineCache* cache) {
  const int64_t chartStart = FirstChartHour(window.nowMs);
  const bool kept = cache && cache->madeMs >= 0 && window.nowMs - cache->madeMs < kSettledForMs &&
                    window.nowMs >= cache->madeMs && cache->chartStartMs == chartStart &&
                    cache->station == window.station;
  const auto since = [&window](int64_t ms) -> std::vector<platform::DbValue> {
    return {FormatIsoUtc(ms), window.station};
  };
  // $2 is '' for the whole line.
  const std::string station = " AND ($2 = '' OR station = $2)";
  const std::string seatKey = "CASE WHEN seat = '' THEN channel ELSE 0 END";
  // Each seat's newest start by a hashed group (no sort of the window's rows), then
  // those few rows by (station, started_at); two channels of a seat started in the same
  // microsecond keep one.
  const platform::DbResult latest = db.Execute(
      "WITH last AS (SELECT station, seat, " + seatKey + " AS k, max(started_at) AS at "
      "  FROM channel_result WHERE started_at >= $1::timestamptz" + station +
          " GROUP BY 1, 2, 3) "
          "SELECT DISTINCT ON (c.station, c.seat, last.k) c.station, c.seat, c.channel, c.model, "
          "  c.result, (extract(epoch FROM c.started_at) * 1000)::bigint, c.duration_ms, "
          "  c.reason, c.bar "
          "FROM last JOIN channel_result c ON c.station = last.station AND c.started_at = last.at "
          "  AND c.seat = last.seat AND CASE WHEN c.seat = '' THEN c.channel ELSE 0 END = last.k "
          "ORDER BY c.station, c.seat, last.k, c.run_id",
      since(window.nowMs - window.windowHours * kHourMs));
  std::vector<platform::DbValue> shiftAndHour = since(window.nowMs - window.shiftHours * kHourMs);
  shiftAndHour.push_back(FormatIsoUtc(window.nowMs - kHourMs));
  const platform::DbResult rows = db.Execute(
      "SELECT station, count(*) FILTER (WHERE result <> 'running' AND started_at >= $3::timestamptz), "
      "  count(*) FILTER (WHERE result = 'done' AND started_at >= $3::timestamptz), "
      "  count(*) FILTER (WHERE result <> 'running'), count(*) FILTER (WHERE result = 'done') "
      "FROM channel_result WHERE started_at >= $1::timestamptz" + station + " GROUP BY station",
      shiftAndHour);
  const platform::DbResult hours = db.Execute(
      "SELECT station, (floor(extract(epoch FROM started_at) / 3600) * 3600000)::bigint AS h, "
      "  count(*), count(*) FILTER (WHERE result = 'done') "
      "FROM channel_result WHERE started_at >= $1::timestamptz AND result <> 'running'" + station +
          " GROUP BY station, h",
      since(kept ? cache->settledBeforeMs : chartStart));
  const platform::DbResult reasons = db.Execute(
      "SELECT (CASE WHEN reason = '' THEN bar ELSE reason END) COLLATE \"C\" AS r, count(*) "
      "FROM channel_result WHERE started_at >= $1::timestamptz AND result IN ('failed', "
      "  'interrupted')" + station + " GROUP BY r ORDER BY 2 DESC, 1 LIMIT " +
          std::to_string(kTopReasons),
      since(window.nowMs - window.shiftHours * kHourMs));
  const platform::DbResult medians = kept ? platform::DbResult{true, "", "", {}} : db.Execute(
      "SELECT model, percentile_cont(0.5) WITHIN GROUP (ORDER BY duration_ms) "
      "FROM channel_result WHERE started_at >= $1::timestamptz AND result = 'done' AND "
      "  duration_ms IS NOT NULL" + station + " GROUP BY model",
      since(window.nowMs - kChartHours * kHourMs));
  for (const platform::DbResult* r : {&latest, &rows, &hours, &reasons, &medians})
    if (!r->ok) {
      *error = r->error;
      return false;
    }
  LineBoard board;
  for (const platform::DbRow& r : latest.rows) {
    const std::string result = r[4].value_or("");
    const bool failed = result == "failed" || result == "interrupted";
    std::optional<int64_t> duration;
    if (r[6]) duration = Whole(r[6]);
    board.tiles.push_back(Tile{r[0].value_or(""), r[1].value_or(""), static_cast<int>(Whole(r[2])),
                               StateOf(result), r[3].value_or(""), Whole(r[5]), duration,
                               std::nullopt, failed ? r[7].value_or("") : "",
                               failed ? r[8].value_or("") : ""});
  }
  for (const platform::DbRow& r : rows.rows)
    board.rows.push_back({r[0].value_or(""), Count(r[1]), Count(r[2]), Count(r[3]), Count(r[4]), 0});
  for (const platform::DbRow& r : hours.rows)
    board.hours.push_back({r[0].value_or(""), Whole(r[1]), Count(r[2]), Count(r[3])});
  for (const platform::DbRow& r : reasons.rows) board.reasons.push_back({r[0].value_or(""), Count(r[1])});
  std::map<std::string, double> medianMs;
  for (const platform::DbRow& r : medians.rows)
    if (r[0] && r[1]) medianMs[*r[0]] = std::stod(*r[1]);
  if (kept) {
    board.hours.insert(board.hours.end(), cache->settledHours.begin(), cache->settledHours.end());
    medianMs.insert(cache->medianMs.begin(), cache->medianMs.end());
  } else if (cache) {
    // The hours before the previous one are settled; the last two are asked each time.
    cache->settledBeforeMs = chartStart + (kChartHours - 2) * kHourMs;
    cache->settledHours.clear();
    std::copy_if(board.hours.begin(), board.hours.end(), std::back_inserter(cache->settledHours),
                 [cache](const HourYield& h) { return h.hourMs < cache->settledBeforeMs; });
    cache->medianMs.assign(medianMs.begin(), medianMs.end());
    cache->madeMs = window.nowMs;
    cache->chartStartMs = chartStart;
    cache->station = window.station;
  }
  Finish(&board, medianMs, window);
  std::vector<SeatRow> seats;
  std::vector<StationSpeed> speeds;
  if (!QuerySeats(db, SeatWindow(window), &seats, &speeds, error)) return false;
  board.seatsToCheck = BoardSeatsToCheck(SeatsToCheck(seats, speeds));
  *out = std::move(board);
  return true;
}

bool StationKnown(platform::DbConnection& db, const std::string& station, std::string* error) {
  const platform::DbResult r =
      db.Execute("SELECT 1 FROM channel_result WHERE station = $1 LIMIT 1", {station});
  if (!r.ok) *error = r.error;
  return r.ok && !r.rows.empty();
}

nlohmann::json LineBoardJson(const LineBoard& board) {
  using nlohmann::json;
  const auto optional = [](const std::optional<int64_t>& v) { return v ? json(*v) : json(nullptr); };
  json tiles = json::array(), rows = json::array(), hours = json::array(), reasons = json::array(),
       seats = json::array();
  for (const Tile& t : board.tiles)
    tiles.push_back({{"station", t.station}, {"seat", t.seat}, {"channel", t.channel},
                     {"state", t.state}, {"model", t.model}, {"startMs", t.startMs},
                     {"durationMs", optional(t.durationMs)}, {"remainingMs", optional(t.remainingMs)},
                     {"reason", t.reason}, {"bar", t.bar}});
  for (const StationRow& r : board.rows)
    rows.push_back({{"station", r.station}, {"hourEnded", r.hourEnded}, {"hourDone", r.hourDone},
                    {"shiftEnded", r.shiftEnded}, {"shiftDone", r.shiftDone},
                    {"handsetsPerHour", r.handsetsPerHour}});
  for (const HourYield& h : board.hours)
    hours.push_back({{"station", h.station}, {"hourMs", h.hourMs}, {"ended", h.ended}, {"done", h.done}});
  for (const ReasonCount& r : board.reasons) reasons.push_back({{"reason", r.reason}, {"count", r.count}});
  for (const SeatToCheck& s : board.seatsToCheck)
    seats.push_back({{"station", s.station}, {"seat", s.seat}, {"why", s.why}});
  return {{"nowMs", board.nowMs}, {"stations", board.stations}, {"tiles", tiles},
          {"rows", rows}, {"hours", hours}, {"reasons", reasons}, {"seatsToCheck", seats}};
}

}  // namespace results
