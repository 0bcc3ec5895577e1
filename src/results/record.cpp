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
  f.Text("seat", &r.seat, false);
  f.Text("reason", &r.reason, false);
  f.Text("partition", &r.partition, false);
  if (f.Find(j, "bytesSent", false)) {
    int64_t bytes = 0;
    f.Whole("bytesSent", &bytes, true);
    if (!f.Failed() && bytes < 0) f.Fail("\"bytesSent\" is out of range");
    r.bytesSent = bytes;
  }
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
  if (f.Failed()) return std::nullopt;
  return r;
}

bool Supersedes(const Record& next, const Record& held) { return !held.Final() && next.Final(); }

Record ForDatabase(Record r) {
  for (std::string* text : {&r.station, &r.location, &r.interfacePath, &r.model, &r.deviceInfo,
                            &r.deviceType, &r.securityMode, &r.mode, &r.salesCode, &r.os.path,
                            &r.os.md5, &r.csc.path, &r.csc.md5, &r.bar})
    *text = Safe(std::move(*text));
  for (std::vector<std::string>* list : {&r.passedOver, &r.log, &r.verifyMismatches})
    for (std::string& text : *list) text = Safe(std::move(text));
  return r;
}

}  // namespace results
