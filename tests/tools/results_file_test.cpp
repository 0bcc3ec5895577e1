// The results file when the disk will not take a record: the record waits in memory and
// goes in order once the file takes writes, a cut line is made whole or spoils no other,
// and the file is made by its first record and never removed, as others append to it too.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "records/channel_record.h"
#include "results/records_reader.h"
#include "support/test_env.h"

namespace {

using platform::AppendFailure;

nlohmann::json Record(int channel) {
  engine::ChannelStartInfo handset;
  handset.channel = channel;
  handset.model = "QMR-K220_SIGN";
  results::Record r = records::StartedRecord({"3f0c7a52-8d1e-4b6a-9c2f-5e7d1a0b4c93", "line-pc-1"},
                                             handset, std::chrono::system_clock::now());
  r.mode = "DOWNLOAD_MODE_ALL";
  return results::ToJson(r);
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

#ifndef _WIN32  // short writes are made with the file size limit
// The process may write no file past `bytes` while this lasts: the system takes what fits
// of a write (a short write) and refuses the rest.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
};

std::vector<int> Channels(const results::ParsedLines& read) {
  std::vector<int> channels;
  for (const auto& record : read.records) channels.push_back(record.channel);
  return channels;
}

TEST(ResultsFile, RecordsTheFileRefusesWaitInOrderAndTheLineItCutIsMadeWhole) {
  const std::string path = testsupport::ScratchDir("results_waiting") + "/r.jsonl";
  records::ResultsFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error)) << error;
  std::vector<records::WaitingNotice> told;
  file.SetWaitingHook([&told](const records::WaitingNotice& n) { told.push_back(n); });
  ASSERT_TRUE(file.Append(Record(0), /*durable=*/true));

  {
    FileSizeLimit limit(std::filesystem::file_size(path) + 10);
    EXPECT_FALSE(file.Append(Record(1), /*durable=*/true));
    EXPECT_FALSE(file.Append(Record(2), /*durable=*/false));
    EXPECT_EQ(file.Waiting(), 2u);
    EXPECT_EQ(file.Reason(), AppendFailure::kTooLarge);
    // While the file grows, its reader waits at the cut line and takes nothing of it.
    const results::ParsedLines growing = results::ParseLines(path, Bytes(path), 1, false);
    EXPECT_EQ(Channels(growing), std::vector<int>{0});
    EXPECT_TRUE(growing.issues.empty());
  }
  ASSERT_TRUE(file.Append(Record(3), /*durable=*/false));
  EXPECT_EQ(file.Waiting(), 0u);

  // Told once when the trouble began and once when what waited was written.
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0].reason, AppendFailure::kTooLarge);
  EXPECT_EQ(told[0].count, 1u);
  EXPECT_EQ(told[1].reason, AppendFailure::kNone);
  EXPECT_EQ(told[1].count, 2u);

  const results::ParsedLines read = results::ParseLines(path, Bytes(path), 1, true);
  EXPECT_EQ(Channels(read), (std::vector<int>{0, 1, 2, 3}));
  EXPECT_TRUE(read.issues.empty());
}

// Another process appended after the cut: the cut line cannot be finished any more, and
// the record is written again whole on a line of its own.
TEST(ResultsFile, ALineCutUnderAnotherWritersRecordSpoilsNoOther) {
  const std::string path = testsupport::ScratchDir("results_cut") + "/r.jsonl";
  records::ResultsFile file;
  records::ResultsFile other;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error)) << error;
  ASSERT_TRUE(other.Open(path, &error)) << error;
  ASSERT_TRUE(file.Append(Record(0), /*durable=*/false));
  {
    FileSizeLimit limit(std::filesystem::file_size(path) + 10);
    EXPECT_FALSE(file.Append(Record(1), /*durable=*/false));
  }
  ASSERT_TRUE(other.Append(Record(7), /*durable=*/false));
  ASSERT_TRUE(file.WriteWaiting());

  const results::ParsedLines read = results::ParseLines(path, Bytes(path), 1, true);
  EXPECT_EQ(Channels(read), (std::vector<int>{0, 7, 1}));
  ASSERT_EQ(read.issues.size(), 1u);
  EXPECT_EQ(read.issues[0].line, 2u);  // only the cut line itself
}

TEST(ResultsFile, WaitingRecordsAreWrittenWhenAskedWithoutALaterRecord) {
  const std::string path = testsupport::ScratchDir("results_asked") + "/r.jsonl";
  records::ResultsFile file;
  std::string error;
  ASSERT_TRUE(file.Open(path, &error)) << error;
  ASSERT_TRUE(file.Append(Record(0), /*durable=*/false));
  {
    FileSizeLimit limit(std::filesystem::file_size(path));
    EXPECT_FALSE(file.Append(Record(1), /*durable=*/true));
    EXPECT_EQ(file.WriteWaitingWithin(testsupport::FastClock(), 3000), 1u);
  }
  EXPECT_EQ(file.WriteWaitingWithin(testsupport::FastClock(), 3000), 0u);
  EXPECT_EQ(results::ParseLines(path, Bytes(path), 1, true).records.size(), 2u);
}

#endif

// An idle owner leaves no file, and one that goes never takes another's records with it.
TEST(ResultsFile, IsMadeByItsFirstRecordAndNeverRemoved) {
  const std::string dir = testsupport::ScratchDir("results_shared");
  const std::string path = dir + "/r.jsonl";
  std::string error;
  {
    records::ResultsFile idle;
    ASSERT_TRUE(idle.Open(path, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path));
    records::ResultsFile writer;
    ASSERT_TRUE(writer.Open(path, &error)) << error;
    ASSERT_TRUE(writer.Append(Record(5), /*durable=*/true));
    records::ResultsFile late;
    ASSERT_TRUE(late.Open(path, &error)) << error;
    ASSERT_TRUE(late.Append(Record(6), /*durable=*/true));
  }
  const results::ParsedLines read = results::ParseLines(path, Bytes(path), 1, true);
  ASSERT_EQ(read.records.size(), 2u);
  EXPECT_TRUE(read.issues.empty());

  records::ResultsFile nowhere;
  EXPECT_FALSE(nowhere.Open(dir + "/no/r.jsonl", &error));
  EXPECT_NE(error.find("cannot write the results file"), std::string::npos) << error;
}

}  // namespace
