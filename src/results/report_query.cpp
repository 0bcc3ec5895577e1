// The report asked of the results database: one scan for the four yield tables (grouping
// sets), one for the failures, one for the durations, one for the seats and their
// stations; the filter goes through the (station|model, started_at) and started_at indexes.
#include <string>

#include "results/iso_time.h"
#include "results/report.h"

namespace results {

namespace {

struct Where {
  std::string sql;
  std::vector<platform::DbValue> params;
};

Where Filter(const ReportFilter& f) {
  Where w;
  const auto add = [&w](const std::string& condition, std::string value) {
    w.params.push_back(std::move(value));
    w.sql += (w.sql.empty() ? " WHERE " : " AND ") + condition + " $" +
             std::to_string(w.params.size());
  };
  if (f.sinceMs) add("started_at >=", FormatIsoUtc(*f.sinceMs));
  if (f.untilMs) add("started_at <", FormatIsoUtc(*f.untilMs));
  if (!f.station.empty()) add("station =", f.station);
  if (!f.model.empty()) add("model =", f.model);
  return w;
}

// The filter's conditions and one more.
std::string And(const Where& w, const std::string& condition) {
  return w.sql + (w.sql.empty() ? " WHERE " : " AND ") + condition;
}

uint64_t Count(const platform::DbValue& v) { return v ? std::stoull(*v) : 0; }
double Number(const platform::DbValue& v) { return v ? std::stod(*v) : 0; }
std::optional<double> Maybe(const platform::DbValue& v) {
  return v ? std::optional<double>(std::stod(*v)) : std::nullopt;
}

}  // namespace

bool QueryFailures(platform::DbConnection& db, const ReportFilter& filter,
                   std::vector<FailureRow>* out, std::string* error) {
  const Where w = Filter(filter);
  // Without a reason (older records) the bar text is the group; the latest bar text of
  // a reason is the one shown beside it, as BuildReport picks it.
  const platform::DbResult r = db.Execute(
      "SELECT reason, (array_agg(bar ORDER BY started_at DESC, bar COLLATE \"C\" DESC))[1], "
      "  count(*) "
      "FROM (SELECT reason, bar, started_at, CASE WHEN reason = '' THEN bar ELSE '' END AS "
      "  bar_key FROM channel_result" + And(w, "result IN ('failed', 'interrupted')") + ") c "
      "GROUP BY reason, bar_key "
      "ORDER BY 3 DESC, reason COLLATE \"C\", bar_key COLLATE \"C\" LIMIT " +
          std::to_string(kTopFailures),
      w.params);
  if (!r.ok) {
    *error = r.error;
    return false;
  }
  out->clear();
  for (const platform::DbRow& row : r.rows)
    out->push_back({row[0].value_or(""), row[1].value_or(""), Count(row[2])});
  return true;
}

bool QuerySeats(platform::DbConnection& db, const ReportFilter& filter,
                std::vector<SeatRow>* seats, std::vector<StationSpeed>* stations,
                std::string* error) {
  const Where w = Filter(filter);
  // The median needs the rows sorted by seat: in byte order that sort takes half the time
  // the database's collation does, and it is the order BuildReport gives.
  const platform::DbResult r = db.Execute(
      "SELECT grouping(seat, loc), station, seat, loc, count(*), "
      "  count(*) FILTER (WHERE result = 'done'), "
      "  count(*) FILTER (WHERE result IN ('failed', 'interrupted')), "
      "  percentile_cont(0.5) WITHIN GROUP (ORDER BY mbps) "
      "FROM (SELECT station COLLATE \"C\" AS station, seat COLLATE \"C\" AS seat, "
      "  CASE WHEN seat = '' THEN location ELSE '' END COLLATE \"C\" AS loc, result, "
      "  CASE WHEN result = 'done' AND duration_ms > 0 THEN "
      "  bytes_sent::float8 / duration_ms::float8 / 1000 END AS mbps FROM channel_result" +
          w.sql + ") c "
      "GROUP BY GROUPING SETS ((station, seat, loc), (station)) ORDER BY station, seat, loc",
      w.params);
  if (!r.ok) {
    *error = r.error;
    return false;
  }
  seats->clear();
  stations->clear();
  for (const platform::DbRow& row : r.rows) {
    if (row[0].value_or("0") != "0") {
      stations->push_back({row[1].value_or(""), Maybe(row[7])});
      continue;
    }
    seats->push_back({row[1].value_or(""), row[2].value_or(""), row[3].value_or(""),
                      Count(row[4]), Count(row[5]), Count(row[6]), Maybe(row[7])});
  }
  return true;
}

bool QueryReport(platform::DbConnection& db, const ReportFilter& filter, Report* out,
                 std::string* error) {
  // A database its owner has not migrated to schema 3 lacks what the failure and seat
  // tables read; say so rather than pass on "column does not exist".
  const platform::DbResult columns = db.Execute(
      "SELECT count(*) FROM pg_attribute WHERE attrelid = to_regclass('channel_result') AND "
      "attname IN ('seat', 'reason', 'bytes_sent') AND NOT attisdropped");
  if (!columns.ok) {
    *error = columns.error;
    return false;
  }
  if (Count(columns.rows.at(0).at(0)) != 3) {
    *error = "the results database has no seats or failure reasons yet (schema 3): its "
             "owner runs `ostrevane-cli db migrate`";
    return false;
  }
  const Where w = Filter(filter);
  // Every query reads most of what the filter lets through: a sequential or bitmap scan
  // with hashed groups, not a walk of a whole index in its order (four times slower on a
  // million rows). Only for this transaction.
  if (!db.ExecuteScript("BEGIN; SET LOCAL enable_indexscan = off; SET LOCAL work_mem = '64MB'").ok) {
    *error = "the results database refused the report's settings";
    return false;
  }
  const platform::DbResult yields = db.Execute(
      "SELECT grouping(station, model, os_md5, hour), coalesce(station, model, os_md5, "
      "  to_char(hour, 'YYYY-MM-DD HH24:00\"Z\"')) COLLATE \"C\" AS key, count(*), "
      "  count(*) FILTER (WHERE result = 'done') "
      "FROM (SELECT station, model, os_md5, result, date_trunc('hour', started_at AT TIME ZONE "
      "  'UTC') AS hour FROM channel_result" + w.sql + ") c "
      "GROUP BY GROUPING SETS ((station), (model), (os_md5), (hour), ()) ORDER BY 1, 2",
      w.params);
  const platform::DbResult durations = db.Execute(
      "SELECT model, count(*), percentile_cont(0.5) WITHIN GROUP (ORDER BY duration_ms), "
      "  percentile_cont(0.95) WITHIN GROUP (ORDER BY duration_ms) "
      "FROM (SELECT model, duration_ms FROM channel_result" +
          And(w, "result = 'done' AND duration_ms IS NOT NULL") + ") c "
          "GROUP BY model ORDER BY model COLLATE \"C\"",
      w.params);
  Report report;
  const bool parts = QueryFailures(db, filter, &report.failures, error) &&
                     QuerySeats(db, filter, &report.seats, &report.stationSpeeds, error);
  (void)db.ExecuteScript("COMMIT");
  for (const platform::DbResult* r : {&yields, &durations})
    if (!r->ok) {
      *error = r->error;
      return false;
    }
  if (!parts) return false;
  for (const platform::DbRow& row : yields.rows) {
    const YieldRow y{row[1].value_or(""), Count(row[2]), Count(row[3])};
    // grouping() sets a bit for each column a set leaves out, station's the highest.
    switch (std::stoi(row[0].value_or("0"))) {
      case 0b0111: report.byStation.push_back(y); break;
      case 0b1011: report.byModel.push_back(y); break;
      case 0b1101: report.byOsImage.push_back(y); break;
      case 0b1110: report.byHour.push_back(y); break;
      case 0b1111: report.started = y.started, report.done = y.done; break;
      default: break;
    }
  }
  for (const platform::DbRow& row : durations.rows)
    report.durations.push_back(
        {row[0].value_or(""), Count(row[1]), Number(row[2]), Number(row[3])});
  report.seatsToCheck = SeatsToCheck(report.seats, report.stationSpeeds);
  *out = std::move(report);
  return true;
}

}  // namespace results
