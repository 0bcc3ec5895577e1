// The board's paths. Only GETs reach here and nothing here writes: the board is a reader.
#include "board/board_service.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "results/iso_time.h"
#include "results/records_reader.h"
#include "platform/storage/system_file_store.h"

namespace board {

namespace {

class Database final : public RecordSource {
 public:
  explicit Database(Connector connect) : connect_(std::move(connect)) {}

  bool Line(const results::LineWindow& window, results::LineBoard* out, std::string* error) override {
    return Ask(error, [&](platform::DbConnection& db) {
      return results::QueryLineBoard(db, window, out, error, &caches_[window.station]);
    });
  }
  bool Report(const results::ReportFilter& filter, results::Report* out, std::string* error) override {
    return Ask(error, [&](platform::DbConnection& db) {
      return results::QueryReport(db, filter, out, error);
    });
  }
  bool StationKnown(const std::string& station, std::string* error) override {
    bool known = false;
    const bool asked = Ask(error, [&](platform::DbConnection& db) {
      known = results::StationKnown(db, station, error);
      return known || error->empty();
    });
    return asked && known;
  }

 private:
  template <typename Query>
  bool Ask(std::string* error, Query query) {
    std::lock_guard lock(mutex_);
    if (!db_ && !Connect(error)) return false;
    if (query(*db_)) return true;
    // A statement the server refused leaves the link as it was; a lost link is made
    // again by the next request.
    if (!db_->Alive()) db_.reset();
    *error = "the results database: " + *error;
    return false;
  }

  bool Connect(std::string* error) {
    db_ = connect_(error);
    if (!db_) *error = "the results database cannot be reached: " + *error;
    return db_ != nullptr;
  }

  Connector connect_;
  std::mutex mutex_;
  std::unique_ptr<platform::DbConnection> db_;
  // One per station asked for (each is checked to have records first) and the line.
  std::map<std::string, results::LineCache> caches_;
};

class Files final : public RecordSource {
 public:
  explicit Files(std::vector<std::string> paths) : paths_(std::move(paths)) {}

  bool Line(const results::LineWindow& window, results::LineBoard* out, std::string* error) override {
    std::vector<results::Record> records;
    if (!Read(&records, error)) return false;
    *out = results::BuildLineBoard(std::move(records), window);
    return true;
  }
  bool Report(const results::ReportFilter& filter, results::Report* out, std::string* error) override {
    std::vector<results::Record> records;
    if (!Read(&records, error)) return false;
    *out = results::BuildReport(std::move(records), filter);
    return true;
  }
  bool StationKnown(const std::string& station, std::string* error) override {
    std::vector<results::Record> records;
    if (!Read(&records, error)) return false;
    return std::any_of(records.begin(), records.end(),
                       [&station](const results::Record& r) { return r.station == station; });
  }

 private:
  // A bad line is skipped: the rest of the file still counts, as in the report.
  bool Read(std::vector<results::Record>* records, std::string* error) {
    platform::SystemFileStore files;
    for (const std::string& path : paths_) {
      results::RecordsFile read = results::ReadRecordsFile(files, path);
      if (!read.readable) {
        *error = path + ": " + read.error;
        return false;
      }
      std::move(read.parsed.records.begin(), read.parsed.records.end(), std::back_inserter(*records));
    }
    return true;
  }

  std::vector<std::string> paths_;
};

Answer Refused(const std::string& why) { return {400, "text/plain; charset=utf-8", why + "\n"}; }

Answer Unavailable(const std::string& why) {
  return {503, "application/json", nlohmann::json{{"error", why}}.dump()};
}

std::optional<std::string> One(const std::multimap<std::string, std::string>& params,
                               const std::string& name) {
  const auto it = params.find(name);
  if (it == params.end()) return std::nullopt;
  return it->second;
}

// The station parameter checked against the records: an unknown one is a typo, not an
// empty board. Nullopt when it may be used; else the answer to give.
std::optional<Answer> CheckStation(RecordSource& source, const std::string& station) {
  if (station.empty()) return std::nullopt;
  std::string error;
  if (source.StationKnown(station, &error)) return std::nullopt;
  if (!error.empty()) return Unavailable(error);
  return Refused("station \"" + station + "\" has no records");
}

}  // namespace

std::unique_ptr<RecordSource> DatabaseSource(Connector connect) {
  return std::make_unique<Database>(std::move(connect));
}

std::unique_ptr<RecordSource> FilesSource(std::vector<std::string> paths) {
  return std::make_unique<Files>(std::move(paths));
}

Answer Serve(RecordSource& source, const std::string& path,
             const std::multimap<std::string, std::string>& params, int64_t nowMs,
             const results::LineWindow& defaults) {
  if (path == "/" || path == "/index.html") return {200, "text/html; charset=utf-8", PageHtml()};
  if (path == "/api/line") {
    results::LineWindow window = defaults;
    window.nowMs = nowMs;
    window.station = One(params, "station").value_or("");
    if (std::optional<Answer> refused = CheckStation(source, window.station)) return *refused;
    results::LineBoard line;
    std::string error;
    if (!source.Line(window, &line, &error)) return Unavailable(error);
    return {200, "application/json", results::LineBoardJson(line).dump()};
  }
  if (path == "/api/report") {
    results::ReportFilter filter;
    for (const auto& [name, bound] : {std::pair{"since", &filter.sinceMs}, std::pair{"until", &filter.untilMs}})
      if (const std::optional<std::string> text = One(params, name)) {
        *bound = results::ParseIsoUtc(*text);
        if (!*bound)
          return Refused(std::string(name) + "=" + *text +
                         " is not a time (2026-12-09 or 2026-12-09T08:00, UTC)");
      }
    filter.station = One(params, "station").value_or("");
    filter.model = One(params, "model").value_or("");
    if (std::optional<Answer> refused = CheckStation(source, filter.station)) return *refused;
    results::Report report;
    std::string error;
    if (!source.Report(filter, &report, &error)) return Unavailable(error);
    return {200, "application/json", results::ReportJson(report).dump()};
  }
  return {404, "text/plain; charset=utf-8", "no such page: " + path + "\n"};
}

}  // namespace board
