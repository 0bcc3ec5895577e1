// Field names and texts of a record are what line tools parse: keep them stable.
#include "records/channel_record.h"

#include "engine/download_mode.h"
#include "platform/file/file.h"
#include "platform/text/escaped_text.h"
#include "usb/security_mode.h"

namespace records {

std::string StationNameProblem(const std::string& name) {
  if (name.find_first_not_of(' ') == std::string::npos) return "the station name is empty";
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const auto next = i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
    // C0 controls, DEL, and the C1 controls as UTF-8 writes them (U+0080..U+009F).
    if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F))
      return "the station name \"" + platform::EscapedText(name) + "\" holds a control character";
  }
  return "";
}

std::string DownloadModeName(uint32_t mode) {
  switch (mode) {
    case engine::DOWNLOAD_MODE_ALL:
      return "DOWNLOAD_MODE_ALL";
    case engine::DOWNLOAD_MODE_FACTORY:
      return "DOWNLOAD_MODE_FACTORY";
    case engine::DOWNLOAD_MODE_RECOVER:
      return "DOWNLOAD_MODE_RECOVER";
    case engine::DOWNLOAD_MODE_ERASE_NV:
      return "DOWNLOAD_MODE_ERASE_NV";
    default:
      return "unknown";
  }
}

std::string SecurityModeName(uint32_t mode) {
  switch (mode) {
    case usb::SECURITY_MODE_SECURE:
      return "SECURITY_MODE_SECURE";
    case usb::SECURITY_MODE_NON_SECURE:
      return "SECURITY_MODE_NON_SECURE";
    default:
      return "SECURITY_MODE_NONE";
  }
}

std::string LogEntry(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out += c;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

results::Record StartedRecord(const RunIdentity& run, const engine::ChannelStartInfo& handset,
                              std::chrono::system_clock::time_point start) {
  results::Record r;
  r.runId = run.runId;
  r.station = run.station;
  r.channel = handset.channel;
  r.port = handset.port;
  r.location = handset.location;
  r.seat = handset.seat;
  r.interfacePath = handset.interfacePath;
  r.model = handset.model;
  r.deviceInfo = handset.deviceInfo;
  r.deviceType = handset.deviceType;
  r.securityMode = SecurityModeName(handset.securityMode);
  r.startMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(start.time_since_epoch()).count();
  r.result = "running";
  return r;
}

std::string FailureText(platform::AppendFailure reason) {
  using platform::AppendFailure;
  switch (reason) {
    case AppendFailure::kNone:
      return "written";
    case AppendFailure::kNoSpace:
      return "no space left on device";
    case AppendFailure::kQuota:
      return "disk quota exceeded";
    case AppendFailure::kTooLarge:
      return "file too large";
    case AppendFailure::kIo:
      return "input/output error";
    case AppendFailure::kShortWrite:
      return "short write";
    case AppendFailure::kReadOnly:
      return "read-only file system";
    case AppendFailure::kNotOpen:
      return "not open";
    case AppendFailure::kOther:
      break;
  }
  return "cannot be written";
}

std::string WaitingText(const WaitingNotice& notice) {
  const std::string count = std::to_string(notice.count);
  const char* noun = notice.count == 1 ? "record" : "records";
  if (notice.reason == platform::AppendFailure::kNone)
    return "records file: " + count + " waiting " + noun + " written";
  return "records file: " + FailureText(notice.reason) + "; " + count + " " + noun + " waiting";
}

ResultsFile::~ResultsFile() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  retryWake_.notify_all();
  if (retry_.joinable()) retry_.join();
}

bool ResultsFile::Open(const std::string& path, std::string* error) {
  std::string reason;
  if (!file_.Open(path, &reason)) {
    *error = "cannot write the results file " + reason;
    return false;
  }
  path_ = path;
  return true;
}

bool ResultsFile::Append(const nlohmann::json& record, bool durable) {
  // Texts from a handset are not always UTF-8: replace what is not, never throw.
  std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::lock_guard lock(mutex_);
  waiting_.push_back({std::move(line), durable});
  return FlushLocked();
}

bool ResultsFile::WriteWaiting() {
  std::lock_guard lock(mutex_);
  return FlushLocked();
}

size_t ResultsFile::WriteWaitingWithin(platform::Clock& clock, uint32_t patienceMs) {
  const uint32_t start = clock.TickCount();
  while (!WriteWaiting()) {
    if (clock.TickCount() - start >= patienceMs) break;
    clock.Sleep(1000);
  }
  return Waiting();
}

size_t ResultsFile::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

platform::AppendFailure ResultsFile::Reason() const {
  std::lock_guard lock(mutex_);
  return reason_;
}

bool ResultsFile::FlushLocked() {
  using platform::AppendFailure;
  AppendFailure failure = AppendFailure::kNone;
  // A durable line is on the storage before the next is written.
  if (syncOwed_) {
    failure = file_.Sync();
    syncOwed_ = failure != AppendFailure::kNone;
  }
  while (failure == AppendFailure::kNone && !waiting_.empty()) {
    Line& line = waiting_.front();
    // Our own line, cut short, that nothing has been appended after: its rest makes it
    // whole. Any other cut line (a power cut, another process's) stays a bad line of its
    // own, and the record starts a fresh one.
    const bool resume = line.cut > 0 && file_.Size() == line.cutEnd;
    const std::string_view prefix = !resume && file_.EndsMidLine() ? "\n" : "";
    const size_t from = resume ? line.cut : 0;
    std::string text(prefix);
    text.append(line.text, from);
    size_t put = 0;
    failure = file_.Append(text, &put);
    if (failure != AppendFailure::kNone) {
      if (put > prefix.size() || !resume) {
        line.cut = put > prefix.size() ? from + put - prefix.size() : 0;
        line.cutEnd = file_.Size();
      }
      break;
    }
    writtenAfterWaiting_ += line.waited ? 1 : 0;
    const bool durable = line.durable;
    waiting_.pop_front();
    if (appended_) appended_();
    if (durable) {
      failure = file_.Sync();
      syncOwed_ = failure != AppendFailure::kNone;
    }
  }
  const bool clear = failure == AppendFailure::kNone;
  if (!clear) {
    for (Line& line : waiting_) line.waited = true;
    const bool began = reason_ == AppendFailure::kNone;
    reason_ = failure;
    if (began && waitingHook_) waitingHook_({failure, waiting_.size()});
    if (began && !retry_.joinable()) retry_ = std::thread([this] { RetryWhileWaiting(); });
    retryWake_.notify_all();
  } else if (reason_ != AppendFailure::kNone) {
    reason_ = AppendFailure::kNone;
    if (waitingHook_) waitingHook_({AppendFailure::kNone, writtenAfterWaiting_});
    writtenAfterWaiting_ = 0;
  }
  return clear;
}

void ResultsFile::RetryWhileWaiting() {
  constexpr auto kRetryEvery = std::chrono::seconds(2);
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    retryWake_.wait(lock, [this] {
      return stopping_ || reason_ != platform::AppendFailure::kNone;
    });
    if (stopping_) break;
    // Woken early by a later failure: the full pause still comes first.
    if (retryWake_.wait_for(lock, kRetryEvery, [this] { return stopping_; })) break;
    (void)FlushLocked();
  }
}

void ResultsFile::SetAppendedHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  appended_ = std::move(hook);
}

void ResultsFile::SetWaitingHook(std::function<void(const WaitingNotice&)> hook) {
  std::lock_guard lock(mutex_);
  waitingHook_ = std::move(hook);
}

}  // namespace records
