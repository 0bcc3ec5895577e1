// One handset's record: which handset a channel wrote, with what, when, and how it
// ended; and the JSON Lines file the records go to.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/channel_observer.h"
#include "platform/file/append_file.h"

namespace records {

struct ImageRef {
  std::string path;
  std::string md5;  // the digest the header stores, lower-case hex
};

// What every record of one run shares.
struct RunIdentity {
  std::string runId;    // a random UUID, new for each run
  std::string station;  // the host name of the machine
};

struct ChannelRecord {
  RunIdentity run;
  engine::ChannelStartInfo handset;  // channel, port, seat, path and identity
  std::string mode;                  // DOWNLOAD_MODE_... name
  std::string salesCode;
  ImageRef os;
  ImageRef csc;
  std::chrono::system_clock::time_point start;
  std::chrono::system_clock::time_point end;
  bool ended = false;        // false: the channel is still running
  bool done = false;         // the sequence succeeded (and, with --verify, the handset matches)
  bool interrupted = false;  // failed because a stop signal cut the run short
  std::string bar;    // the bar's last text
  std::vector<std::string> passedOver;
  std::vector<std::string> log;  // the channel's log texts, line breaks removed
  // With --verify: the mismatches found (empty when the handset holds the images).
  std::optional<std::vector<std::string>> verifyMismatches;

  int64_t DurationMs() const;
};

// "2026-12-09T10:55:34.123Z".
std::string IsoUtc(std::chrono::system_clock::time_point t);
std::string DownloadModeName(uint32_t mode);
std::string SecurityModeName(uint32_t mode);
// A log text as a record keeps it: "\r\n" and the final line break removed.
std::string LogEntry(const std::string& text);

// "running", "done", "failed" or "interrupted".
std::string ResultName(const ChannelRecord& record);

// A running record holds what is known at the start; an ended one adds the end's fields.
nlohmann::json RecordJson(const ChannelRecord& record);

// The results file: records are appended after what earlier runs wrote, each as one
// line handed to the system in one write, so a reader never sees half a record.
class ResultsFile {
 public:
  // Opens `path` ("-": standard output) for appending; false with `error` set when it
  // cannot be opened.
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return file_.IsOpen(); }
  // Any thread. `durable`: on the storage before this returns, and so before any later
  // record. false when the line could not be written whole (or not made durable).
  bool Append(const nlohmann::json& record, bool durable);
  // A file that this run created and never wrote a record to is removed again, so a
  // run that was refused leaves no trace.
  void DiscardIfUnused();
  // Any thread: `hook` runs after each line is written, under the file's lock (so it must
  // not append); an empty one ends it, and once this returns the old one no longer runs.
  // A front end wakes its shipper with it, so a record leaves without waiting for a poll.
  void SetAppendedHook(std::function<void()> hook);

 private:
  std::mutex mutex_;
  std::function<void()> appended_;
  platform::AppendFile file_;
  std::string path_;
  bool written_ = false;
};

}  // namespace records
