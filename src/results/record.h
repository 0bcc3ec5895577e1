// A channel's result record as the station's records files hold it (one JSON object a
// line), checked field by field, and the rule for which of two lines about one channel
// of one run counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace results {

struct Image {
  std::string path;
  std::string md5;
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
  std::string seat;       // the seat's label; empty without a seat plan
  std::string reason;     // a stable failure code; empty when done, running or older
  std::string partition;  // the one the failure names, if any
  std::optional<int64_t> bytesSent;  // on final records that know it
  std::vector<std::string> passedOver;
  std::vector<std::string> log;
  std::optional<bool> verifyOk;
  std::vector<std::string> verifyMismatches;
  uint64_t line = 0;  // in the file it was read from

  bool Final() const { return result != "running"; }
  // runId and channel: what makes a record unique.
  std::string Key() const;
};

// The record a line holds; nullopt with `error` set to what is wrong with it ("no field
// \"runId\"", "\"channel\" is not a whole number", ...).
std::optional<Record> ParseRecord(const nlohmann::json& line, std::string* error);

// true when `next` should replace `held` for the same key: only a final record replaces,
// and only a running one, so a final is never downgraded and a repeated line changes
// nothing. The database applies the same rule.
bool Supersedes(const Record& next, const Record& held);

// The record with the texts a PostgreSQL text column cannot take made safe: NUL becomes
// U+FFFD. The records file keeps the exact text.
Record ForDatabase(Record record);

}  // namespace results
