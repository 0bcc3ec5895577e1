// A proxy between the station and the results database that stops forwarding in the
// middle of an insert, its sockets open (a frozen process): the run still ends within
// seconds, its records on disk for the next start.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "cli/results_commands.h"
#include "platform/storage/system_file_store.h"
#include "results/db/test_db.h"
#include "results/schema.h"
#include "results/records_reader.h"
#include "support/flashing/test_images.h"
#include "support/recording_threads.h"
#include "support/test_env.h"

namespace {

// Forwards loopback TCP connections to the test server's Unix socket until a client
// sends `freezeAt`; from then on it reads and forwards nothing, and accepts no one.
class FreezingRelay {
 public:
  FreezingRelay(std::string unixSocket, std::string freezeAt)
      : socket_(std::move(unixSocket)), freezeAt_(std::move(freezeAt)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(listen_, 8) == 0 &&
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &size) == 0)
      port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FreezingRelay() {
    ending_ = true;
    thread_.join();
    for (int fd : fds_) close(fd);
    close(listen_);
  }
  int Port() const { return port_; }
  bool Frozen() const { return frozen_; }

 private:
  int ConnectServer() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    socket_.copy(a.sun_path, sizeof a.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return close(fd), -1;
    return fd;
  }

  // fds_ holds pairs: client, server.
  void Serve() {
    char buffer[65536];
    while (!ending_) {
      if (frozen_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      std::vector<pollfd> polled{{listen_, POLLIN, 0}};
      for (int fd : fds_) polled.push_back({fd, POLLIN, 0});
      if (poll(polled.data(), polled.size(), 20) <= 0) continue;
      if (polled[0].revents & POLLIN) {
        const int client = accept(listen_, nullptr, nullptr);
        const int server = ConnectServer();
        if (client >= 0 && server >= 0) fds_.push_back(client), fds_.push_back(server);
      }
      for (size_t i = 1; i < polled.size() && !frozen_; ++i) {
        if (!(polled[i].revents & (POLLIN | POLLHUP))) continue;
        const size_t at = i - 1;
        const ssize_t n = read(fds_[at], buffer, sizeof buffer);
        if (n <= 0) continue;
        const std::string_view bytes(buffer, static_cast<size_t>(n));
        if (at % 2 == 0 && bytes.find(freezeAt_) != std::string_view::npos) {
          frozen_ = true;  // the statement goes nowhere, and nothing answers
          break;
        }
        const int to = fds_[at % 2 == 0 ? at + 1 : at - 1];
        for (size_t sent = 0; sent < bytes.size();) {
          const ssize_t w = write(to, bytes.data() + sent, bytes.size() - sent);
          if (w <= 0) break;
          sent += static_cast<size_t>(w);
        }
      }
    }
  }

  const std::string socket_;
  const std::string freezeAt_;
  int listen_ = -1;
  int port_ = 0;
  std::vector<int> fds_;
  std::atomic<bool> ending_{false};
  std::atomic<bool> frozen_{false};
  std::thread thread_;
};

// The last value of each key of a libpq key/value string.
std::map<std::string, std::string> Keys(const std::string& target) {
  std::map<std::string, std::string> out;
  std::istringstream words(target);
  for (std::string word; words >> word;)
    if (const size_t eq = word.find('='); eq != std::string::npos)
      out[word.substr(0, eq)] = word.substr(eq + 1);
  return out;
}

// A relay to the server of `target` that freezes at the first statement holding
// `freezeAt`, and the target through it.
std::pair<std::unique_ptr<FreezingRelay>, std::string> RelayTo(const std::string& target,
                                                                const std::string& freezeAt) {
  // The schema is the owner's business, made before any station ships.
  std::string error;
  EXPECT_TRUE(results::Migrate(*testdb::Connect(target), &error)) << error;
  std::map<std::string, std::string> keys = Keys(target);
  EXPECT_EQ(keys["host"].rfind('/', 0), 0u) << "the test server listens on a Unix socket";
  auto relay = std::make_unique<FreezingRelay>(
      keys["host"] + "/.s.PGSQL." + (keys.count("port") ? keys["port"] : "5432"),
      freezeAt);
  EXPECT_NE(relay->Port(), 0);
  return {std::move(relay), "host=127.0.0.1 port=" + std::to_string(relay->Port()) +
                                " user=" + keys["user"] + " dbname=" + keys["dbname"]};
}

// The server may freeze while the station asks it whether it may store (at connect) or
// while a batch is stored.
class FrozenProxyRun : public ::testing::TestWithParam<const char*> {};

TEST_P(FrozenProxyRun, TheRunEndsWithinSecondsItsRecordsOnDisk) {
  TESTDB_FRESH(target);
  const auto [relayPtr, viaRelay] = RelayTo(target, GetParam());
  const FreezingRelay& relay = *relayPtr;
  const std::string dir = testsupport::ScratchDir("frozen_proxy");
  const std::string os = testsupport::BuildOsImage({}, "frozen.kx4");
  const std::string csc = testsupport::BuildCscImage({}, "frozen.csc");
  std::ostringstream out, err;
  const cli::ParsedCommandLine parsed = cli::ParseCliOptions(
      {"--virtual-handsets", "3", "--results", dir + "/r.jsonl", "--results-db", viaRelay,
       "AUTO_DLOAD", os, csc},
      out, err);
  ASSERT_TRUE(parsed.options) << err.str();
  testsupport::RecordingThreadService threads;
  const auto start = std::chrono::steady_clock::now();
  auto run = std::async(std::launch::async, [&] {
    return cli::RunCli(*parsed.options, testsupport::FastClock(), threads, out, err, false);
  });
  // The station waits two seconds for the database at the end; ten is beyond doubt.
  const bool ended = run.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(ended) << "the run is held by the frozen proxy";
  EXPECT_EQ(run.get(), cli::kExitDone) << err.str();
  EXPECT_TRUE(relay.Frozen()) << "no insert went through the proxy";
  EXPECT_LT(seconds, 10.0);
  platform::SystemFileStore files;
  const results::RecordsFile file = results::ReadRecordsFile(files, dir + "/r.jsonl");
  const std::vector<results::Record> records = results::Fold(file.parsed.records);
  EXPECT_EQ(records.size(), 3u);
  for (const results::Record& r : records) EXPECT_EQ(r.result, "done");
}

INSTANTIATE_TEST_SUITE_P(Statements, FrozenProxyRun,
                         ::testing::Values("has_function_privilege('ostrevane_store",
                                           "SELECT ostrevane_store($1"),
                         [](const auto& info) { return info.index == 0 ? "AtConnect" : "InABatch"; });

// Ctrl-C while the proxy holds a batch: ingest gives it a few seconds, then ends.
TEST(FrozenProxyDb, IngestEndsAtAStopWithinSecondsWhileItsBatchIsHeld) {
  TESTDB_FRESH(target);
  const auto [relay, viaRelay] = RelayTo(target, "SELECT ostrevane_store($1");
  const std::string path = testsupport::ScratchDir("ingest_frozen") + "/r.jsonl";
  std::ofstream(path) << R"({"runId":"0f8fad5b-d9cb-469f-a165-70867728950e","channel":1,"station":"s",)"
                      << R"("location":"l","model":"m","result":"running","start":"2026-12-09T10:00:00Z",)"
                      << R"("os":{"md5":"a"},"csc":{"md5":"b"}})" << "\n";
  std::ostringstream out, err;
  const auto start = std::chrono::steady_clock::now();
  // The stop comes once the batch is held.
  const FreezingRelay* held = relay.get();
  auto ingest = std::async(std::launch::async, [&] {
    return cli::RunIngest({path, "--results-db", viaRelay}, out, err, [held] { return held->Frozen(); });
  });
  const bool ended = ingest.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  EXPECT_TRUE(ended) << "ingest is held by the frozen proxy";
  EXPECT_EQ(ingest.get(), cli::kCommandStopped) << err.str();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
}

}  // namespace
