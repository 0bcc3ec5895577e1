// Window questions (sales code, bar text) are asked outside the lock: they wait for the
// window's thread, which must never wait for this lock in turn.
#include "records/record_keeper.h"

#include <algorithm>
#include <utility>

#include "records/run_id.h"

#include "console/text_progress_ctrl.h"

namespace records {

using console::PROGRESS_FAILED;

RecordKeeper::RecordKeeper(console::COstrevaneDlg& dlg, RunIdentity run, ImageRef os,
                           ImageRef csc, ResultsFile* results, Judge judge)
    : dlg_(dlg),
      run_(std::move(run)),
      os_(std::move(os)),
      csc_(std::move(csc)),
      results_(results),
      judge_(std::move(judge)) {}

void RecordKeeper::RunPerHandset(std::string session) {
  std::lock_guard lock(mutex_);
  session_ = std::move(session);
}

void RecordKeeper::ChannelStarted(const engine::ChannelStartInfo& info) {
  if (info.channel < 0 || info.channel >= engine::kChannelCount) return;
  ChannelRecord r;
  r.run = run_;
  bool perHandset = false;
  {
    std::lock_guard lock(mutex_);
    perHandset = !session_.empty();
  }
  if (perHandset) r.run.runId = NewRunId();
  r.handset = info;
  r.mode = DownloadModeName(dlg_.DownloadMode);
  r.salesCode = dlg_.SelectedSalesCode();
  r.os = os_;
  r.csc = csc_;
  r.start = std::chrono::system_clock::now();
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[static_cast<size_t>(info.channel)];
    if (slot.ended) earlier_.push_back(std::move(slot.record));
    slot = Slot{true, false, r};
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

void RecordKeeper::ChannelEnded(int channel, bool done) {
  if (channel < 0 || channel >= engine::kChannelCount) return;
  std::optional<std::string> interruptText;
  {
    std::lock_guard lock(mutex_);
    if (!done) interruptText = interruptText_;
  }
  if (interruptText) dlg_.Bar(channel).SetTextAndPos(*interruptText, PROGRESS_FAILED);
  const std::string bar = dlg_.Bar(channel).Text();
  ChannelRecord record;
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[static_cast<size_t>(channel)];
    if (!slot.started || slot.ended) return;
    slot.record.end = std::chrono::system_clock::now();
    slot.record.bar = bar;
    slot.record.ended = true;
    slot.record.done = done;
    slot.record.interrupted = interruptText.has_value();
    record = slot.record;
  }
  // The judge reads the whole handset: each channel's worker judges its own, at once.
  if (judge_ && done) {
    record.verifyMismatches = judge_(record);
    record.done = record.verifyMismatches->empty();
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

void RecordKeeper::Write(const ChannelRecord& record, bool durable) {
  if (!results_) return;
  nlohmann::json j = RecordJson(record);
  std::string session;
  {
    std::lock_guard lock(mutex_);
    session = session_;
  }
  // Only when there is something to say, so a plain run's records read as before.
  if (!record.handset.seat.empty()) j["seat"] = record.handset.seat;
  if (!session.empty()) j["session"] = session;
  (void)results_->Append(j, durable);
}

std::vector<ChannelRecord> RecordKeeper::Ended() const {
  std::lock_guard lock(mutex_);
  std::vector<ChannelRecord> out = earlier_;
  for (const Slot& slot : slots_)
    if (slot.ended) out.push_back(slot.record);
  std::stable_sort(out.begin(), out.end(), [](const ChannelRecord& a, const ChannelRecord& b) {
    return a.handset.channel < b.handset.channel;
  });
  return out;
}

std::string RecordKeeper::LocationOf(int channel) const {
  if (channel < 0 || channel >= engine::kChannelCount) return {};
  std::lock_guard lock(mutex_);
  const Slot& slot = slots_[static_cast<size_t>(channel)];
  return slot.started ? slot.record.handset.location : std::string();
}

}  // namespace records
