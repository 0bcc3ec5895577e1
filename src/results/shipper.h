// The shipper: a thread that sends a records file's complete lines to a sink in order,
// keeps its place in a state file next to the records, retries with back-off while the
// sink fails, sets aside a record the sink refuses for what it holds, and says what it
// is doing in one line each time that changes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "platform/storage/file_store.h"
#include "platform/thread/thread_service.h"
#include "platform/time/clock.h"
#include "results/records_reader.h"
#include "results/sink.h"

namespace results {

struct ShipperOptions {
  uint32_t pollMs = 1000;         // looks for new lines this often when not woken
  uint32_t firstRetryMs = 500;    // the first wait after a failure; doubles each time
  uint32_t maxRetryMs = 30000;
  // Each retry wait is cut short by up to this share (percent) at random, so that the
  // stations of a line that lost the server together do not all come back at once.
  uint32_t retryJitterPercent = 50;
  uint64_t jitterSeed = 0;  // 0: seeded from the system's random source
  size_t batchBytes = 512 * 1024;  // of records read for one batch (one transaction)
};

// "<records>.shipped": where the shipper of `recordsPath` keeps its place.
std::string ShipStatePath(const std::string& recordsPath);

class Shipper {
 public:
  using Report = std::function<void(const std::string& line)>;

  // `report` is called from the shipper's thread: each change of state (connected, records
  // waiting, the sink's error) once, and each bad line of the file once.
  Shipper(std::string recordsPath, Sink& sink, platform::FileStore& files, platform::Clock& clock,
          platform::ThreadService& threads, Report report, ShipperOptions options = {});
  ~Shipper();
  Shipper(const Shipper&) = delete;
  Shipper& operator=(const Shipper&) = delete;

  void Start();
  // Looks at the file now instead of at the next poll (after a record is appended).
  void Wake();
  // Gives the shipper up to `drainMs` (on the clock) to send what is on disk, then stops
  // it. true when everything complete on disk at the call was sent.
  bool Stop(uint32_t drainMs = 0);

  uint64_t Shipped() const;  // records sent since Start

 private:
  enum class Phase { None, Connected, Behind, Failing };
  enum class Step { Sent, Idle, Failed };
  struct Place {
    uint64_t offset = 0;
    uint64_t line = 1;  // of the line at `offset`
    uint64_t device = 0;
    uint64_t inode = 0;
    // The last line sent (its last bytes when long): a file written anew in place, as
    // long as before or longer, no longer holds it just before `offset`.
    uint64_t lastLength = 0;
    uint64_t lastHash = 0;
  };

  void Run();
  Step ShipOnce(std::string* error);
  // Stores `parsed`'s records (read from `bytes`), one at a time once the sink refuses
  // them whole; those it refuses alone are set aside, and named. false when the link
  // failed or the refused ones could not be set aside.
  bool Store(const ParsedLines& parsed, const std::string& bytes, std::string* error);
  // The bytes before the place are still the last line sent (true when not known).
  bool SameLastLine();
  void LoadPlace();
  void SavePlace();
  uint64_t CountWaiting();
  void Enter(Phase phase, const std::string& error);
  bool WaitFor(uint32_t ms);  // false when stopping
  // The wait before the next retry: `retryMs` cut short by the jitter.
  uint32_t RetryWait(uint32_t retryMs);

  const std::string path_;
  const std::string statePath_;
  const std::string setAsidePath_;
  Sink& sink_;
  platform::FileStore& files_;
  platform::Clock& clock_;
  platform::ThreadService& threads_;
  const Report report_;
  const ShipperOptions options_;
  std::mt19937_64 jitter_;  // the shipper's thread only

  Place place_;  // shipper thread only
  Phase phase_ = Phase::None;
  std::string phaseError_;
  std::string saveError_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  bool woken_ = false;
  bool draining_ = false;
  bool caughtUp_ = false;  // idle after the drain was asked for
  bool stopping_ = false;
  bool exited_ = false;
  uint64_t shipped_ = 0;
  std::thread thread_;
};

}  // namespace results
