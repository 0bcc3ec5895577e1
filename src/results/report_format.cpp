// Tables are aligned by display columns of plain text; bar texts and names come from
// handsets and stations, so they are escaped before they reach a terminal.
#include <cstdio>
#include <sstream>

#include <nlohmann/json.hpp>

#include "results/report.h"

namespace results {

namespace {

// Printable ASCII as it is, other bytes as \xNN: a table cell must not move the cursor.
std::string Cell(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

std::string Percent(uint64_t done, uint64_t started) {
  if (started == 0) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(done) / static_cast<double>(started));
  return text;
}

std::string Speed(const std::optional<double>& mbps) {
  if (!mbps) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", *mbps);
  return text;
}

std::string Chance(double p) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", p);
  return text;
}

nlohmann::json Maybe(const std::optional<double>& v) {
  return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

// What a line engineer reads to know why a seat is listed.
std::string SeatCheckRule() {
  char text[320];
  std::snprintf(text, sizeof text,
                "A seat is listed when it has at least %llu ended channels and either fails "
                "more than the rest of its station beyond chance (one-sided Fisher exact test "
                "of failed over ended channels, p < %g) or its median speed is under half "
                "its station's.",
                static_cast<unsigned long long>(kSeatCheckMinHandsets), kSeatCheckP);
  return text;
}

// Words onto lines of at most `width` characters, each line indented.
std::string Wrap(const std::string& text, size_t width, const std::string& indent) {
  std::istringstream words(text);
  std::string out, line, word;
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > width) out += indent + line + "\n", line.clear();
    line += (line.empty() ? "" : " ") + word;
  }
  return out + indent + line;
}

std::string Seconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

// The first `texts` columns left-aligned, the others (numbers) right-aligned.
void Table(std::ostringstream& out, const std::string& title,
           const std::vector<std::vector<std::string>>& rows, size_t texts = 1) {
  out << title << "\n";
  std::vector<size_t> width;
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) {
      if (width.size() <= c) width.push_back(0);
      width[c] = std::max(width[c], row[c].size());
    }
  for (const auto& row : rows) {
    std::string line = "  ";
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - row[c].size(), ' ');
      line += c == 0 ? "" : "  ";
      line += c < texts ? row[c] + pad : pad + row[c];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
  if (rows.size() == 1) out << "  (none)\n";
  out << "\n";
}

void YieldTable(std::ostringstream& out, const std::string& title, const std::string& what,
                const std::vector<YieldRow>& rows) {
  std::vector<std::vector<std::string>> cells = {{what, "started", "done", "yield"}};
  for (const YieldRow& r : rows)
    cells.push_back({Cell(r.key), std::to_string(r.started), std::to_string(r.done),
                     Percent(r.done, r.started)});
  Table(out, title, cells);
}

nlohmann::json YieldJson(const std::vector<YieldRow>& rows) {
  nlohmann::json out = nlohmann::json::array();
  for (const YieldRow& r : rows) {
    nlohmann::json row = {{"key", r.key}, {"started", r.started}, {"done", r.done}};
    row["yield"] = r.started ? nlohmann::json(static_cast<double>(r.done) /
                                              static_cast<double>(r.started))
                             : nlohmann::json(nullptr);
    out.push_back(row);
  }
  return out;
}

// The label, or where the handsets were when the station has no seat plan.
std::string SeatName(const SeatRow& s) { return Cell(s.seat.empty() ? s.location : s.seat); }

nlohmann::json SeatJson(const SeatRow& s) {
  return {{"station", s.station}, {"seat", s.seat}, {"location", s.location},
          {"started", s.started}, {"done", s.done},  {"failed", s.failed},
          {"medianMBps", Maybe(s.medianMBps)}};
}

}  // namespace

std::string FormatReport(const Report& r) {
  std::ostringstream out;
  out << "Channels: " << r.started << " started, " << r.done << " done, yield "
      << Percent(r.done, r.started) << "\n\n";
  YieldTable(out, "Yield by station", "station", r.byStation);
  YieldTable(out, "Yield by model", "model", r.byModel);
  YieldTable(out, "Yield by OS image (MD5)", "os image", r.byOsImage);
  YieldTable(out, "Yield by hour (UTC)", "hour", r.byHour);
  std::vector<std::vector<std::string>> failures = {{"reason", "bar text (latest)", "count"}};
  for (const FailureRow& f : r.failures)
    failures.push_back({f.reason.empty() ? "-" : Cell(f.reason), Cell(f.bar), std::to_string(f.count)});
  Table(out, "Most frequent failures", failures, 2);
  std::vector<std::vector<std::string>> durations = {{"model", "done", "median", "95th pct"}};
  for (const DurationRow& d : r.durations)
    durations.push_back({Cell(d.model), std::to_string(d.channels), Seconds(d.medianMs),
                         Seconds(d.p95Ms)});
  Table(out, "Channel durations of done channels", durations);
  std::vector<std::vector<std::string>> seats = {
      {"station", "seat", "handsets", "done", "yield", "median MB/s"}};
  for (const SeatRow& s : r.seats)
    seats.push_back({Cell(s.station), SeatName(s), std::to_string(s.started),
                     std::to_string(s.done), Percent(s.done, s.started), Speed(s.medianMBps)});
  Table(out, "Seats (or locations, without a seat plan)", seats, 2);
  std::vector<std::vector<std::string>> check = {{"station", "seat", "why", "ended", "failed",
                                                  "rest failed", "p", "MB/s", "station MB/s"}};
  for (const SeatCheck& c : r.seatsToCheck) {
    const uint64_t ended = c.seat.done + c.seat.failed;
    check.push_back({Cell(c.seat.station), SeatName(c.seat),
                     c.failsMore && c.slow ? "fails more, slow" : c.failsMore ? "fails more" : "slow",
                     std::to_string(ended), Percent(c.seat.failed, ended),
                     Percent(c.restFailed, c.restEnded), Chance(c.p), Speed(c.seat.medianMBps),
                     Speed(c.stationMedianMBps)});
  }
  Table(out, "Seats to check\n" + Wrap(SeatCheckRule(), 86, "  "), check, 3);
  std::string text = out.str();
  text.pop_back();
  return text;
}

nlohmann::json ReportJson(const Report& r) {
  nlohmann::json failures = nlohmann::json::array();
  for (const FailureRow& f : r.failures)
    failures.push_back({{"reason", f.reason}, {"bar", f.bar}, {"count", f.count}});
  nlohmann::json durations = nlohmann::json::array();
  for (const DurationRow& d : r.durations)
    durations.push_back({{"model", d.model},
                         {"done", d.channels},
                         {"medianMs", d.medianMs},
                         {"p95Ms", d.p95Ms}});
  nlohmann::json seats = nlohmann::json::array();
  for (const SeatRow& s : r.seats) seats.push_back(SeatJson(s));
  nlohmann::json stations = nlohmann::json::array();
  for (const StationSpeed& s : r.stationSpeeds)
    stations.push_back({{"station", s.station}, {"medianMBps", Maybe(s.medianMBps)}});
  nlohmann::json check = nlohmann::json::array();
  for (const SeatCheck& c : r.seatsToCheck) {
    nlohmann::json row = SeatJson(c.seat);
    row["restEnded"] = c.restEnded;
    row["restFailed"] = c.restFailed;
    row["p"] = c.p;
    row["stationMedianMBps"] = Maybe(c.stationMedianMBps);
    row["failsMore"] = c.failsMore;
    row["slow"] = c.slow;
    check.push_back(row);
  }
  return {{"started", r.started},
          {"done", r.done},
          {"byStation", YieldJson(r.byStation)},
          {"byModel", YieldJson(r.byModel)},
          {"byOsImage", YieldJson(r.byOsImage)},
          {"byHour", YieldJson(r.byHour)},
          {"failures", failures},
          {"durations", durations},
          {"seats", seats},
          {"stations", stations},
          {"seatsToCheck", check},
          {"seatsToCheckRule", SeatCheckRule()}};
}

}  // namespace results
