// A channel's result record as the station's records files hold it (one JSON object a
// line): its one writer and its one reader, checked field by field, and the rule for
// which of two lines about one channel of one run counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace results {

struct Image {
  std::string path;
  std::string md5;  // the digest the image's header stores, lower-case hex

  bool operator==(const Image&) const = default;
};

struct Record {
  std::string runId;  // lower-case UUID
  int channel = 0;
  std::string station;
  std::string location;
  int64_t port = 0;
  std::string interfacePath;
  std::string model;
  std::string deviceInfo;
  std::string deviceType;
  std::string securityMode;
  std::string mode;
  std::string salesCode;
  Image os;
  Image csc;
  int64_t startMs = 0;              // ms since 1970 UTC
  std::optional<int64_t> endMs;     // absent while running
  std::optional<int64_t> durationMs;
  std::string result;  // "running", "done", "failed" or "interrupted"
  std::string bar;
  std::vector<std::string> passedOver;
  std::vector<std::string> log;
  std::optional<bool> verifyOk;
  std::vector<std::string> verifyMismatches;
  std::string seat;       // the seat plan's label of the handset's place; "" without a plan
  std::string session;    // lower-case UUID of the continuous session; "" outside one
  std::string reason;     // a stable failure code; "" when done, running or unknown
  std::string partition;  // the partition the failure names; "" when it names none
  std::optional<int64_t> bytesSent;  // final records only, when known
  uint64_t line = 0;  // in the file it was read from
  bool cut = false;   // ForDatabase cut a text or a list to its stored length

  bool operator==(const Record&) const = default;

  bool Final() const { return result != "running"; }
  // runId and channel: what makes a record unique.
  std::string Key() const;
};

// The line a record is written as. The keys and texts of existing fields are what other
// processes and files parse: a change of one is a change of format. A running record
// holds what is known at the start; a final one adds the end's fields. `seat` is always
// written, `session` when set, `reason` and `partition` on a final record that is not
// done when set, `bytesSent` on a final record when known. `line` is not written.
nlohmann::json ToJson(const Record& record);

// The record a line holds; nullopt with `error` set to what is wrong with it ("no field
// \"runId\"", "\"channel\" is not a whole number", ...).
std::optional<Record> ParseRecord(const nlohmann::json& line, std::string* error);

// true when `next` should replace `held` for the same key: only a final record replaces,
// and only a running one, so a final is never downgraded and a repeated line changes
// nothing. The database applies the same rule.
bool Supersedes(const Record& next, const Record& held);

// Stored lengths, in characters: the names a record is grouped and indexed by
// (station, location, model, device type, security mode, mode, sales code, image digests,
// seat, reason, partition);
// the free texts (device info, bar, each entry of the log, passed-over and mismatch lists);
// the paths (interface, images); and the entries a list keeps.
inline constexpr size_t kStoredNameChars = 200;
inline constexpr size_t kStoredTextChars = 2000;
inline constexpr size_t kStoredPathChars = 4096;
inline constexpr size_t kStoredListEntries = 1000;

// The record as the database stores it: NUL becomes U+FFFD, a text longer than its stored
// length is cut on a character boundary and a longer list keeps its first and last halves
// (`cut` set), so that no value or index row overflows. The records file keeps the exact text.
Record ForDatabase(Record record);

}  // namespace results
