// The report from records: yields, failures, percentiles, and the times the options take
// (the filter is checked against the server's).
#include <gtest/gtest.h>

#include <random>

#include <nlohmann/json.hpp>

#include "results/iso_time.h"
#include "results/report.h"

namespace {

results::Record Channel(const std::string& station, const std::string& model,
                        const std::string& result, int64_t durationMs, const std::string& bar,
                        const std::string& start = "2026-12-09T08:30:00Z") {
  static int next = 0;
  results::Record r;
  r.runId = "0f8fad5b-d9cb-469f-a165-70867728950e";
  r.channel = next++;
  r.station = station;
  r.model = model;
  r.os.md5 = "aa";
  r.result = result;
  r.startMs = *results::ParseIsoUtc(start);
  r.durationMs = durationMs;
  r.bar = bar;
  return r;
}

TEST(Report, CountsYieldFailuresAndPercentilesOfDoneChannels) {
  std::vector<results::Record> records;
  for (int64_t d : {1000, 2000, 3000, 4000, 5000}) records.push_back(Channel("s1", "A", "done", d, "PASS"));
  records.push_back(Channel("s2", "B", "failed", 10, "Hash mismatch"));
  records.push_back(Channel("s2", "B", "interrupted", 10, "Stopped"));
  records.push_back(Channel("s2", "B", "failed", 10, "Hash mismatch"));
  results::Record superseded = records.back();
  superseded.result = "running";
  records.push_back(superseded);
  records.push_back(Channel("s2", "B", "running", 0, "", "2026-12-09T09:10:00Z"));
  const results::Report r = results::BuildReport(records, {});
  EXPECT_EQ(r.started, 9u);
  EXPECT_EQ(r.done, 5u);
  ASSERT_EQ(r.byStation.size(), 2u);
  EXPECT_EQ(r.byStation[1].key, "s2");
  EXPECT_EQ(r.byStation[1].started, 4u);
  EXPECT_EQ(r.byStation[1].done, 0u);
  ASSERT_EQ(r.byHour.size(), 2u);
  EXPECT_EQ(r.byHour[0].key, "2026-12-09 08:00Z");
  ASSERT_EQ(r.failures.size(), 2u);
  EXPECT_EQ(r.failures[0].bar, "Hash mismatch");
  EXPECT_EQ(r.failures[0].count, 2u);
  ASSERT_EQ(r.durations.size(), 1u);
  EXPECT_DOUBLE_EQ(r.durations[0].medianMs, 3000);
  EXPECT_DOUBLE_EQ(r.durations[0].p95Ms, 4800);
}

// A channel at a seat (or, with `seat` empty, at `location`) that sent `bytes`.
results::Record Seated(const std::string& station, const std::string& seat, const std::string& result,
                       int64_t durationMs, std::optional<int64_t> bytes, const std::string& location = "1-1.1") {
  results::Record r = Channel(station, "A", result, durationMs, "");
  r.seat = seat;
  r.location = location;
  r.bytesSent = bytes;
  return r;
}

TEST(Report, FailuresCountByReasonBesideTheLatestBarTextAndOlderRecordsByBar) {
  std::vector<results::Record> records;
  const auto failed = [&records](const std::string& reason, const std::string& bar, const std::string& start) {
    records.push_back(Channel("s1", "A", "failed", 10, bar, start));
    records.back().reason = reason;
  };
  failed("hash-mismatch", "Hash mismatch in system", "2026-12-09T08:30:00Z");
  failed("hash-mismatch", "Hash mismatch in vendor", "2026-12-09T08:40:00Z");
  failed("hash-mismatch", "Hash mismatch in boot", "2026-12-09T08:35:00Z");
  failed("unplugged", "Cable pulled", "2026-12-09T08:35:00Z");
  for (int i = 0; i < 4; ++i) failed("", "Old bar", "2026-12-09T08:00:00Z");
  failed("", "unplugged", "2026-12-09T08:00:00Z");
  records.push_back(Channel("s1", "A", "done", 10, "PASS"));
  const results::Report r = results::BuildReport(records, {});
  ASSERT_EQ(r.failures.size(), 4u);
  const std::tuple<std::string, std::string, uint64_t> expected[] = {
      {"", "Old bar", 4}, {"hash-mismatch", "Hash mismatch in vendor", 3}, {"", "unplugged", 1},
      {"unplugged", "Cable pulled", 1}};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(std::tie(r.failures[i].reason, r.failures[i].bar, r.failures[i].count), expected[i]) << i;
}

TEST(Report, SeatsGiveHandsetsYieldAndMedianSpeedOfDoneChannelsThatKnowIt) {
  const std::vector<results::Record> records = {
      Seated("s1", "A", "done", 60000, 600'000'000),  // 10 MB/s
      Seated("s1", "A", "done", 30000, 600'000'000),  // 20 MB/s
      Seated("s1", "A", "done", 30000, std::nullopt),
      Seated("s1", "A", "failed", 1000, 600'000'000),
      Seated("s1", "A", "running", 0, std::nullopt),
      Seated("s1", "", "done", 10000, 400'000'000, "1-1.4"),  // 40 MB/s, no seat plan
      Seated("s2", "A", "failed", 1000, std::nullopt),
  };
  const results::Report r = results::BuildReport(records, {});
  ASSERT_EQ(r.seats.size(), 3u);
  const results::SeatRow& located = r.seats[0];
  EXPECT_EQ(std::tie(located.station, located.seat, located.location), std::tie("s1", "", "1-1.4"));
  const results::SeatRow& a = r.seats[1];
  EXPECT_EQ(std::tie(a.station, a.seat, a.location), std::tie("s1", "A", ""));
  EXPECT_EQ(std::tie(a.started, a.done, a.failed), std::make_tuple(5u, 3u, 1u));
  EXPECT_EQ(a.medianMBps, 15.0);
  EXPECT_EQ(r.seats[2].medianMBps, std::nullopt);
  ASSERT_EQ(r.stationSpeeds.size(), 2u);
  EXPECT_EQ(r.stationSpeeds[0].medianMBps, 20.0);
  EXPECT_EQ(r.stationSpeeds[1].medianMBps, std::nullopt);
}

TEST(Report, SeatIsCheckedWhenItFailsBeyondChanceOrIsSlowWithEnoughHandsets) {
  struct Case {
    const char* what;
    uint64_t done, failed;          // the seat
    const char* restStation;        // where the other seat is
    uint64_t restDone, restFailed;
    std::optional<double> mbps, stationMbps;
    bool failsMore, slow;
  };
  const Case cases[] = {
      {"fails beyond chance", 30, 10, "s", 195, 5, 10, 10, true, false},
      {"just beyond chance (p 0.0062)", 15, 5, "s", 190, 10, 10, 10, true, false},
      {"could be chance (p 0.028)", 16, 4, "s", 190, 10, 10, 10, false, false},
      {"twenty ended is enough", 0, 20, "s", 200, 0, 10, 10, true, false},
      {"nineteen ended is too few", 0, 19, "s", 200, 0, 2, 10, false, false},
      {"fails as the rest", 38, 2, "s", 190, 10, 10, 10, false, false},
      {"passes more than the rest", 40, 0, "s", 100, 100, 10, 10, false, false},
      {"only seat of its station", 30, 10, "t", 195, 5, 10, 10, false, false},
      {"under half the speed", 40, 0, "s", 40, 0, 4.9, 10, false, true},
      {"half the speed", 40, 0, "s", 40, 0, 5, 10, false, false},
      {"speed unknown", 40, 0, "s", 40, 0, std::nullopt, 10, false, false},
  };
  for (const Case& c : cases) {
    const std::vector<results::SeatRow> seats = {
        {"s", "T", "", c.done + c.failed, c.done, c.failed, c.mbps},
        {c.restStation, "R", "", c.restDone + c.restFailed, c.restDone, c.restFailed, 10}};
    const std::vector<results::StationSpeed> stations = {{"s", c.stationMbps}, {"t", 10}};
    std::vector<results::SeatCheck> check = results::SeatsToCheck(seats, stations);
    // The other seat may stand out against this one; only this one is the case.
    std::erase_if(check, [](const results::SeatCheck& s) { return s.seat.seat != "T"; });
    if (!c.failsMore && !c.slow) {
      EXPECT_TRUE(check.empty()) << c.what;
      continue;
    }
    ASSERT_EQ(check.size(), 1u) << c.what;
    EXPECT_EQ(check[0].failsMore, c.failsMore) << c.what;
    EXPECT_EQ(check[0].slow, c.slow) << c.what;
  }
}

// Six seats of one station, one of them failing every other handset: that seat, and no
// other, is listed, in the text and in the JSON, over many shifts.
TEST(Report, RehearsalListsTheSeatFailingHalfItsHandsetsAndNoOther) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    std::vector<results::Record> records;
    for (int handset = 0; handset < 60; ++handset)
      for (const char* seat : {"1", "2", "3", "4", "5", "6"}) {
        const uint32_t failPerMille = std::string(seat) == "3" ? 500 : 50;
        const bool failed = random() % 1000 < failPerMille;
        const int64_t ms = 60000 + random() % 10000;
        records.push_back(Seated("s1", seat, failed ? "failed" : "done", ms, 20 * ms * 1000));
      }
    const results::Report r = results::BuildReport(records, {});
    ASSERT_EQ(r.seatsToCheck.size(), 1u) << "seed " << seed;
    EXPECT_EQ(r.seatsToCheck[0].seat.seat, "3") << "seed " << seed;
    EXPECT_TRUE(r.seatsToCheck[0].failsMore) << "seed " << seed;
    const std::string text = results::FormatReport(r);
    const size_t listed = text.find("Seats to check\n  A seat is listed when it has at least 20 ended channels");
    ASSERT_NE(listed, std::string::npos) << text;
    EXPECT_NE(text.find("\n  s1       3     fails more", listed), std::string::npos) << text;
    EXPECT_EQ(results::ReportJson(r)["seatsToCheck"][0]["seat"], "3");
  }
}

TEST(Report, TimesTakeTheIsoFormsOnly) {
  struct Case {
    const char* text;
    std::optional<int64_t> ms;
  };
  const Case cases[] = {{"1970-01-01", 0},
                        {"1970-01-01T00:00:01Z", 1000},
                        {"1970-01-01 00:01", 60000},
                        {"1970-01-01T00:00:00.250Z", 250},
                        {"2026-02-29", std::nullopt},
                        {"2026-12-09T24:00", std::nullopt},
                        {"1969-12-31", std::nullopt},
                        {"2026-12-09T08", std::nullopt},
                        {"yesterday", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(results::ParseIsoUtc(c.text), c.ms) << c.text;
}

TEST(Report, TableTextEscapesWhatAHandsetWrote) {
  const std::string text =
      results::FormatReport(results::BuildReport({Channel("s1", "A\x1b[31m", "failed", 1, "x\r\n")}, {}));
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_NE(text.find("A\\x1B[31m"), std::string::npos);
  EXPECT_NE(text.find("  x\\x0D\\x0A  "), std::string::npos) << text;
}

}  // namespace
