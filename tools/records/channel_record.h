// What a run's records share and how a started handset becomes one; and the JSON Lines
// file the records go to.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/channel_observer.h"
#include "platform/file/append_file.h"
#include "platform/time/clock.h"
#include "results/record.h"

namespace records {

using ImageRef = results::Image;

// What every record of one run shares.
struct RunIdentity {
  std::string runId;    // a random UUID, new for each run
  std::string station;  // --station, or the machine's host name
};

// Why `name`, given by --station, cannot name a station ("" when it can). A person types
// it and reads it back in the report: an empty one, or one with a control character (a
// pasted line break, a tab), would make a station no one can pick out.
std::string StationNameProblem(const std::string& name);

std::string DownloadModeName(uint32_t mode);
std::string SecurityModeName(uint32_t mode);
// A log text as a record keeps it: "\r\n" and the final line break removed.
std::string LogEntry(const std::string& text);

// The record of a channel that has just started: what is known at the start, "running".
results::Record StartedRecord(const RunIdentity& run, const engine::ChannelStartInfo& handset,
                              std::chrono::system_clock::time_point start);

// How the records that could not be written stand. Told once when they begin to wait
// and once when the last of them is in the file.
struct WaitingNotice {
  platform::AppendFailure reason = platform::AppendFailure::kNone;  // kNone: all written
  size_t count = 0;  // waiting now; once written, how many were written
};

// How long a program's end waits for the results file to take its waiting records, and
// its exit status when they are still waiting then (they are lost).
inline constexpr uint32_t kRecordsPatienceMs = 30000;
inline constexpr int kExitRecordsUnwritten = 4;

// What the operator reads: "no space left on device".
std::string FailureText(platform::AppendFailure reason);
// "records file: no space left on device; 3 records waiting", or, once written,
// "records file: 3 waiting records written".
std::string WaitingText(const WaitingNotice& notice);

// The results file: records are appended after what is there, each as one line handed to
// the system in one write, so a reader never sees half a record. A record the file does
// not take (a full disk, a quota, a failing disk, a short write) waits in memory, in
// order, and is written again at the next record, every 2 seconds while any wait, and
// when the owner asks. A line the file took only part of is finished with its rest when
// nothing was appended after it; else it stays a bad line and the record starts a fresh
// one. Nothing here removes the file: other processes may append to it.
class ResultsFile {
 public:
  ResultsFile() = default;
  ~ResultsFile();
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  // Readies `path` ("-": standard output) for appending; a file not there yet is made by
  // the first record. false with `error` set when it cannot be appended to.
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& Path() const { return path_; }
  // Any thread. `durable`: on the storage before this returns, and so before any later
  // record. true when this record, and every one before it, is in the file; false when it
  // waits.
  bool Append(const nlohmann::json& record, bool durable);
  // Any thread: writes what waits; true when nothing waits any more.
  bool WriteWaiting();
  // Writes what waits, trying each second of `clock` for up to `patienceMs`; returns how
  // many still wait.
  size_t WriteWaitingWithin(platform::Clock& clock, uint32_t patienceMs);
  size_t Waiting() const;
  // Why the last try failed (kNone when nothing waits).
  platform::AppendFailure Reason() const;
  // Any thread: `hook` runs after each line is written, under the file's lock (so it must
  // not append); an empty one ends it, and once this returns the old one no longer runs.
  // A front end wakes its shipper with it, so a record leaves without waiting for a poll.
  void SetAppendedHook(std::function<void()> hook);
  // Any thread: `hook` is told when records begin to wait and when they are all written,
  // under the file's lock, as SetAppendedHook's.
  void SetWaitingHook(std::function<void(const WaitingNotice&)> hook);

 private:
  struct Line {
    std::string text;
    bool durable = false;
    bool waited = false;  // the file has refused it at least once
    size_t cut = 0;       // bytes of it in the file, when a write got only part in
    uint64_t cutEnd = 0;  // the file's size just after those bytes
  };
  // Under the lock: writes the waiting lines in order, stopping at the first the file
  // does not take; true when none waits.
  bool FlushLocked();
  void RetryWhileWaiting();

  mutable std::mutex mutex_;
  std::condition_variable retryWake_;
  std::thread retry_;
  bool stopping_ = false;
  std::function<void()> appended_;
  std::function<void(const WaitingNotice&)> waitingHook_;
  platform::AppendFile file_;
  std::string path_;
  std::deque<Line> waiting_;
  size_t writtenAfterWaiting_ = 0;  // of this spell of failures
  bool syncOwed_ = false;  // written, but a sync asked for has not yet succeeded
  platform::AppendFailure reason_ = platform::AppendFailure::kNone;
};

}  // namespace records
