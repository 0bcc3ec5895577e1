// Window questions (sales code, bar text) are asked outside the lock: they wait for the
// window's thread, which must never wait for this lock in turn.
#include "cli/record_keeper.h"

#include <utility>

namespace cli {

RecordKeeper::RecordKeeper(console::COstrevaneDlg& dlg, ImageRef os, ImageRef csc,
                           ResultsFile* results, Judge judge)
    : dlg_(dlg),
      os_(std::move(os)),
      csc_(std::move(csc)),
      results_(results),
      judge_(std::move(judge)) {}

void RecordKeeper::ChannelStarted(const engine::ChannelStartInfo& info) {
  if (info.channel < 0 || info.channel >= engine::kChannelCount) return;
  ChannelRecord r;
  r.handset = info;
  r.mode = DownloadModeName(dlg_.DownloadMode);
  r.salesCode = dlg_.SelectedSalesCode();
  r.os = os_;
  r.csc = csc_;
  r.start = std::chrono::system_clock::now();
  std::lock_guard lock(mutex_);
  slots_[static_cast<size_t>(info.channel)] = Slot{true, false, std::move(r)};
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
  const std::string bar = dlg_.Bar(channel).Text();
  ChannelRecord record;
  {
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[static_cast<size_t>(channel)];
    if (!slot.started || slot.ended) return;
    slot.record.end = std::chrono::system_clock::now();
    slot.record.bar = bar;
    slot.record.done = done;
    record = slot.record;
  }
  // The judge reads the whole handset: each channel's worker judges its own, at once.
  if (judge_ && done) {
    record.verifyMismatches = judge_(record);
    record.done = record.verifyMismatches->empty();
  }
  const bool written = !results_ || results_->Append(RecordJson(record));
  std::lock_guard lock(mutex_);
  Slot& slot = slots_[static_cast<size_t>(channel)];
  slot.record = std::move(record);
  slot.ended = true;
  if (!written) writeFailed_ = true;
}

std::vector<ChannelRecord> RecordKeeper::Ended() const {
  std::lock_guard lock(mutex_);
  std::vector<ChannelRecord> out;
  for (const Slot& slot : slots_)
    if (slot.ended) out.push_back(slot.record);
  return out;
}

bool RecordKeeper::WriteFailed() const {
  std::lock_guard lock(mutex_);
  return writeFailed_;
}

}  // namespace cli
