// A line is judged on its own: JSON that does not parse, or a record that lacks a field,
// costs that line only.
#include "results/records_reader.h"

#include <unordered_map>

#include <nlohmann/json.hpp>

namespace results {

std::string LineIssue::Text() const { return file + ":" + std::to_string(line) + ": " + what; }

ParsedLines ParseLines(const std::string& file, const std::string& bytes, uint64_t firstLine,
                       bool takeCut) {
  ParsedLines out;
  size_t at = 0;
  uint64_t line = firstLine;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    const bool cut = end == std::string::npos;
    if (cut && !takeCut) break;
    if (cut) end = bytes.size();
    std::string_view text(bytes.data() + at, end - at);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.find_first_not_of(" \t") != std::string_view::npos) {
      const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
      std::string why;
      if (j.is_discarded())
        out.issues.push_back({file, line, cut ? "the last line is cut short; skipped"
                                              : "not JSON; skipped"});
      else if (auto record = ParseRecord(j, &why)) {
        record->line = line;
        out.records.push_back(std::move(*record));
        out.spans.push_back({at, text.size()});
      } else {
        out.issues.push_back({file, line, why + "; skipped"});
      }
    }
    at = cut ? end : end + 1;
    ++line;
  }
  out.consumed = at;
  out.lines = line - firstLine;
  return out;
}

RecordsFile ReadRecordsFile(platform::FileStore& files, const std::string& path) {
  RecordsFile out;
  if (!files.ReadWhole(path, &out.bytes)) {
    out.error = "cannot read the records file " + path;
    return out;
  }
  out.readable = true;
  out.parsed = ParseLines(path, out.bytes, 1, true);
  return out;
}

std::vector<Record> Fold(std::vector<Record> records) {
  std::unordered_map<std::string, size_t> slot;
  std::vector<Record> out;
  out.reserve(records.size());
  for (Record& r : records) {
    const auto [it, fresh] = slot.emplace(r.Key(), out.size());
    if (fresh)
      out.push_back(std::move(r));
    else if (Supersedes(r, out[it->second]))
      out[it->second] = std::move(r);
  }
  return out;
}

}  // namespace results
