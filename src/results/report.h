// The line's report: yield (done over started) by station, model, OS image digest and
// hour; the most frequent failure bar texts; channel durations per model. Made from
// records in memory or asked of the results database, with the same rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/database/database.h"
#include "results/record.h"

namespace results {

// Which channels count: started in [since, until), at one station, of one model.
struct ReportFilter {
  std::optional<int64_t> sinceMs;
  std::optional<int64_t> untilMs;
  std::string station;  // empty: every one
  std::string model;
};

struct YieldRow {
  std::string key;
  uint64_t started = 0;
  uint64_t done = 0;
};

struct FailureRow {
  std::string bar;
  uint64_t count = 0;
};

// Of channels that ended done.
struct DurationRow {
  std::string model;
  uint64_t channels = 0;
  double medianMs = 0;
  double p95Ms = 0;
};

struct Report {
  uint64_t started = 0;
  uint64_t done = 0;
  std::vector<YieldRow> byStation, byModel, byOsImage, byHour;  // each sorted by key
  std::vector<FailureRow> failures;  // most frequent first, at most kTopFailures
  std::vector<DurationRow> durations;  // by model
};

inline constexpr size_t kTopFailures = 10;

// From records as the files hold them (folded here: the line that counts per channel).
Report BuildReport(std::vector<Record> records, const ReportFilter& filter);
// From the database; false with the server's words in `error`.
[[nodiscard]] bool QueryReport(platform::DbConnection& db, const ReportFilter& filter,
                               Report* out, std::string* error);

// Aligned tables for a person.
std::string FormatReport(const Report& report);
nlohmann::json ReportJson(const Report& report);

}  // namespace results
