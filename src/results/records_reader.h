// Records files read as JSON Lines: complete lines become records, bad lines become
// issues that name the file and the line, and nothing after a bad line is lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/storage/file_store.h"
#include "results/record.h"

namespace results {

struct LineIssue {
  std::string file;
  uint64_t line = 0;  // from 1
  std::string what;

  // "FILE:LINE: what".
  std::string Text() const;
};

struct ParsedLines {
  std::vector<Record> records;
  // Where each record's line lies in the bytes read, without its end: kept aside
  // verbatim should the server refuse it.
  struct Span {
    size_t at = 0;
    size_t size = 0;
  };
  std::vector<Span> spans;  // one per record
  std::vector<LineIssue> issues;
  size_t consumed = 0;  // bytes of `bytes` read: every complete line
  uint64_t lines = 0;   // lines of those bytes
};

// The lines of `bytes` that end with '\n'; the first is line `firstLine` of `file`. With
// `takeCut`, a last line without its end is read too (a file that will not grow again),
// and is an issue when it is not a whole record.
ParsedLines ParseLines(const std::string& file, const std::string& bytes, uint64_t firstLine,
                       bool takeCut);

struct RecordsFile {
  bool readable = false;
  std::string error;  // when not readable
  std::string bytes;  // what `parsed` was read from
  ParsedLines parsed;
};
RecordsFile ReadRecordsFile(platform::FileStore& files, const std::string& path);

// One record per key, in the order keys first appear, each the line that counts by
// Supersedes.
std::vector<Record> Fold(std::vector<Record> records);

}  // namespace results
