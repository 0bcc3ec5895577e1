// Keeps every started channel's record as its run goes on, and writes the record to
// the results file the moment the channel ends.
#pragma once

#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/channel_record.h"
#include "console/ostrevane_dlg.h"
#include "engine/channel_observer.h"

namespace cli {

class RecordKeeper final : public engine::ChannelObserver {
 public:
  // The handset's mismatches with the images (empty when it holds them), asked for a
  // channel that ended done; its result counts as failed when there are any.
  using Judge = std::function<std::vector<std::string>(const ChannelRecord&)>;

  // `results` may be null (no file asked for); `judge` may be empty (no --verify).
  RecordKeeper(console::COstrevaneDlg& dlg, ImageRef os, ImageRef csc, ResultsFile* results,
               Judge judge);

  void ChannelStarted(const engine::ChannelStartInfo& info) override;
  void ChannelLog(int channel, const std::string& text) override;
  void ChannelPassedOver(int channel, const std::string& what) override;
  void ChannelEnded(int channel, bool done) override;

  // The records of the channels that ended, in channel order.
  std::vector<ChannelRecord> Ended() const;
  // A record that could not be written to the results file.
  bool WriteFailed() const;

 private:
  struct Slot {
    bool started = false;
    bool ended = false;
    ChannelRecord record;
  };

  console::COstrevaneDlg& dlg_;
  const ImageRef os_;
  const ImageRef csc_;
  ResultsFile* results_;
  Judge judge_;
  mutable std::mutex mutex_;
  std::array<Slot, engine::kChannelCount> slots_;
  bool writeFailed_ = false;
};

}  // namespace cli
