// The line's report: yield (done over started) by station, model, OS image digest and
// hour; the most frequent failure reasons; channel durations per model; per seat yield
// and speed, and the seats to check. Made from records in memory or asked of the results
// database, with the same rules.
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

// Failed and interrupted channels of one reason; channels from before reasons were
// recorded count under their bar text instead (`reason` empty).
struct FailureRow {
  std::string reason;
  std::string bar;  // with a reason: the bar text of its latest channel
  uint64_t count = 0;
};

// One seat of a station: its label, or without a seat plan the location the handsets
// were at. Speed (MB/s: bytes sent over duration) is of done channels that know both.
struct SeatRow {
  std::string station;
  std::string seat;      // the label; empty without a seat plan
  std::string location;  // only when `seat` is empty
  uint64_t started = 0;
  uint64_t done = 0;
  uint64_t failed = 0;  // failed or interrupted
  std::optional<double> medianMBps;
};

struct StationSpeed {
  std::string station;
  std::optional<double> medianMBps;  // over every seat's done channels
};

// A seat listed for a person to look at, and the numbers that made it stand out.
struct SeatCheck {
  SeatRow seat;
  uint64_t restEnded = 0;   // the station's other seats' ended channels
  uint64_t restFailed = 0;  // of those, failed or interrupted
  double p = 1;             // that the seat fails no more than the rest, by chance
  std::optional<double> stationMedianMBps;
  bool failsMore = false;   // p below kSeatCheckP
  bool slow = false;        // median under half the station's
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
  std::vector<SeatRow> seats;          // by station, seat, location
  std::vector<StationSpeed> stationSpeeds;  // by station
  std::vector<SeatCheck> seatsToCheck;      // in the order of `seats`
};

inline constexpr size_t kTopFailures = 10;
// Fewer ended channels than this on a seat tell too little to list it.
inline constexpr uint64_t kSeatCheckMinHandsets = 20;
inline constexpr double kSeatCheckP = 0.01;

// The seats that fail significantly more than the rest of their station (a one-sided
// Fisher exact test of failed over ended channels, p < kSeatCheckP) or whose median speed
// is under half their station's, among seats with at least kSeatCheckMinHandsets ended
// channels. `seats` and `stations` as the report holds them.
std::vector<SeatCheck> SeatsToCheck(const std::vector<SeatRow>& seats,
                                    const std::vector<StationSpeed>& stations);

// From records as the files hold them (folded here: the line that counts per channel).
Report BuildReport(std::vector<Record> records, const ReportFilter& filter);
// From the database; false with the server's words in `error`, or when the database
// is older than the seat and reason columns.
[[nodiscard]] bool QueryReport(platform::DbConnection& db, const ReportFilter& filter,
                               Report* out, std::string* error);
// The parts of the report on their own, for a board that refreshes one of them (the
// database must have the seat and reason columns); each returns false with the server's
// words in `error`.
// The most frequent failure reasons, as Report::failures.
[[nodiscard]] bool QueryFailures(platform::DbConnection& db, const ReportFilter& filter,
                                 std::vector<FailureRow>* out, std::string* error);
// Every seat and every station's median speed, as Report::seats and ::stationSpeeds;
// SeatsToCheck makes the list from them.
[[nodiscard]] bool QuerySeats(platform::DbConnection& db, const ReportFilter& filter,
                              std::vector<SeatRow>* seats, std::vector<StationSpeed>* stations,
                              std::string* error);

// Aligned tables for a person.
std::string FormatReport(const Report& report);
nlohmann::json ReportJson(const Report& report);

}  // namespace results
