// The shipper against a stand-in sink: order, its place kept across a restart, lines
// still being written, a replaced file, and its back-off and state lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/storage/system_file_store.h"
#include "platform/thread/posix/posix_thread_service.h"
#include "results/set_aside.h"
#include "results/shipper.h"
#include "results/sql_state.h"
#include "support/test_env.h"

namespace {

// The test's drain at a stop: the one wait given real time.
constexpr uint32_t kDrainMs = 60000;

// Other waits take (almost) no real time; the clock keeps what each asked for.
class WaitRecordingClock final : public platform::Clock {
 public:
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}
  std::chrono::nanoseconds RealDuration(uint32_t ms) override {
    if (ms == kDrainMs) return std::chrono::seconds(10);
    std::lock_guard lock(mutex_);
    waits.push_back(ms);
    return std::chrono::microseconds(200);
  }
  std::mutex mutex_;
  std::vector<uint32_t> waits;
};

// Refuses whatever holds channel 13, as a server refuses a value it cannot store.
class FakeSink final : public results::Sink {
 public:
  int failOpens = 0;
  bool Open(std::string* error) override {
    std::lock_guard lock(mutex_);
    *error = "connection refused";
    return failOpens == 0 || --failOpens < 0;
  }
  Outcome Insert(const std::vector<results::Record>& batch, std::string* error,
                 std::string* sqlState) override {
    std::lock_guard lock(mutex_);
    *error = "bad value";
    *sqlState = "22001";
    for (const results::Record& r : batch)
      if (r.channel == 13) return Outcome::Refused;
    for (const results::Record& r : batch) channels.push_back(r.channel);
    return Outcome::Stored;
  }
  void Cancel() override {}
  std::vector<int> Channels() {
    std::lock_guard lock(mutex_);
    return channels;
  }

 private:
  std::mutex mutex_;
  std::vector<int> channels;
};

std::string Record(int channel) {
  return R"({"runId":"0f8fad5b-d9cb-469f-a165-70867728950e","channel":)" + std::to_string(channel) +
         R"(,"station":"s","location":"l","model":"m","result":"running",)"
         R"("start":"2026-12-09T10:00:00Z","os":{"md5":"a"},"csc":{"md5":"b"}})";
}

void Append(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::app | std::ios::binary) << text;
}

struct Rig {
  WaitRecordingClock clock;
  platform::PosixThreadService threads;
  platform::SystemFileStore files;
  FakeSink sink;
  std::vector<std::string> lines;
  std::mutex mutex;

  // Ships `path` until the sink holds `count` records, then stops.
  std::vector<int> Ship(const std::string& path, size_t count, results::ShipperOptions options = {}) {
    results::Shipper shipper(path, sink, files, clock, threads, [this](const std::string& line) {
      std::lock_guard lock(mutex);
      lines.push_back(line);
    }, options);
    shipper.Start();
    for (int i = 0; i < 20000 && sink.Channels().size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    EXPECT_TRUE(shipper.Stop(kDrainMs));
    return sink.Channels();
  }
};

TEST(Shipper, SendsCompleteLinesInOrderPastBadOnesAndAfterARestartOnlyWhatIsNew) {
  const std::string path = testsupport::ScratchDir("ship") + "/r.jsonl";
  Append(path, Record(0) + "\n{oops\n" + Record(13) + "\n" + Record(1) + "\n" + Record(2).substr(0, 30));
  Rig first;
  EXPECT_EQ(first.Ship(path, 2), (std::vector<int>{0, 1}));
  for (const std::string& issue : {std::string(":2: not JSON; skipped"), ":3: the results database refused it (bad value); set aside in " + path + ".refused"})
    EXPECT_EQ(std::count(first.lines.begin(), first.lines.end(), "results: " + path + issue), 1) << issue;
  Append(path, Record(2).substr(30) + "\n" + Record(3) + "\n");
  Rig second;
  EXPECT_EQ(second.Ship(path, 2), (std::vector<int>{2, 3}));
}

TEST(Shipper, ReadsAReplacedFileFromItsStart) {
  const std::string path = testsupport::ScratchDir("ship") + "/r.jsonl";
  Append(path, Record(0) + "\n" + Record(1) + "\n");
  Rig first;
  ASSERT_EQ(first.Ship(path, 2).size(), 2u);
  std::ofstream(path + ".tmp") << Record(5) << "\n";
  std::filesystem::rename(path + ".tmp", path);
  Rig second;
  EXPECT_EQ(second.Ship(path, 1), (std::vector<int>{5}));
}

// Line numbers go on from the saved place after a restart, and a refused record waits
// beside the file, byte for byte, while the records after it go on.
TEST(Shipper, SetsARefusedRecordAsideByItsLineAfterARestart) {
  const std::string path = testsupport::ScratchDir("ship") + "/r.jsonl";
  Append(path, Record(0) + "\n" + Record(1) + "\n");
  Rig first;
  ASSERT_EQ(first.Ship(path, 2).size(), 2u);
  Append(path, "{oops\n" + Record(13) + "\n" + Record(2) + "\n");
  Rig second;
  EXPECT_EQ(second.Ship(path, 1), (std::vector<int>{2}));
  for (const std::string& issue : {std::string(":3: not JSON; skipped"), ":4: the results database refused it (bad value); set aside in " + path + ".refused"})
    EXPECT_EQ(std::count(second.lines.begin(), second.lines.end(), "results: " + path + issue), 1) << issue;
  platform::SystemFileStore files;
  const results::SetAsideFile aside = results::ReadSetAside(files, path + ".refused");
  ASSERT_EQ(aside.entries.size(), 1u);
  EXPECT_EQ(aside.entries[0].file, path);
  EXPECT_EQ(aside.entries[0].line, 4u);
  EXPECT_EQ(aside.entries[0].text, Record(13));
  EXPECT_EQ(aside.entries[0].sqlState, "22001");
  EXPECT_EQ(aside.entries[0].words, "bad value");
}

// A file emptied and written anew in place (same inode) is read again from its start,
// its line numbers from 1.
TEST(Shipper, ReadsAFileCutShorterInPlaceFromItsStart) {
  const std::string path = testsupport::ScratchDir("ship") + "/r.jsonl";
  Append(path, Record(0) + "\n" + Record(1) + "\n" + Record(2) + "\n");
  Rig first;
  ASSERT_EQ(first.Ship(path, 3).size(), 3u);
  std::ofstream(path, std::ios::trunc | std::ios::binary) << "{oops\n" << Record(7) << "\n";
  Rig second;
  EXPECT_EQ(second.Ship(path, 1), (std::vector<int>{7}));
  EXPECT_EQ(std::count(second.lines.begin(), second.lines.end(), "results: " + path + ":1: not JSON; skipped"), 1);
}

// Written anew in place and already longer than before when the shipper looks: the
// bytes before its place are no longer the line it sent last.
TEST(Shipper, ReadsAFileWrittenAnewInPlaceLongerThanBeforeFromItsStart) {
  const std::string path = testsupport::ScratchDir("ship") + "/r.jsonl";
  Append(path, Record(0) + "\n" + Record(1) + "\n");
  Rig first;
  ASSERT_EQ(first.Ship(path, 2).size(), 2u);
  std::ofstream(path, std::ios::trunc | std::ios::binary) << Record(7) << "\n" << Record(8) << "\n" << Record(9) << "\n";
  Rig second;
  EXPECT_EQ(second.Ship(path, 3), (std::vector<int>{7, 8, 9}));
}

// What the server says about the record itself is set aside; what it says about the
// link, its own state or its resources is retried.
TEST(SqlState, OnlyContentRefusalsAreSetAside) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"23505", true},   // a constraint
      {"23514", true},   // a check
      {"22001", true},   // a value too long
      {"22P05", true},   // a NUL the server cannot store
      {"54000", true},   // an index row too large
      {"42501", true},   // a station name it may not use
      {"08006", false},  // the link failed
      {"57P01", false},  // the server shuts down
      {"57014", false},  // cancelled, or timed out
      {"53100", false},  // its disk is full
      {"40P01", false},  // a deadlock
      {"58030", false},  // its storage failed
      {"", false},       // no answer
  };
  for (const auto& [state, content] : cases) EXPECT_EQ(results::RefusesContent(state), content) << state;
}

// The waits between retries while the sink refuses five opens: the records of `path`
// (`count` of them) are sent once it takes them.
std::vector<uint32_t> RetryWaits(Rig& rig, const std::string& path, size_t count,
                                 uint32_t jitterPercent, uint64_t seed) {
  rig.sink.failOpens = 5;
  results::ShipperOptions options;
  options.firstRetryMs = 500;
  options.maxRetryMs = 3000;
  options.pollMs = 7;
  options.retryJitterPercent = jitterPercent;
  options.jitterSeed = seed;
  EXPECT_EQ(rig.Ship(path, count, options).size(), count);
  std::vector<uint32_t> retries;
  for (uint32_t ms : rig.clock.waits)
    if (ms != options.pollMs) retries.push_back(ms);
  return retries;
}

const std::vector<uint32_t> kBackOff{500, 1000, 2000, 3000, 3000};

TEST(Shipper, BacksOffDoublingToItsCapAndSaysEachChangeOnce) {
  const std::string path = testsupport::ScratchDir("ship") + "/r.jsonl";
  Append(path, Record(0) + "\n" + Record(1) + "\n");
  Rig rig;
  EXPECT_EQ(RetryWaits(rig, path, 2, 0, 1), kBackOff);
  EXPECT_EQ(rig.lines, (std::vector<std::string>{
                           "results database: connection refused; 2 records waiting, trying again",
                           "results database: connected, 2 records waiting",
                           "results database: connected, every record sent"}));
}

// Stations that lost the server together spread their retries over the back-off's
// last half instead of all coming back at the same moment.
TEST(Shipper, EachRetryIsCutShortAtRandomWithinItsJitter) {
  std::vector<std::vector<uint32_t>> runs;
  for (uint64_t seed : {7u, 8u}) {
    const std::string path = testsupport::ScratchDir("ship" + std::to_string(seed)) + "/r.jsonl";
    Append(path, Record(0) + "\n");
    Rig rig;
    const std::vector<uint32_t> retries = RetryWaits(rig, path, 1, 50, seed);
    ASSERT_EQ(retries.size(), kBackOff.size());
    for (size_t i = 0; i < retries.size(); ++i) {
      EXPECT_GE(retries[i], kBackOff[i] / 2) << i;
      EXPECT_LE(retries[i], kBackOff[i]) << i;
    }
    runs.push_back(retries);
  }
  EXPECT_NE(runs[0], runs[1]);
}

}  // namespace
