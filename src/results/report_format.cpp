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

std::string Seconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

// The first column left-aligned, the others (numbers) right-aligned.
void Table(std::ostringstream& out, const std::string& title,
           const std::vector<std::vector<std::string>>& rows) {
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
      line += c == 0 ? row[c] + pad : "  " + pad + row[c];
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

}  // namespace

std::string FormatReport(const Report& r) {
  std::ostringstream out;
  out << "Channels: " << r.started << " started, " << r.done << " done, yield "
      << Percent(r.done, r.started) << "\n\n";
  YieldTable(out, "Yield by station", "station", r.byStation);
  YieldTable(out, "Yield by model", "model", r.byModel);
  YieldTable(out, "Yield by OS image (MD5)", "os image", r.byOsImage);
  YieldTable(out, "Yield by hour (UTC)", "hour", r.byHour);
  std::vector<std::vector<std::string>> failures = {{"bar text", "count"}};
  for (const FailureRow& f : r.failures) failures.push_back({Cell(f.bar), std::to_string(f.count)});
  Table(out, "Most frequent failures", failures);
  std::vector<std::vector<std::string>> durations = {{"model", "done", "median", "95th pct"}};
  for (const DurationRow& d : r.durations)
    durations.push_back({Cell(d.model), std::to_string(d.channels), Seconds(d.medianMs),
                         Seconds(d.p95Ms)});
  Table(out, "Channel durations of done channels", durations);
  std::string text = out.str();
  text.pop_back();
  return text;
}

nlohmann::json ReportJson(const Report& r) {
  nlohmann::json failures = nlohmann::json::array();
  for (const FailureRow& f : r.failures) failures.push_back({{"bar", f.bar}, {"count", f.count}});
  nlohmann::json durations = nlohmann::json::array();
  for (const DurationRow& d : r.durations)
    durations.push_back({{"model", d.model},
                         {"done", d.channels},
                         {"medianMs", d.medianMs},
                         {"p95Ms", d.p95Ms}});
  return {{"started", r.started},
          {"done", r.done},
          {"byStation", YieldJson(r.byStation)},
          {"byModel", YieldJson(r.byModel)},
          {"byOsImage", YieldJson(r.byOsImage)},
          {"byHour", YieldJson(r.byHour)},
          {"failures", failures},
          {"durations", durations}};
}

}  // namespace results
