// One handset's record: which handset a channel wrote, with what, when, and how it
// ended; and the JSON Lines file the records go to.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/channel_observer.h"

namespace cli {

struct ImageRef {
  std::string path;
  std::string md5;  // the digest the header stores, lower-case hex
};

struct ChannelRecord {
  engine::ChannelStartInfo handset;  // channel, port, path and identity
  std::string mode;                  // DOWNLOAD_MODE_... name
  std::string salesCode;
  ImageRef os;
  ImageRef csc;
  std::chrono::system_clock::time_point start;
  std::chrono::system_clock::time_point end;
  bool done = false;  // the sequence succeeded (and, with --verify, the handset matches)
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

nlohmann::json RecordJson(const ChannelRecord& record);

// The results file, written anew for each run. Each record is one line handed to the
// system in one write and flushed, so a crash never leaves half a record behind.
class ResultsFile {
 public:
  // false with `error` set when the file cannot be created.
  bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return out_.is_open(); }
  // Any thread. false when the line could not be written whole.
  bool Append(const nlohmann::json& record);

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

}  // namespace cli
