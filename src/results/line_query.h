// The line board's view: each seat's latest channel, each station's yield and pace, the
// hourly first-pass yield, the shift's failure reasons. Asked of the results database,
// or made from one station's records files, with the same rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/database/database.h"
#include "results/record.h"
#include "results/report.h"

namespace results {

// What the board looks at, all relative to `nowMs`.
struct LineWindow {
  int64_t nowMs = 0;
  int64_t windowHours = 12;  // a station shows while it has a record this recent
  int64_t shiftHours = 8;    // the shift's yield, pace and reasons
  std::string station;       // empty: the whole line
};

// A seat: its label, or for records without a seat plan the channel ("ch 3").
struct Tile {
  std::string station;
  std::string seat;
  int channel = 0;
  std::string state;  // "writing", "done", "failed" (interrupted counts as failed)
  std::string model;
  int64_t startMs = 0;
  std::optional<int64_t> durationMs;
  std::optional<int64_t> remainingMs;  // writing: the model's median less the time so far
  std::string reason;
  std::string bar;
};

struct StationRow {
  std::string station;
  uint64_t hourEnded = 0, hourDone = 0;    // the last 60 minutes
  uint64_t shiftEnded = 0, shiftDone = 0;  // the last shiftHours
  double handsetsPerHour = 0;              // done over the shift
};

// First-pass yield of one hour: channels that started in it and ended, and of those done.
struct HourYield {
  std::string station;  // empty: the whole line
  int64_t hourMs = 0;   // the hour's start, UTC
  uint64_t ended = 0, done = 0;
};

struct ReasonCount {
  std::string reason;  // the failure code, or the bar text where a record has no code
  uint64_t count = 0;
};

struct SeatToCheck {
  std::string station, seat, why;
};

struct LineBoard {
  int64_t nowMs = 0;
  std::vector<std::string> stations;  // sorted
  std::vector<Tile> tiles;            // by station, then seat
  std::vector<StationRow> rows;       // by station
  std::vector<HourYield> hours;       // the last 24 hours, line and per station, by hour
  std::vector<ReasonCount> reasons;   // most frequent first
  std::vector<SeatToCheck> seatsToCheck;
};

// What changes slowly, kept between one refresh and the next: the chart's hours before
// the last two (a channel is stored minutes after it starts, not hours) and the models'
// median durations. Asked again once it is kSettledForMs old, or the chart has moved on
// an hour, or another station is asked for.
struct LineCache {
  int64_t madeMs = -1;  // -1: nothing kept
  std::string station;
  int64_t chartStartMs = 0;
  int64_t settledBeforeMs = 0;
  std::vector<HourYield> settledHours;
  std::vector<std::pair<std::string, double>> medianMs;
};
inline constexpr int64_t kSettledForMs = 60 * 1000;

// The seats the report's rule flagged, each with the numbers that made it stand out.
std::vector<SeatToCheck> BoardSeatsToCheck(const std::vector<SeatCheck>& checks);

// From records as the files hold them (folded here).
LineBoard BuildLineBoard(std::vector<Record> records, const LineWindow& window);
// From the database; false with the server's words in `error`. With `cache`, the slow
// parts come from it while it holds (and it is filled when it does not).
[[nodiscard]] bool QueryLineBoard(platform::DbConnection& db, const LineWindow& window,
                                  LineBoard* out, std::string* error, LineCache* cache = nullptr);
// true when the database holds a record of `station`; false with `error` empty when not.
[[nodiscard]] bool StationKnown(platform::DbConnection& db, const std::string& station,
                                std::string* error);

nlohmann::json LineBoardJson(const LineBoard& board);

}  // namespace results
