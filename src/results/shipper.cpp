// Only the shipper's thread touches the file position and the sink; the run's threads
// only append to the records file, so the run never waits on the database.
#include "results/shipper.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "platform/text/escaped_text.h"
#include "results/records_reader.h"
#include "results/set_aside.h"

namespace results {

namespace {

// Of the last line sent, the bytes compared: a line's run id and channel come first, and
// a record is rarely longer than this.
constexpr uint64_t kLastLineKept = 64 * 1024;

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

}  // namespace

std::string ShipStatePath(const std::string& recordsPath) { return recordsPath + ".shipped"; }

Shipper::Shipper(std::string recordsPath, Sink& sink, platform::FileStore& files,
                 platform::Clock& clock, platform::ThreadService& threads, Report report,
                 ShipperOptions options)
    : path_(std::move(recordsPath)),
      statePath_(ShipStatePath(path_)),
      setAsidePath_(SetAsidePath(path_)),
      sink_(sink),
      files_(files),
      clock_(clock),
      threads_(threads),
      report_(std::move(report)),
      options_(options),
      jitter_(options.jitterSeed != 0 ? options.jitterSeed : std::random_device{}()) {}

Shipper::~Shipper() { Stop(0); }

void Shipper::Start() {
  LoadPlace();
  thread_ = threads_.Start(platform::ThreadPriority::Normal, [this] { Run(); });
}

void Shipper::Wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  wake_.notify_all();
}

bool Shipper::Stop(uint32_t drainMs) {
  bool caughtUp = false;
  {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) return caughtUp_;
    draining_ = true;
    woken_ = true;
    wake_.notify_all();
    drained_.wait_for(lock, clock_.RealDuration(drainMs), [this] { return caughtUp_ || exited_; });
    caughtUp = caughtUp_;
    stopping_ = true;
    wake_.notify_all();
  }
  sink_.Cancel();
  thread_.join();
  return caughtUp;
}

uint64_t Shipper::Shipped() const {
  std::lock_guard lock(mutex_);
  return shipped_;
}

uint32_t Shipper::RetryWait(uint32_t retryMs) {
  const uint32_t percent = std::min<uint32_t>(options_.retryJitterPercent, 100);
  const uint32_t cut = static_cast<uint32_t>(uint64_t{retryMs} * percent / 100);
  if (cut == 0) return retryMs;
  return retryMs - std::uniform_int_distribution<uint32_t>(0, cut)(jitter_);
}

bool Shipper::WaitFor(uint32_t ms) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, clock_.RealDuration(ms), [this] { return stopping_ || woken_; });
  woken_ = false;
  return !stopping_;
}

void Shipper::Run() {
  uint32_t retryMs = options_.firstRetryMs;
  bool connected = false;
  while (true) {
    bool draining = false;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      draining = draining_;
    }
    std::string error;
    if (!connected && !(connected = sink_.Open(&error))) {
      Enter(Phase::Failing, error);
      if (!WaitFor(RetryWait(retryMs))) break;
      retryMs = std::min(retryMs * 2, options_.maxRetryMs);
      continue;
    }
    if (phase_ != Phase::Connected && phase_ != Phase::Behind) {
      const uint64_t waiting = CountWaiting();
      Enter(waiting > 0 ? Phase::Behind : Phase::Connected, "");
    }
    const Step step = ShipOnce(&error);
    if (step == Step::Failed) {
      connected = false;
      Enter(Phase::Failing, error);
      if (!WaitFor(RetryWait(retryMs))) break;
      retryMs = std::min(retryMs * 2, options_.maxRetryMs);
      continue;
    }
    retryMs = options_.firstRetryMs;
    if (step == Step::Sent) continue;
    Enter(Phase::Connected, "");
    if (draining) {
      std::lock_guard lock(mutex_);
      caughtUp_ = true;
      drained_.notify_all();
      break;
    }
    if (!WaitFor(options_.pollMs)) break;
  }
  std::lock_guard lock(mutex_);
  exited_ = true;
  drained_.notify_all();
}

Shipper::Step Shipper::ShipOnce(std::string* error) {
  platform::FileIdentity id;
  std::string ignored;
  if (!files_.Identify(path_, &id, &ignored)) return Step::Idle;  // no records yet
  if (id.device != place_.device || id.inode != place_.inode || id.size < place_.offset ||
      (id.size > place_.offset && !SameLastLine())) {
    // Another file under the name, or this one cut and written anew (shorter or not):
    // read it from its start; what was sent already is not stored twice.
    place_ = Place{0, 1, id.device, id.inode};
  }
  if (id.size == place_.offset) return Step::Idle;
  ParsedLines parsed;
  std::string bytes;
  for (size_t max = options_.batchBytes;; max *= 2) {
    if (!files_.ReadAt(path_, place_.offset, max, &bytes, error)) return Step::Failed;
    parsed = ParseLines(path_, bytes, place_.line, false);
    // A line longer than a batch is read whole; a line still being written waits.
    if (parsed.consumed > 0 || bytes.size() < max) break;
  }
  if (parsed.consumed == 0) return Step::Idle;
  if (!parsed.records.empty() && !Store(parsed, bytes, error)) return Step::Failed;
  for (const LineIssue& issue : parsed.issues) report_("results: " + issue.Text());
  place_.offset += parsed.consumed;
  place_.line += parsed.lines;
  const size_t lastLine = parsed.consumed < 2 ? 0 : bytes.rfind('\n', parsed.consumed - 2) + 1;
  place_.lastLength = std::min<uint64_t>(parsed.consumed - lastLine, kLastLineKept);
  place_.lastHash = Fnv1a(std::string_view(bytes).substr(parsed.consumed - place_.lastLength,
                                                          place_.lastLength));
  SavePlace();
  std::lock_guard lock(mutex_);
  shipped_ += parsed.records.size();
  return Step::Sent;
}

bool Shipper::Store(const ParsedLines& parsed, const std::string& bytes, std::string* error) {
  std::string state;
  const Sink::Outcome whole = sink_.Insert(parsed.records, error, &state);
  if (whole != Sink::Outcome::Refused) return whole == Sink::Outcome::Stored;
  // A record the server will never take must not hold back every record after it, nor
  // go without a trace: it waits beside the file for a fixed database.
  std::vector<SetAside> refused;
  for (size_t i = 0; i < parsed.records.size(); ++i) {
    const Record& r = parsed.records[i];
    const Sink::Outcome one = sink_.Insert({r}, error, &state);
    if (one == Sink::Outcome::LinkFailed) return false;
    if (one == Sink::Outcome::Refused)
      refused.push_back({path_, r.line, bytes.substr(parsed.spans[i].at, parsed.spans[i].size),
                         state, *error, NowIsoUtc()});
  }
  // Not set aside, not passed: the batch is sent again, and what went in adds nothing.
  if (!AppendSetAside(setAsidePath_, refused, error)) return false;
  for (const SetAside& e : refused)
    report_("results: " + LineIssue{path_, e.line,
                                    "the results database refused it (" +
                                        platform::EscapedText(e.words) + "); set aside in " +
                                        setAsidePath_}
                              .Text());
  return true;
}

bool Shipper::SameLastLine() {
  if (place_.lastLength == 0 || place_.lastLength > place_.offset) return true;  // not known
  std::string bytes, error;
  // Unreadable now: the next look decides.
  if (!files_.ReadAt(path_, place_.offset - place_.lastLength, place_.lastLength, &bytes, &error))
    return true;
  return bytes.size() == place_.lastLength && Fnv1a(bytes) == place_.lastHash;
}

uint64_t Shipper::CountWaiting() {
  uint64_t lines = 0;
  std::string bytes, error;
  for (uint64_t at = place_.offset;; at += bytes.size()) {
    if (!files_.ReadAt(path_, at, options_.batchBytes, &bytes, &error) || bytes.empty()) break;
    lines += static_cast<uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
  }
  return lines;
}

void Shipper::Enter(Phase phase, const std::string& error) {
  if (phase == phase_ && error == phaseError_) return;
  phase_ = phase;
  phaseError_ = error;
  switch (phase) {
    case Phase::Connected:
      report_("results database: connected, every record sent");
      break;
    case Phase::Behind:
      report_("results database: connected, " + std::to_string(CountWaiting()) +
              " records waiting");
      break;
    case Phase::Failing:
      report_("results database: " + error + "; " + std::to_string(CountWaiting()) +
              " records waiting, trying again");
      break;
    case Phase::None:
      break;
  }
}

void Shipper::LoadPlace() {
  std::string text;
  if (!files_.ReadWhole(statePath_, &text)) return;
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  // Unreadable: start over; nothing is stored twice.
  if (!j.is_object()) return;
  const auto number = [&j](const char* key, uint64_t otherwise) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number_unsigned() ? it->get<uint64_t>() : otherwise;
  };
  place_ = Place{number("offset", 0),     number("line", 1),         number("device", 0),
                 number("inode", 0),      number("lastLength", 0), number("lastHash", 0)};
}

void Shipper::SavePlace() {
  const nlohmann::json j = {{"offset", place_.offset},
                            {"line", place_.line},
                            {"device", place_.device},
                            {"inode", place_.inode},
                            {"lastLength", place_.lastLength},
                            {"lastHash", place_.lastHash}};
  std::string error;
  if (files_.ReplaceDurably(statePath_, j.dump() + "\n", &error)) {
    saveError_.clear();
  } else if (error != saveError_) {
    // Not fatal: after a restart the shipper sends again from an older place.
    saveError_ = error;
    report_("results: " + error);
  }
}

}  // namespace results
