// The board asked of a real server: the same board as from the files, seats by their
// label, and a board that outlives its database link.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "board/board_service.h"
#include "platform/database/libpq/libpq_connection.h"
#include "results/db/test_db.h"
#include "results/line_query.h"
#include "results/pg_sink.h"
#include "results/schema.h"

namespace {

constexpr int64_t kNow = 1796799600000;
constexpr int64_t kMin = 60 * 1000;

results::Record Channel(int n, const std::string& result, int64_t startedAgoMs) {
  results::Record r;
  r.runId = "0f8fad5b-d9cb-469f-a165-7086772895" + std::to_string(10 + n);
  r.channel = 1 + n % 4;
  r.station = "st" + std::to_string(n % 3);
  r.model = n % 2 ? "QMR-100" : "QMR-200";
  r.os.md5 = "aa";
  r.csc.md5 = "cc";
  r.result = result;
  r.startMs = kNow - startedAgoMs;
  if (r.Final()) r.durationMs = 1000 * (60 + n), r.endMs = r.startMs + *r.durationMs;
  if (result == "failed") r.bar = n % 2 ? "Fail! (Write)" : "Fail! (Hash)";
  return r;
}

// The database with the board's columns and records.
std::unique_ptr<platform::DbConnection> Stored(const std::string& target,
                                               const std::vector<results::Record>& records) {
  auto db = testdb::Connect(target);
  std::string error;
  EXPECT_TRUE(results::Migrate(*db, &error)) << error;
  EXPECT_TRUE(results::InsertRecords(*db, records, &error)) << error;
  return db;
}

TEST(LineBoardDb, ServerAndFilesGiveTheSameBoard) {
  TESTDB_FRESH(target);
  std::vector<results::Record> records;
  const char* results[] = {"done", "failed", "running", "interrupted", "done"};
  for (int n = 0; n < 40; ++n) records.push_back(Channel(n, results[n % 5], (n * 37 % 1500) * kMin));
  auto db = Stored(target, records);
  for (const std::string station : {"", "st1"}) {
    results::LineWindow w;
    w.nowMs = kNow;
    w.station = station;
    results::LineBoard fromServer;
    std::string error;
    ASSERT_TRUE(results::QueryLineBoard(*db, w, &fromServer, &error)) << error;
    EXPECT_EQ(results::LineBoardJson(fromServer).dump(1),
              results::LineBoardJson(results::BuildLineBoard(records, w)).dump(1))
        << station;
  }
}

TEST(LineBoardDb, ASeatIsItsLabelWhateverChannelServedIt) {
  TESTDB_FRESH(target);
  auto db = Stored(target, {Channel(0, "failed", 9 * kMin), Channel(3, "done", 5 * kMin),
                            Channel(6, "running", kMin)});
  // Channels 1 and 4 of st0 are the seat "left"; channel 3 has no seat plan.
  ASSERT_TRUE(db->ExecuteScript("UPDATE channel_result SET seat = 'left' WHERE channel IN (1, 4)").ok);
  results::LineWindow w;
  w.nowMs = kNow;
  results::LineBoard board;
  std::string error;
  ASSERT_TRUE(results::QueryLineBoard(*db, w, &board, &error)) << error;
  std::vector<std::string> tiles;
  for (const results::Tile& t : board.tiles)
    tiles.push_back(t.station + "/" + t.seat + "/" + std::to_string(t.channel) + " " + t.state);
  EXPECT_EQ(tiles, (std::vector<std::string>{"st0//3 writing", "st0/left/4 done"}));
}

TEST(LineBoardDb, SettledHoursAndMediansAreAskedAgainOnceAMinuteAndRecentHoursEachTime) {
  TESTDB_FRESH(target);
  auto db = Stored(target, {Channel(0, "done", 5 * 60 * kMin), Channel(1, "running", kMin)});
  results::LineCache cache;
  const auto ask = [&](int64_t laterMs) {
    results::LineWindow w;
    w.nowMs = kNow + laterMs;
    results::LineBoard board;
    std::string error;
    EXPECT_TRUE(results::QueryLineBoard(*db, w, &board, &error, &cache)) << error;
    return board;
  };
  (void)ask(0);
  // A late record five hours back, one in the last hour, and another done channel that
  // moves the model's median.
  results::Record late = Channel(3, "done", 5 * 60 * kMin), recent = Channel(6, "done", 20 * kMin);
  results::Record slow = Channel(4, "done", 3 * 60 * kMin);
  slow.model = "QMR-100", slow.durationMs = 3000 * kMin;
  std::string error;
  ASSERT_TRUE(results::InsertRecords(*db, {late, recent, slow}, &error)) << error;
  struct Case {
    int64_t laterMs;
    uint64_t linedEnded5hAgo, endedLastHour;
    bool medianMoved;
  };
  for (const Case& c : {Case{1000, 1, 1, false}, Case{results::kSettledForMs + 1000, 2, 1, true}}) {
    const results::LineBoard board = ask(c.laterMs);
    std::map<int64_t, uint64_t> line;
    for (const results::HourYield& h : board.hours)
      if (h.station.empty()) line[(kNow - h.hourMs) / (60 * kMin)] = h.ended;
    EXPECT_EQ(line[5], c.linedEnded5hAgo) << c.laterMs;
    EXPECT_EQ(line[1], c.endedLastHour) << c.laterMs;
    ASSERT_EQ(board.tiles.size(), 5u);
    const auto writing = std::find_if(board.tiles.begin(), board.tiles.end(),
                                      [](const results::Tile& t) { return t.state == "writing"; });
    ASSERT_NE(writing, board.tiles.end());
    EXPECT_EQ(writing->remainingMs > 60 * kMin, c.medianMoved) << c.laterMs;
  }
}

TEST(LineBoardDb, TheBoardReconnectsAfterItsLinkIsCut) {
  TESTDB_FRESH(target);
  auto db = Stored(target, {Channel(0, "done", kMin)});
  int attempts = 0;
  const std::unique_ptr<board::RecordSource> source =
      board::DatabaseSource([&](std::string* error) -> std::unique_ptr<platform::DbConnection> {
        // The first attempt finds the server away.
        if (++attempts == 1) return *error = "connection refused", nullptr;
        return platform::ConnectPostgres(target, error);
      });
  const auto line = [&source] {
    results::LineWindow w;
    return board::Serve(*source, "/api/line", {}, kNow, w).status;
  };
  EXPECT_EQ(line(), 503);
  EXPECT_EQ(line(), 200);
  // The server ends the board's session (a restart, a failover): one refresh fails, the
  // next is served on a new link.
  ASSERT_TRUE(db->Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                          "datname = current_database() AND pid <> pg_backend_pid()")
                  .ok);
  EXPECT_EQ(line(), 503);
  EXPECT_EQ(line(), 200);
  EXPECT_EQ(attempts, 3);
}

}  // namespace
