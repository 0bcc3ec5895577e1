// Field names and texts of a record are what line tools parse: keep them stable.
#include "records/channel_record.h"

#include <filesystem>

#include "engine/download_mode.h"
#include "platform/file/file.h"
#include "results/iso_time.h"
#include "usb/security_mode.h"

namespace records {

int64_t ChannelRecord::DurationMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
}

std::string IsoUtc(std::chrono::system_clock::time_point t) {
  return results::FormatIsoUtc(
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

std::string DownloadModeName(uint32_t mode) {
  switch (mode) {
    case engine::DOWNLOAD_MODE_ALL:
      return "DOWNLOAD_MODE_ALL";
    case engine::DOWNLOAD_MODE_FACTORY:
      return "DOWNLOAD_MODE_FACTORY";
    case engine::DOWNLOAD_MODE_RECOVER:
      return "DOWNLOAD_MODE_RECOVER";
    case engine::DOWNLOAD_MODE_ERASE_NV:
      return "DOWNLOAD_MODE_ERASE_NV";
    default:
      return "unknown";
  }
}

std::string SecurityModeName(uint32_t mode) {
  switch (mode) {
    case usb::SECURITY_MODE_SECURE:
      return "SECURITY_MODE_SECURE";
    case usb::SECURITY_MODE_NON_SECURE:
      return "SECURITY_MODE_NON_SECURE";
    default:
      return "SECURITY_MODE_NONE";
  }
}

std::string LogEntry(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out += c;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string ResultName(const ChannelRecord& r) {
  if (!r.ended) return "running";
  if (r.done) return "done";
  return r.interrupted ? "interrupted" : "failed";
}

nlohmann::json RecordJson(const ChannelRecord& r) {
  nlohmann::json j = {
      {"runId", r.run.runId},
      {"station", r.run.station},
      {"channel", r.handset.channel},
      {"port", r.handset.port},
      {"location", r.handset.location},
      {"interfacePath", r.handset.interfacePath},
      {"model", r.handset.model},
      {"deviceInfo", r.handset.deviceInfo},
      {"deviceType", r.handset.deviceType},
      {"securityMode", SecurityModeName(r.handset.securityMode)},
      {"mode", r.mode},
      {"salesCode", r.salesCode},
      {"os", {{"path", r.os.path}, {"md5", r.os.md5}}},
      {"csc", {{"path", r.csc.path}, {"md5", r.csc.md5}}},
      {"start", IsoUtc(r.start)},
      {"result", ResultName(r)},
  };
  if (!r.ended) return j;
  j["end"] = IsoUtc(r.end);
  j["durationMs"] = r.DurationMs();
  j["bar"] = r.bar;
  j["passedOver"] = r.passedOver;
  j["log"] = r.log;
  if (r.verifyMismatches)
    j["verify"] = {{"ok", r.verifyMismatches->empty()}, {"mismatches", *r.verifyMismatches}};
  return j;
}

bool ResultsFile::Open(const std::string& path, std::string* error) {
  std::string reason;
  if (!file_.Open(path, &reason)) {
    *error = "cannot write the results file " + reason;
    return false;
  }
  path_ = path;
  return true;
}

bool ResultsFile::Append(const nlohmann::json& record, bool durable) {
  // Texts from a handset are not always UTF-8: replace what is not, never throw.
  std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::lock_guard lock(mutex_);
  // A line an earlier run left unfinished (a power cut) stays a bad line of its own.
  if (!written_ && file_.EndsMidLine()) line.insert(0, 1, '\n');
  written_ = true;
  const bool whole = file_.Append(line);
  const bool kept = whole && (!durable || file_.Sync());
  if (whole && appended_) appended_();
  return kept;
}

void ResultsFile::SetAppendedHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  appended_ = std::move(hook);
}

void ResultsFile::DiscardIfUnused() {
  std::lock_guard lock(mutex_);
  if (written_ || !file_.Created()) return;
  file_.Close();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

}  // namespace records
