// The window's records: every press of Start is a run of its own, with its own runId
// and the images open at that moment, written to the results file as the CLI writes.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "console/ostrevane_dlg.h"
#include "engine/channel_observer.h"
#include "platform/time/clock.h"
#include "records/channel_record.h"
#include "records/record_keeper.h"

namespace records {

// An image's path and the digest its header stores (empty when it cannot be read).
ImageRef ImageRefOf(const std::string& path);

// Opens `path` for appending, or with `path` empty the station's default results file
// (its folder made first); false with `error` set when there is none to open. `opened`,
// when given, gets the path opened.
[[nodiscard]] bool OpenResultsFile(const std::string& path, ResultsFile* results,
                                   std::string* error, std::string* opened = nullptr);

class RunRecords final : public engine::ChannelObserver {
 public:
  // `results` and `clock` (the station's, durations are measured on it) outlive this;
  // `station` names the station in every record. While this lasts, records that wait for
  // the file, and their writing, are told in the window's log.
  RunRecords(console::COstrevaneDlg& dlg, platform::Clock& clock, std::string station,
             ResultsFile& results);
  ~RunRecords() override;
  RunRecords(const RunRecords&) = delete;
  RunRecords& operator=(const RunRecords&) = delete;

  // Continuous mode (before the window starts): each handset is a run of its own, and
  // every record carries `session`.
  void RunPerHandset(std::string session) { session_ = std::move(session); }

  void ChannelStarted(const engine::ChannelStartInfo& info) override;
  void ChannelLog(int channel, const std::string& text) override;
  void ChannelPassedOver(int channel, const std::string& what) override;
  void ChannelEnded(int channel, const engine::ChannelEnd& end) override;

  // The current run's keeper; null before the first start.
  std::shared_ptr<RecordKeeper> Current() const;

 private:

  console::COstrevaneDlg& dlg_;
  platform::Clock& clock_;
  const std::string station_;
  ResultsFile& results_;
  mutable std::mutex mutex_;
  std::shared_ptr<RecordKeeper> keeper_;  // the current run's
  int running_ = 0;                       // its channels started and not yet ended
  std::string session_;                   // empty outside continuous mode
};

}  // namespace records
