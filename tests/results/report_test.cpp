// The report from records: yields, failures, percentiles, and the times the options take
// (the filter is checked against the server's).
#include <gtest/gtest.h>

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
