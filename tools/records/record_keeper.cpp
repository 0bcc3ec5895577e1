// Window questions (sales code, bar text) are asked outside the lock: they wait for the
// window's thread, which must never wait for this lock in turn.
#include "records/record_keeper.h"

#include <algorithm>
#include <utility>

#include "records/run_id.h"

#include "console/text_progress_ctrl.h"

namespace records {

using console::PROGRESS_FAILED;

namespace {

int64_t MsSinceEpoch(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace

RecordKeeper::RecordKeeper(console::COstrevaneDlg& dlg, platform::Clock& clock, RunIdentity run,
                           ImageRef os, ImageRef csc, ResultsFile* results, Judge judge,
                           WallClock wall)
    : dlg_(dlg),
      clock_(clock),
      wall_(std::move(wall)),
      run_(std::move(run)),
      os_(std::move(os)),
      csc_(std::move(csc)),
      results_(results),
      judge_(std::move(judge)) {}

void RecordKeeper::RunPerHandset(std::string session) {
  std::lock_guard lock(mutex_);
  session_ = std::move(session);
}

void RecordKeeper::ForgetEarlierHandsets() {
  std::lock_guard lock(mutex_);
  keepEarlier_ = false;
}

void RecordKeeper::ChannelStarted(const engine::ChannelStartInfo& info) {
  if (info.channel < 0 || info.channel >= engine::kChannelCount) return;
  results::Record r = StartedRecord(run_, info, wall_());
  const uint32_t startTick = clock_.TickCount();
  {
    // In a continuous session each handset is a run of its own.
    std::lock_guard lock(mutex_);
    if (!session_.empty()) {
      r.runId = NewRunId();
      r.session = session_;
    }
  }
  r.mode = DownloadModeName(dlg_.DownloadMode);
  r.salesCode = dlg_.SelectedSalesCode();
  r.os = os_;
  r.csc = csc_;
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[static_cast<size_t>(info.channel)];
    if (slot.ended && keepEarlier_) earlier_.push_back(std::move(slot.record));
    slot = Slot{true, false, r, startTick};
  }
  // Before the worker starts, and durable: every channel that runs has its line, however
  // it ends, a power cut included.
  Write(r, /*durable=*/true);
}

void RecordKeeper::ChannelLog(int channel, const std::string& text) {
  if (channel < 0 || channel >= engine::kChannelCount) return;
  std::lock_guard lock(mutex_);
  Slot& slot = slots_[static_cast<size_t>(channel)];
  if (slot.started && !slot.ended) slot.record.log.push_back(LogEntry(text));
}

void RecordKeeper::ChannelPassedOver(int channel, const std::string& what) {
  if (channel < 0 || channel >= engine::kChannelCount) return;
  std::lock_guard lock(mutex_);
  Slot& slot = slots_[static_cast<size_t>(channel)];
  if (slot.started && !slot.ended) slot.record.passedOver.push_back(what);
}

void RecordKeeper::ChannelEnded(int channel, const engine::ChannelEnd& end) {
  if (channel < 0 || channel >= engine::kChannelCount) return;
  const bool done = end.done;
  std::optional<std::string> interruptText;
  {
    std::lock_guard lock(mutex_);
    if (!done) interruptText = interruptText_;
  }
  if (interruptText) dlg_.Bar(channel).SetTextAndPos(*interruptText, PROGRESS_FAILED);
  const std::string bar = dlg_.Bar(channel).Text();
  const int64_t endMs = MsSinceEpoch(wall_());
  // Unsigned: the tick counter wraps, and a difference across the wrap is still right.
  const uint32_t endTick = clock_.TickCount();
  results::Record record;
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[static_cast<size_t>(channel)];
    if (!slot.started || slot.ended) return;
    slot.record.endMs = endMs;
    slot.record.durationMs = static_cast<uint32_t>(endTick - slot.startTick);
    slot.record.bar = bar;
    slot.record.result = done ? "done" : interruptText ? "interrupted" : "failed";
    slot.record.bytesSent = static_cast<int64_t>(end.bytesSent);
    // The stop signal is why, not the broken transfer it caused; its text names no part.
    if (interruptText) {
      slot.record.reason = engine::FailureReasonCode(engine::FailureReason::kInterrupted);
    } else if (!done) {
      slot.record.reason = engine::FailureReasonCode(end.reason);
      slot.record.partition = end.partition;
    }
    record = slot.record;
  }
  // The judge reads the whole handset: each channel's worker judges its own, at once.
  if (judge_ && done) {
    record.verifyMismatches = judge_(record);
    record.verifyOk = record.verifyMismatches.empty();
    if (!*record.verifyOk) {
      record.result = "failed";
      record.reason = engine::FailureReasonCode(engine::FailureReason::kVerifyMismatch);
    }
  }
  // Durable before the channel counts as ended, so the run cannot end without it.
  Write(record, /*durable=*/true);
  std::lock_guard lock(mutex_);
  Slot& slot = slots_[static_cast<size_t>(channel)];
  slot.record = std::move(record);
  slot.ended = true;
}

void RecordKeeper::Interrupt(std::string barText) {
  std::lock_guard lock(mutex_);
  interruptText_ = std::move(barText);
}

void RecordKeeper::Write(const results::Record& record, bool durable) {
  if (results_) (void)results_->Append(results::ToJson(record), durable);
}

std::vector<results::Record> RecordKeeper::Ended() const {
  std::lock_guard lock(mutex_);
  std::vector<results::Record> out = earlier_;
  for (const Slot& slot : slots_)
    if (slot.ended) out.push_back(slot.record);
  std::stable_sort(out.begin(), out.end(), [](const results::Record& a, const results::Record& b) {
    return a.channel < b.channel;
  });
  return out;
}

std::string RecordKeeper::LocationOf(int channel) const {
  if (channel < 0 || channel >= engine::kChannelCount) return {};
  std::lock_guard lock(mutex_);
  const Slot& slot = slots_[static_cast<size_t>(channel)];
  return slot.started ? slot.record.location : std::string();
}

}  // namespace records
