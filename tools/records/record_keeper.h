// Keeps every started channel's record as its run goes on, and writes it to the results
// file twice, durably each time: "running" when the channel starts, and its result the
// moment it ends. Its start and end are wall-clock times a person reads; its duration
// is the station's clock's, which no one sets, so a clock step during a run leaves it true.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "console/ostrevane_dlg.h"
#include "engine/channel_observer.h"
#include "platform/time/clock.h"
#include "records/channel_record.h"
#include "results/record.h"

namespace records {

class RecordKeeper final : public engine::ChannelObserver {
 public:
  // The handset's mismatches with the images (empty when it holds them), asked for a
  // channel that ended done; its result counts as failed when there are any.
  using Judge = std::function<std::vector<std::string>(const results::Record&)>;
  // The wall clock a record's start and end are read from.
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  // `results` may be null (no file asked for); `judge` may be empty (no --verify).
  // Durations are measured on `clock`, which outlives this.
  RecordKeeper(console::COstrevaneDlg& dlg, platform::Clock& clock, RunIdentity run, ImageRef os,
               ImageRef csc, ResultsFile* results, Judge judge,
               WallClock wall = std::chrono::system_clock::now);

  // Continuous mode (before the first start): each started handset gets a runId of its
  // own, and every record carries `session`.
  void RunPerHandset(std::string session);
  // Before the first start: a channel's earlier handsets are not kept once the next one
  // starts (their records are in the file), so a shift-long session does not pile them
  // up in memory. Ended() then lists each channel's latest handset only.
  void ForgetEarlierHandsets();

  void ChannelStarted(const engine::ChannelStartInfo& info) override;
  void ChannelLog(int channel, const std::string& text) override;
  void ChannelPassedOver(int channel, const std::string& what) override;
  void ChannelEnded(int channel, const engine::ChannelEnd& end) override;

  // The run is being cut short (any thread): a channel that ends failed from now on is
  // recorded "interrupted", and its bar and record show `barText`.
  void Interrupt(std::string barText);

  // The records of the handsets that ended, in channel order (a channel's handsets in
  // the order they started).
  std::vector<results::Record> Ended() const;
  // The seat of the handset a started channel writes; empty when not started or unknown.
  std::string LocationOf(int channel) const;

 private:
  struct Slot {
    bool started = false;
    bool ended = false;
    results::Record record;
    uint32_t startTick = 0;  // `clock`'s, at the start
  };

  // Outside the lock; a record the file does not take waits in the file's memory.
  void Write(const results::Record& record, bool durable);

  console::COstrevaneDlg& dlg_;
  platform::Clock& clock_;
  const WallClock wall_;
  const RunIdentity run_;
  const ImageRef os_;
  const ImageRef csc_;
  ResultsFile* results_;
  Judge judge_;
  mutable std::mutex mutex_;
  std::array<Slot, engine::kChannelCount> slots_;
  // Ended records of earlier handsets of a channel, moved out when the next one starts.
  std::vector<results::Record> earlier_;
  bool keepEarlier_ = true;
  std::string session_;  // empty outside continuous mode
  std::optional<std::string> interruptText_;
};

}  // namespace records
