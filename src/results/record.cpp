// Every field the report and the database depend on is checked here, so that no line a
// station or a hand-made file holds can make the server refuse a whole batch.
#include "results/record.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "results/iso_time.h"

namespace results {

namespace {

using nlohmann::json;

const char* const kResults[] = {"running", "done", "failed", "interrupted"};
constexpr int kMaxChannel = 1000;

bool IsUuid(std::string* text) {
  if (text->size() != 36) return false;
  for (size_t i = 0; i < text->size(); ++i) {
    char& c = (*text)[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return true;
}

// Reads one field; an absent optional field leaves `out` as it is.
class Fields {
 public:
  Fields(const json& j, std::string* error) : j_(j), error_(error) {}
  bool Failed() const { return failed_; }

  const json* Find(const json& in, const char* name, bool required) {
    if (failed_) return nullptr;
    const auto it = in.find(name);
    if (it == in.end() || it->is_null()) {
      if (required) Fail(std::string("no field \"") + name + "\"");
      return nullptr;
    }
    return &*it;
  }
  void Text(const char* name, std::string* out, bool required, const json* in = nullptr) {
    const json* v = Find(in ? *in : j_, name, required);
    if (!v) return;
    if (!v->is_string()) return Fail(std::string("\"") + name + "\" is not a text");
    *out = v->get<std::string>();
  }
  void Whole(const char* name, int64_t* out, bool required) {
    const json* v = Find(j_, name, required);
    if (!v) return;
    if (!v->is_number_integer()) return Fail(std::string("\"") + name + "\" is not a whole number");
    *out = v->get<int64_t>();
  }
  void Texts(const char* name, std::vector<std::string>* out, const json* in = nullptr) {
    const json* v = Find(in ? *in : j_, name, false);
    if (!v) return;
    if (!v->is_array()) return Fail(std::string("\"") + name + "\" is not a list");
    for (const json& e : *v) {
      if (!e.is_string()) return Fail(std::string("\"") + name + "\" holds a value that is not a text");
      out->push_back(e.get<std::string>());
    }
  }
  void Time(const char* name, int64_t* out, bool required) {
    std::string text;
    Text(name, &text, required);
    if (failed_ || text.empty()) return;
    const auto ms = ParseIsoUtc(text);
    if (!ms) return Fail(std::string("\"") + name + "\" is not a time: \"" + text + "\"");
    *out = *ms;
  }
  void Image(const char* name, results::Image* out) {
    const json* v = Find(j_, name, true);
    if (!v) return;
    if (!v->is_object()) return Fail(std::string("\"") + name + "\" is not an object");
    Text("path", &out->path, false, v);
    Text("md5", &out->md5, true, v);
  }
  void Fail(const std::string& why) {
    if (!failed_) *error_ = why;
    failed_ = true;
  }

 private:
  const json& j_;
  std::string* error_;
  bool failed_ = false;
};

std::string Safe(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\0')
      out += "\xEF\xBF\xBD";
    else
      out += c;
  }
  return out;
}

// Keeps the first `chars` UTF-8 characters; true when that cut something.
bool CutToChars(std::string* text, size_t chars) {
  size_t seen = 0;
  for (size_t i = 0; i < text->size(); ++i) {
    if ((static_cast<unsigned char>((*text)[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (seen++ == chars) {
      text->resize(i);
      return true;
    }
  }
  return false;
}

}  // namespace

std::string Record::Key() const { return runId + "/" + std::to_string(channel); }

std::optional<Record> ParseRecord(const json& j, std::string* error) {
  if (!j.is_object()) {
    *error = "not a JSON object";
    return std::nullopt;
  }
  Record r;
  Fields f(j, error);
  int64_t channel = -1;
  f.Text("runId", &r.runId, true);
  if (!f.Failed() && !IsUuid(&r.runId)) f.Fail("\"runId\" is not a UUID: \"" + r.runId + "\"");
  f.Whole("channel", &channel, true);
  if (!f.Failed() && (channel < 0 || channel > kMaxChannel)) f.Fail("\"channel\" is out of range");
  r.channel = static_cast<int>(channel);
  f.Text("station", &r.station, true);
  f.Text("location", &r.location, true);
  f.Text("model", &r.model, true);
  f.Text("result", &r.result, true);
  if (!f.Failed() && std::find(std::begin(kResults), std::end(kResults), r.result) == std::end(kResults))
    f.Fail("\"result\" is not one of running, done, failed, interrupted: \"" + r.result + "\"");
  f.Time("start", &r.startMs, true);
  f.Image("os", &r.os);
  f.Image("csc", &r.csc);
  f.Whole("port", &r.port, false);
  f.Text("interfacePath", &r.interfacePath, false);
  f.Text("deviceInfo", &r.deviceInfo, false);
  f.Text("deviceType", &r.deviceType, false);
  f.Text("securityMode", &r.securityMode, false);
  f.Text("mode", &r.mode, false);
  f.Text("salesCode", &r.salesCode, false);
  f.Text("bar", &r.bar, false);
  f.Texts("passedOver", &r.passedOver);
  f.Texts("log", &r.log);
  if (r.Final()) {
    int64_t end = 0, duration = 0;
    f.Time("end", &end, true);
    f.Whole("durationMs", &duration, true);
    r.endMs = end;
    r.durationMs = duration;
  }
  if (const json* verify = f.Find(j, "verify", false)) {
    if (!verify->is_object() || !verify->contains("ok") || !(*verify)["ok"].is_boolean())
      f.Fail("\"verify\" has no true/false \"ok\"");
    else
      r.verifyOk = (*verify)["ok"].get<bool>();
    f.Texts("mismatches", &r.verifyMismatches, verify);
  }
  f.Text("seat", &r.seat, false);
  f.Text("session", &r.session, false);
  if (!f.Failed() && !r.session.empty() && !IsUuid(&r.session))
    f.Fail("\"session\" is not a UUID: \"" + r.session + "\"");
  f.Text("reason", &r.reason, false);
  f.Text("partition", &r.partition, false);
  if (const json* sent = f.Find(j, "bytesSent", false)) {
    // An unsigned number past int64's range reads back negative: refused with the rest.
    if (!sent->is_number_integer() || sent->get<int64_t>() < 0)
      f.Fail("\"bytesSent\" is not a whole number of bytes");
    else
      r.bytesSent = sent->get<int64_t>();
  }
  if (f.Failed()) return std::nullopt;
  return r;
}

json ToJson(const Record& r) {
  json j = {
      {"runId", r.runId},
      {"station", r.station},
      {"channel", r.channel},
      {"port", r.port},
      {"location", r.location},
      {"seat", r.seat},
      {"interfacePath", r.interfacePath},
      {"model", r.model},
      {"deviceInfo", r.deviceInfo},
      {"deviceType", r.deviceType},
      {"securityMode", r.securityMode},
      {"mode", r.mode},
      {"salesCode", r.salesCode},
      {"os", {{"path", r.os.path}, {"md5", r.os.md5}}},
      {"csc", {{"path", r.csc.path}, {"md5", r.csc.md5}}},
      {"start", FormatIsoUtc(r.startMs)},
      {"result", r.result},
  };
  if (!r.session.empty()) j["session"] = r.session;
  if (!r.Final()) return j;
  j["end"] = FormatIsoUtc(r.endMs.value_or(r.startMs));
  j["durationMs"] = r.durationMs.value_or(0);
  j["bar"] = r.bar;
  j["passedOver"] = r.passedOver;
  j["log"] = r.log;
  if (r.verifyOk) j["verify"] = {{"ok", *r.verifyOk}, {"mismatches", r.verifyMismatches}};
  if (r.result != "done") {
    if (!r.reason.empty()) j["reason"] = r.reason;
    if (!r.partition.empty()) j["partition"] = r.partition;
  }
  if (r.bytesSent) j["bytesSent"] = *r.bytesSent;
  return j;
}

bool Supersedes(const Record& next, const Record& held) { return !held.Final() && next.Final(); }

Record ForDatabase(Record r) {
  const auto cut = [&r](std::string* text, size_t chars) {
    *text = Safe(std::move(*text));
    if (CutToChars(text, chars)) r.cut = true;
  };
  for (std::string* name : {&r.station, &r.location, &r.model, &r.deviceType, &r.securityMode,
                            &r.mode, &r.salesCode, &r.os.md5, &r.csc.md5, &r.seat, &r.reason,
                            &r.partition})
    cut(name, kStoredNameChars);
  for (std::string* path : {&r.interfacePath, &r.os.path, &r.csc.path}) cut(path, kStoredPathChars);
  for (std::string* text : {&r.deviceInfo, &r.bar}) cut(text, kStoredTextChars);
  for (std::vector<std::string>* list : {&r.passedOver, &r.log, &r.verifyMismatches}) {
    // The start names the handset, the end says how it ended: both stay.
    if (list->size() > kStoredListEntries) {
      list->erase(
          list->begin() + static_cast<std::ptrdiff_t>(kStoredListEntries / 2),
          list->end() - static_cast<std::ptrdiff_t>(kStoredListEntries - kStoredListEntries / 2));
      r.cut = true;
    }
    for (std::string& text : *list) cut(&text, kStoredTextChars);
  }
  return r;
}

}  // namespace results
