// A run's channels all start from one press of Start and all end before the next, so a
// channel that starts while none runs begins a new run.
#include "records/run_records.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "demo/image_file.h"
#include "image/image_digest.h"
#include "image/md5.h"
#include "platform/file/file.h"
#include "platform/file/state_path.h"
#include "records/run_id.h"

namespace records {

ImageRef ImageRefOf(const std::string& path) {
  const auto header = demo::ReadFileRange(path, 0, image::SMD_HEADER_SIZE);
  if (header.size() < image::SMD_HEADER_SIZE) return {path, ""};
  return {path, image::Md5Hex(image::StoredDigest(header.data()))};
}

bool OpenResultsFile(const std::string& path, ResultsFile* results, std::string* error,
                     std::string* opened) {
  std::string chosen = path;
  if (chosen.empty()) {
    chosen = platform::StateFilePath("results.jsonl");
    if (chosen.empty()) {
      *error = "no folder for the results file (neither XDG_STATE_HOME nor a home folder); "
               "choose one with --results FILE";
      return false;
    }
    std::error_code ignored;  // a folder that cannot be made fails the open below
    std::filesystem::create_directories(platform::file::NativePath(chosen).parent_path(), ignored);
  }
  if (opened) *opened = chosen;
  return results->Open(chosen, error);
}

RunRecords::RunRecords(console::COstrevaneDlg& dlg, platform::Clock& clock, std::string station,
                       ResultsFile& results)
    : dlg_(dlg), clock_(clock), station_(std::move(station)), results_(results) {
  // Told from a channel's worker or the file's retry: the log is the window's to write.
  results_.SetWaitingHook([&dlg](const WaitingNotice& notice) {
    const std::string text = WaitingText(notice) + "\r\n";
    dlg.Post([&dlg, text] { dlg.AppendLogText(text); });
  });
}

RunRecords::~RunRecords() {
  results_.SetWaitingHook({});
}

void RunRecords::ChannelStarted(const engine::ChannelStartInfo& info) {
  std::shared_ptr<RecordKeeper> keeper;
  {
    std::lock_guard lock(mutex_);
    if (running_ == 0) {
      std::string os, csc;
      {
        std::lock_guard image(dlg_.ImageMutex);
        os = dlg_.Image.OsImagePath;
        csc = dlg_.Image.CscImagePath;
      }
      keeper_ = std::make_shared<RecordKeeper>(dlg_, clock_, RunIdentity{NewRunId(), station_},
                                               ImageRefOf(os), ImageRefOf(csc), &results_,
                                               RecordKeeper::Judge{});
      if (!session_.empty()) keeper_->RunPerHandset(session_);
      // No one asks the window for a run's ended records; the file has them.
      keeper_->ForgetEarlierHandsets();
    }
    ++running_;
    keeper = keeper_;
  }
  keeper->ChannelStarted(info);
}

void RunRecords::ChannelLog(int channel, const std::string& text) {
  if (auto keeper = Current()) keeper->ChannelLog(channel, text);
}

void RunRecords::ChannelPassedOver(int channel, const std::string& what) {
  if (auto keeper = Current()) keeper->ChannelPassedOver(channel, what);
}

void RunRecords::ChannelEnded(int channel, const engine::ChannelEnd& end) {
  auto keeper = Current();
  if (!keeper) return;
  // Counted down only once the record is on disk, so the next run cannot begin first.
  keeper->ChannelEnded(channel, end);
  std::lock_guard lock(mutex_);
  if (running_ > 0) --running_;
}

std::shared_ptr<RecordKeeper> RunRecords::Current() const {
  std::lock_guard lock(mutex_);
  return keeper_;
}

}  // namespace records
