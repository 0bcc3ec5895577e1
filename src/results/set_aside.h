// Records the results database refused for what they hold, kept beside the records file
// in "<records>.refused" (JSON Lines) until the database is fixed and they are sent again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/file_store.h"
#include "results/records_reader.h"

namespace results {

struct SetAside {
  std::string file;      // the records file the line came from
  uint64_t line = 0;     // its line number there, from 1
  std::string text;      // the line, without its end, byte for byte
  std::string sqlState;  // the server's code
  std::string words;     // the server's words
  std::string at;        // when it was refused, ISO 8601 UTC
};

// "<records>.refused".
std::string SetAsidePath(const std::string& recordsPath);

// Adds `entries` at the end of `path` and makes them durable before it returns. false
// with `error` set when they may not all be on disk.
[[nodiscard]] bool AppendSetAside(const std::string& path, const std::vector<SetAside>& entries,
                                  std::string* error);

struct SetAsideFile {
  bool readable = false;  // a file that is not there is readable and empty
  std::string error;
  std::vector<SetAside> entries;
  std::vector<LineIssue> issues;  // lines of the file itself that are not entries
  std::string foreign;            // those lines, each with its end, to be kept
};
SetAsideFile ReadSetAside(platform::FileStore& files, const std::string& path);

// Replaces `path` with `foreign` (SetAsideFile's) and `entries`, whole or not at all.
[[nodiscard]] bool ReplaceSetAside(platform::FileStore& files, const std::string& path,
                                   const std::string& foreign,
                                   const std::vector<SetAside>& entries, std::string* error);

// The record an entry holds, its line number kept. Nullopt, with `why`, when the text no
// longer reads as a record.
std::optional<Record> RecordOf(const SetAside& entry, std::string* why);

// Now, for SetAside::at.
std::string NowIsoUtc();

}  // namespace results
