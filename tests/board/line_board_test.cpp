// The board made from records: each seat's state from its newest channel, the stations'
// yield and pace, the hourly yield and the shift's reasons; and the answers the board's
// paths give to bad parameters and to records that cannot be had.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "board/board_service.h"
#include "results/line_query.h"

namespace {

constexpr int64_t kNow = 1796799600000;  // on the hour
constexpr int64_t kMin = 60 * 1000;

results::Record Channel(const std::string& station, int channel, const std::string& result,
                        int64_t startedAgoMs, int64_t durationMs = 0, const std::string& run = "a") {
  results::Record r;
  r.runId = run + "0000000-0000-4000-8000-000000000000";
  r.channel = channel;
  r.station = station;
  r.model = "QMR-100";
  r.result = result;
  r.startMs = kNow - startedAgoMs;
  if (r.Final()) r.endMs = r.startMs + durationMs, r.durationMs = durationMs;
  if (result == "failed" || result == "interrupted") r.bar = "Fail! (Write)";
  return r;
}

results::LineWindow Window() {
  results::LineWindow w;
  w.nowMs = kNow;
  return w;
}

TEST(LineBoard, EachSeatShowsTheStateOfItsNewestChannel) {
  struct Case {
    const char* what;
    std::vector<results::Record> records;
    std::string state, bar;
    std::optional<int64_t> durationMs, remainingMs;
  };
  // Two done channels of the model make its median 4 minutes.
  const std::vector<results::Record> history = {Channel("B", 9, "done", 60 * kMin, 3 * kMin, "b"),
                                                Channel("B", 9, "done", 50 * kMin, 5 * kMin, "c")};
  const std::vector<Case> cases = {
      {"writing, with the model's median less the time so far", {Channel("A", 1, "running", kMin)},
       "writing", "", std::nullopt, 3 * kMin},
      {"done", {Channel("A", 1, "done", 3 * kMin, 2 * kMin)}, "done", "", 2 * kMin, std::nullopt},
      {"failed, with its bar text", {Channel("A", 1, "failed", 3 * kMin, kMin)}, "failed",
       "Fail! (Write)", kMin, std::nullopt},
      {"interrupted counts as failed", {Channel("A", 1, "interrupted", 3 * kMin, kMin)}, "failed",
       "Fail! (Write)", kMin, std::nullopt},
      {"idle once the handset has long been taken away", {Channel("A", 1, "done", 30 * kMin, kMin)},
       "idle", "", kMin, std::nullopt},
      {"a newer channel replaces an older failure",
       {Channel("A", 1, "failed", 9 * kMin, kMin, "d"), Channel("A", 1, "done", 4 * kMin, kMin, "e")},
       "done", "", kMin, std::nullopt},
      {"the final record replaces the running one of the same channel",
       {Channel("A", 1, "running", 4 * kMin, 0, "f"), Channel("A", 1, "done", 4 * kMin, kMin, "f")},
       "done", "", kMin, std::nullopt},
  };
  for (const Case& c : cases) {
    std::vector<results::Record> records = history;
    records.insert(records.end(), c.records.begin(), c.records.end());
    const results::LineBoard board = results::BuildLineBoard(records, Window());
    ASSERT_EQ(board.tiles.size(), 2u) << c.what;
    const results::Tile& t = board.tiles.front();
    EXPECT_EQ(t.station + "/" + std::to_string(t.channel), "A/1") << c.what;
    EXPECT_EQ(t.state, c.state) << c.what;
    EXPECT_EQ(t.bar, c.bar) << c.what;
    EXPECT_EQ(t.durationMs, c.durationMs) << c.what;
    EXPECT_EQ(t.remainingMs, c.remainingMs) << c.what;
  }
}

TEST(LineBoard, StationsOutsideTheWindowAreOffTheBoard) {
  results::LineWindow w = Window();
  w.windowHours = 2;
  const results::LineBoard board = results::BuildLineBoard(
      {Channel("old", 1, "done", 3 * 60 * kMin, kMin, "b"), Channel("new", 1, "done", 90 * kMin, kMin, "c")}, w);
  EXPECT_EQ(board.stations, std::vector<std::string>{"new"});
  ASSERT_EQ(board.rows.size(), 1u);
  EXPECT_EQ(board.rows[0].station, "new");
}

TEST(LineBoard, StationRowCountsTheLastHourAndTheShift) {
  const results::LineBoard board = results::BuildLineBoard(
      {Channel("A", 1, "done", 10 * kMin, kMin, "a"), Channel("A", 2, "failed", 20 * kMin, kMin, "b"),
       Channel("A", 3, "running", 2 * kMin, 0, "c"), Channel("A", 1, "done", 2 * 60 * kMin, kMin, "d"),
       Channel("A", 2, "done", 3 * 60 * kMin, kMin, "e"), Channel("A", 2, "done", 9 * 60 * kMin, kMin, "f")},
      Window());
  ASSERT_EQ(board.rows.size(), 1u);
  const results::StationRow& r = board.rows[0];
  EXPECT_EQ(r.hourEnded, 2u);
  EXPECT_EQ(r.hourDone, 1u);
  EXPECT_EQ(r.shiftEnded, 4u);  // the channel 9 hours ago is before the shift
  EXPECT_EQ(r.shiftDone, 3u);
  EXPECT_DOUBLE_EQ(r.handsetsPerHour, 3.0 / 8);
}

TEST(LineBoard, HourlyYieldIsPerStationAndForTheWholeLine) {
  const results::LineBoard board = results::BuildLineBoard(
      {Channel("A", 1, "done", 10 * kMin, kMin, "a"), Channel("B", 1, "failed", 20 * kMin, kMin, "b"),
       Channel("B", 2, "running", 5 * kMin, 0, "c"), Channel("A", 2, "done", 70 * kMin, kMin, "d"),
       Channel("A", 2, "done", 25 * 60 * kMin, kMin, "e")},
      Window());
  std::vector<std::string> seen;
  for (const results::HourYield& h : board.hours)
    seen.push_back(std::to_string((kNow - h.hourMs) / (60 * kMin)) + "h " + h.station + " " +
                   std::to_string(h.done) + "/" + std::to_string(h.ended));
  // The last hour started at kNow - 1 h; the one before at kNow - 2 h; 25 hours ago is off
  // the chart; a running channel has not ended.
  EXPECT_EQ(seen, (std::vector<std::string>{"2h  1/1", "2h A 1/1", "1h  1/2", "1h A 1/1", "1h B 0/1"}));
}

TEST(LineBoard, ShiftReasonsComeMostFrequentFirst) {
  std::vector<results::Record> records;
  for (int i = 0; i < 3; ++i) records.push_back(Channel("A", 1, "failed", (10 + i) * kMin, kMin, std::to_string(i)));
  records.push_back(Channel("A", 2, "failed", 30 * kMin, kMin, "9"));
  records.back().bar = "Fail! (Hash)";
  records.push_back(Channel("A", 2, "failed", 9 * 60 * kMin, kMin, "8"));  // before the shift
  records.back().bar = "Fail! (Hash)";
  const results::LineBoard board = results::BuildLineBoard(records, Window());
  ASSERT_EQ(board.reasons.size(), 2u);
  EXPECT_EQ(board.reasons[0].reason + " " + std::to_string(board.reasons[0].count), "Fail! (Write) 3");
  EXPECT_EQ(board.reasons[1].reason + " " + std::to_string(board.reasons[1].count), "Fail! (Hash) 1");
}

// The report's rule over the board's window: a seat failing half its handsets is listed,
// and a seat whose failures are all older than the window is not.
TEST(LineBoard, SeatsToCheckAreTheReportsOverTheWindow) {
  std::vector<results::Record> records;
  int run = 0;
  for (const char* seat : {"A1", "A2", "A3"})
    for (int i = 0; i < 24; ++i) {
      const bool fails = std::string(seat) == "A2" && i % 2 == 0;
      records.push_back(Channel("A", 0, fails ? "failed" : "done", (5 + i) * kMin, kMin,
                                std::to_string(++run)));
      records.back().seat = seat;
    }
  for (int i = 0; i < 24; ++i) {
    records.push_back(Channel("A", 0, "failed", 13 * 60 * kMin, kMin, std::to_string(++run)));
    records.back().seat = "A3";
  }
  const results::LineBoard board = results::BuildLineBoard(records, Window());
  ASSERT_EQ(board.seatsToCheck.size(), 1u);
  EXPECT_EQ(board.seatsToCheck[0].station + " " + board.seatsToCheck[0].seat, "A A2");
  EXPECT_EQ(board.seatsToCheck[0].why.rfind("fails 12 of 24", 0), 0u) << board.seatsToCheck[0].why;
}

// Records that are always there, or never.
class FixedSource final : public board::RecordSource {
 public:
  explicit FixedSource(bool up) : up_(up) {}
  bool Line(const results::LineWindow& w, results::LineBoard* out, std::string* error) override {
    if (!up_) *error = "server closed the connection";
    else *out = results::BuildLineBoard({Channel("A", 1, "done", kMin, kMin)}, w);
    return up_;
  }
  bool Report(const results::ReportFilter&, results::Report*, std::string* error) override {
    if (!up_) *error = "server closed the connection";
    return up_;
  }
  bool StationKnown(const std::string& station, std::string* error) override {
    if (!up_) *error = "server closed the connection";
    return up_ && station == "A";
  }

 private:
  bool up_;
};

TEST(BoardPaths, AnswerEachRequestWithTheRightStatus) {
  struct Case {
    bool up;
    std::string path;
    std::multimap<std::string, std::string> params;
    int status;
    std::string bodyStart;
  };
  const std::vector<Case> cases = {
      {true, "/api/line", {}, 200, "{"},
      {true, "/api/line", {{"station", "A"}}, 200, "{"},
      {true, "/api/line", {{"station", "Z"}}, 400, "station \"Z\" has no records\n"},
      {true, "/api/report", {{"since", "2026-12-09"}}, 200, "{"},
      {true, "/api/report", {{"since", "yesterday"}}, 400, "since=yesterday is not a time"},
      {true, "/api/report", {{"until", "12:00"}}, 400, "until=12:00 is not a time"},
      {true, "/api/report", {{"station", "Z"}}, 400, "station \"Z\" has no records\n"},
      {true, "/api/nothing", {}, 404, "no such page"},
      {false, "/api/line", {}, 503, "{\"error\":\"server closed the connection\"}"},
      {false, "/api/report", {}, 503, "{\"error\""},
      {false, "/", {}, 200, "<!DOCTYPE html>"},
  };
  for (const Case& c : cases) {
    FixedSource source(c.up);
    const board::Answer a = board::Serve(source, c.path, c.params, kNow, results::LineWindow{});
    EXPECT_EQ(a.status, c.status) << c.path;
    EXPECT_EQ(a.body.substr(0, c.bodyStart.size()), c.bodyStart) << c.path;
    // One line: a tool or a person reads the reason whole.
    if (a.status == 400) {
      EXPECT_EQ(a.body.find('\n'), a.body.size() - 1) << c.path;
    }
  }
}

TEST(BoardPaths, OneStationsRecordsFilesAreReadOnEachRequest) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("board-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "results.jsonl").string();
  const auto source = board::FilesSource({file});
  const auto tiles = [&source]() -> std::string {
    const board::Answer a = board::Serve(*source, "/api/line", {}, kNow, results::LineWindow{});
    return a.status == 200 ? std::to_string(nlohmann::json::parse(a.body)["tiles"].size()) + " tiles"
                           : std::to_string(a.status) + " " + a.body;
  };
  // Not there yet (a station that has not written): the page says why and keeps asking.
  const std::string missing = tiles();
  EXPECT_EQ(missing.substr(0, 4), "503 ");
  EXPECT_NE(missing.find(file), std::string::npos) << missing;
  std::ofstream(file) << R"({"runId":"0f8fad5b-d9cb-469f-a165-70867728950e","channel":1,"station":"A",)"
                         R"("location":"1-1","port":1,"interfacePath":"","model":"M","os":{"path":"","md5":"a"},)"
                         R"("csc":{"path":"","md5":"c"},"start":"2026-12-09T06:59:00Z","result":"running"})"
                      << "\n";
  EXPECT_EQ(tiles(), "1 tiles");
  // The file grows: the next request sees the new channel.
  std::ofstream(file, std::ios::app) << R"({"runId":"0f8fad5b-d9cb-469f-a165-70867728950e","channel":2,"station":"A",)"
                                        R"("location":"1-2","model":"M","os":{"path":"","md5":"a"},)"
                                        R"("csc":{"path":"","md5":"c"},"start":"2026-12-09T06:59:30Z","result":"running"})"
                                     << "\n";
  EXPECT_EQ(tiles(), "2 tiles");
  std::filesystem::remove_all(dir);
}

TEST(BoardPaths, ThePageFetchesNothingFromElsewhere) {
  const std::string& page = board::PageHtml();
  for (const char* outside : {"src=\"http", "href=\"http", "src=\"//", "href=\"//", "@import", "url("})
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  // Record texts go in as text only.
  EXPECT_EQ(page.find("innerHTML"), std::string::npos);
  EXPECT_EQ(page.find("insertAdjacentHTML"), std::string::npos);
}

}  // namespace
