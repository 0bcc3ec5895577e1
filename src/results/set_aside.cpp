// A refused line is kept as it was read, so that a fixed database gets exactly the
// record the station wrote. Text that is not UTF-8 (which JSON cannot hold) is kept as
// hex instead, so not a byte is lost either way.
#include "results/set_aside.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "platform/file/append_file.h"
#include "results/iso_time.h"

namespace results {

namespace {

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) out += kDigits[c >> 4], out += kDigits[c & 15];
  return out;
}

std::optional<std::string> Unhex(const std::string& hex) {
  if (hex.size() % 2) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int byte = 0;
    for (char c : {hex[i], hex[i + 1]}) {
      const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (v < 0) return std::nullopt;
      byte = byte * 16 + v;
    }
    out += static_cast<char>(byte);
  }
  return out;
}

std::string Line(const SetAside& e) {
  nlohmann::json j = {{"file", e.file},         {"line", e.line}, {"text", e.text},
                      {"sqlState", e.sqlState}, {"words", e.words}, {"at", e.at}};
  try {
    return j.dump() + "\n";
  } catch (const nlohmann::json::type_error&) {
    j.erase("text");
    j["hex"] = Hex(e.text);
    // The server's words and the file name are for a person: a stray byte may go.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }
}

std::string Describe(platform::AppendFailure failure) {
  switch (failure) {
    case platform::AppendFailure::kNoSpace: return "the disk is full";
    case platform::AppendFailure::kQuota: return "the disk quota is used up";
    case platform::AppendFailure::kReadOnly: return "the file system is read-only";
    default: return "the storage failed";
  }
}

}  // namespace

std::string SetAsidePath(const std::string& recordsPath) { return recordsPath + ".refused"; }

bool AppendSetAside(const std::string& path, const std::vector<SetAside>& entries,
                    std::string* error) {
  if (entries.empty()) return true;
  platform::AppendFile file;
  if (!file.Open(path, error)) return false;
  // A line cut short by a power cut must not swallow the first of ours. (Built by
  // appending: GCC 12 at -O3 takes an insert at the front for an overlapping copy.)
  std::string text = file.EndsMidLine() ? "\n" : "";
  for (const SetAside& e : entries) text += Line(e);
  platform::AppendFailure failure = file.Append(text);
  if (failure == platform::AppendFailure::kNone) failure = file.Sync();
  if (failure != platform::AppendFailure::kNone) {
    *error = "cannot set refused records aside in " + path + ": " + Describe(failure);
    return false;
  }
  return true;
}

SetAsideFile ReadSetAside(platform::FileStore& files, const std::string& path) {
  SetAsideFile out;
  platform::FileIdentity id;
  if (!files.Identify(path, &id, &out.error)) {
    out.readable = true;  // nothing set aside
    out.error.clear();
    return out;
  }
  std::string bytes;
  if (!files.ReadAt(path, 0, id.size, &bytes, &out.error)) return out;
  out.readable = true;
  uint64_t number = 0;
  for (size_t at = 0; at < bytes.size();) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    const std::string_view text(bytes.data() + at, end - at);
    at = end + 1;
    ++number;
    if (text.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    SetAside e;
    std::optional<std::string> raw;
    if (j.is_object() && j.value("line", nlohmann::json()).is_number_unsigned()) {
      e.file = j.value("file", "");
      e.line = j["line"].get<uint64_t>();
      e.sqlState = j.value("sqlState", "");
      e.words = j.value("words", "");
      e.at = j.value("at", "");
      if (j.contains("text") && j["text"].is_string()) raw = j["text"].get<std::string>();
      else if (j.contains("hex") && j["hex"].is_string()) raw = Unhex(j["hex"].get<std::string>());
    }
    if (!raw) {
      out.issues.push_back({path, number, "not a set-aside record; kept"});
      out.foreign.append(text).append("\n");
      continue;
    }
    e.text = std::move(*raw);
    out.entries.push_back(std::move(e));
  }
  return out;
}

bool ReplaceSetAside(platform::FileStore& files, const std::string& path,
                     const std::string& foreign, const std::vector<SetAside>& entries,
                     std::string* error) {
  std::string text = foreign;
  for (const SetAside& e : entries) text += Line(e);
  return files.ReplaceDurably(path, text, error);
}

std::optional<Record> RecordOf(const SetAside& entry, std::string* why) {
  const ParsedLines parsed = ParseLines(entry.file, entry.text, entry.line, true);
  if (parsed.records.size() == 1) return parsed.records.front();
  *why = parsed.issues.empty() ? "an empty line" : parsed.issues.front().what;
  return std::nullopt;
}

std::string NowIsoUtc() {
  return FormatIsoUtc(std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count());
}

}  // namespace results
