// Layout checking: unknown fields, values that do not fit their fields, overlapping
// sector ranges and oversized discrete maps are refused with the field that is wrong.
#include "smdtool/layout_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>

#include "handset/gpt_table.h"
#include "image/smd_format.h"
#include "smdtool/layout_expr.h"
#include "smdtool/pattern.h"
#include "platform/file/file.h"

namespace smdtool {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr uint64_t kDefaultDiskSectors = 16777216;
constexpr uint64_t kMaxU32 = 0xFFFFFFFFull;

uint64_t Align512(uint64_t v) {
  return (v + 511) & ~uint64_t{511};
}

std::string Hex(uint64_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
  return text;
}

class Planner {
 public:
  Planner(const std::string& baseDir, ImagePlan* plan) : baseDir_(baseDir), plan_(plan) {}

  std::optional<BuildError> Run(const json& layout, const ParamOverrides& overrides) {
    if (!layout.is_object())
      Fail("", "the layout must be a JSON object");
    else if (CheckKeys(layout, "",
                       {"description", "params", "header", "partitions", "signatures", "cscPackage",
                        "gptExtra", "diskSectors"}) &&
             Params(layout, overrides) && Header(layout) && Partitions(layout) &&
             Signatures(layout) && CscPackage(layout) && Gpt(layout))
      LayOut();
    return error_;
  }

 private:
  bool Fail(const std::string& field, const std::string& message) {
    if (!error_) error_ = BuildError{"", field, message};
    return false;
  }

  static std::string Join(const std::string& parent, const std::string& key) {
    return parent.empty() ? key : parent + "." + key;
  }
  static std::string Index(const std::string& parent, size_t i) {
    return parent + "[" + std::to_string(i) + "]";
  }

  bool CheckKeys(const json& obj, const std::string& field,
                 std::initializer_list<const char*> keys) {
    if (!obj.is_object()) return Fail(field, "must be a JSON object");
    for (auto it = obj.begin(); it != obj.end(); ++it) {
      bool known =
          std::any_of(keys.begin(), keys.end(), [&](const char* k) { return it.key() == k; });
      if (!known) return Fail(Join(field, it.key()), "unknown field");
    }
    return true;
  }

  // A number or an expression string; absent fields take `fallback`.
  std::optional<uint64_t> Number(const json& value, const std::string& field, uint64_t max) {
    uint64_t v = 0;
    if (value.is_number_unsigned()) {
      v = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
      if (value.get<int64_t>() < 0) return Fail(field, "must not be negative"), std::nullopt;
      v = static_cast<uint64_t>(value.get<int64_t>());
    } else if (value.is_string()) {
      std::string why;
      auto r = EvaluateExpression(value.get<std::string>(), params_, &why);
      if (!r) return Fail(field, why), std::nullopt;
      v = *r;
    } else {
      return Fail(field, "must be a whole number or an expression string"), std::nullopt;
    }
    if (v > max) return Fail(field, "value " + Hex(v) + " is above " + Hex(max)), std::nullopt;
    return v;
  }

  std::optional<uint64_t> Field(const json& obj, const char* key, const std::string& parent,
                                uint64_t fallback, uint64_t max) {
    if (!obj.contains(key)) return fallback;
    return Number(obj[key], Join(parent, key), max);
  }

  bool Text(const json& obj, const char* key, const std::string& parent, size_t maxLength,
            bool required, std::string* out) {
    const std::string field = Join(parent, key);
    if (!obj.contains(key)) return required ? Fail(field, "missing") : true;
    if (!obj[key].is_string()) return Fail(field, "must be a string");
    *out = obj[key].get<std::string>();
    if (out->size() > maxLength)
      return Fail(field, "\"" + *out + "\" is longer than " + std::to_string(maxLength) +
                             " characters (the field needs its NUL)");
    if (out->find('\0') != std::string::npos) return Fail(field, "must not contain NUL");
    return true;
  }

  bool Params(const json& layout, const ParamOverrides& overrides) {
    if (layout.contains("params")) {
      const json& params = layout["params"];
      if (!params.is_object()) return Fail("params", "must be a JSON object");
      ParamValues none;
      for (auto it = params.begin(); it != params.end(); ++it) {
        std::swap(none, params_);
        auto v = Number(it.value(), "params." + it.key(), UINT64_MAX);
        std::swap(none, params_);
        if (!v) return false;
        params_[it.key()] = *v;
      }
    }
    for (const auto& [name, text] : overrides) {
      if (!params_.count(name))
        return Fail("--set " + name, "unknown parameter (declare it in \"params\")");
      std::string why;
      auto v = EvaluateExpression(text, {}, &why);
      if (!v) return Fail("--set " + name, why);
      params_[name] = *v;
    }
    return true;
  }

  bool Header(const json& layout) {
    if (!layout.contains("header")) return Fail("header", "missing");
    const json& h = layout["header"];
    if (!CheckKeys(h, "header", {"magic", "model", "label", "imageType", "cscWord1", "cscWord2"}))
      return false;
    if (!Text(h, "magic", "header", 15, true, &plan_->magic) ||
        !Text(h, "model", "header", 15, false, &plan_->model) ||
        !Text(h, "label", "header", 3, false, &plan_->label))
      return false;
    auto type = Field(h, "imageType", "header", 0, kMaxU32);
    auto w1 = Field(h, "cscWord1", "header", 0, kMaxU32);
    auto w2 = Field(h, "cscWord2", "header", 0, kMaxU32);
    if (!type || !w1 || !w2) return false;
    plan_->imageType = static_cast<uint32_t>(*type);
    plan_->cscWord1 = static_cast<uint32_t>(*w1);
    plan_->cscWord2 = static_cast<uint32_t>(*w2);
    return true;
  }

  // {"file": PATH} | {"size": N, "seed": S} | {"gpt": true} (the last only where allowed).
  bool Data(const json& d, const std::string& field, const std::string& label, uint64_t defaultSize,
            uint64_t maxSize, bool gptAllowed, DataSource* out, bool* isGpt) {
    if (!CheckKeys(d, field, {"file", "size", "seed", "gpt"})) return false;
    const int kinds = d.contains("file") + d.contains("size") + d.contains("gpt");
    if (kinds > 1) return Fail(field, "give only one of \"file\", \"size\" and \"gpt\"");
    if (d.contains("seed") && !d.contains("size") && kinds > 0)
      return Fail(Join(field, "seed"), "only generated data (\"size\") takes a seed");
    if (d.contains("gpt")) {
      if (!gptAllowed) return Fail(Join(field, "gpt"), "a GPT can only be the data of a partition");
      if (d["gpt"] != true) return Fail(Join(field, "gpt"), "must be true");
      *isGpt = true;
      out->kind = DataSource::Kind::kBytes;
      out->size = uint64_t{handset::kGptSectors} * 512;
      return true;
    }
    if (d.contains("file")) {
      if (!d["file"].is_string()) return Fail(Join(field, "file"), "must be a string");
      fs::path path = platform::file::NativePath(d["file"].get<std::string>());
      if (path.is_relative()) path = platform::file::NativePath(baseDir_) / path;
      std::error_code ec;
      const uint64_t size = fs::file_size(path, ec);
      if (ec)
        return Fail(Join(field, "file"), "cannot read " + platform::file::Utf8Path(path) + ": " + ec.message());
      if (size > maxSize)
        return Fail(Join(field, "file"), platform::file::Utf8Path(path) + " has " + Hex(size) + " bytes, at most " +
                                             Hex(maxSize) + " fit");
      out->kind = DataSource::Kind::kFile;
      out->path = platform::file::Utf8Path(path);
      out->size = size;
      return true;
    }
    auto size = Field(d, "size", field, defaultSize, maxSize);
    auto seed = Field(d, "seed", field, 0, UINT64_MAX);
    if (!size || !seed) return false;
    out->kind = DataSource::Kind::kPattern;
    out->key = PatternKey(label, *seed);
    out->size = *size;
    return true;
  }

  bool Partitions(const json& layout) {
    if (!layout.contains("partitions")) return Fail("partitions", "missing");
    const json& list = layout["partitions"];
    if (!list.is_array()) return Fail("partitions", "must be a JSON array");
    if (list.size() > image::PARTITION_SLOT_COUNT)
      return Fail("partitions", "has " + std::to_string(list.size()) + " entries, 32 slots exist");
    std::set<std::string> names;
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string field = Index("partitions", i);
      const json& p = list[i];
      if (!CheckKeys(p, field,
                     {"name", "startSector", "sectorCount", "signatureSlot", "format", "data",
                      "runs", "cscLink", "seed"}))
        return false;
      PlannedPartition part;
      if (!Text(p, "name", field, 15, true, &part.name)) return false;
      if (part.name.empty()) {
        if (p.size() > 1) return Fail(field, "an empty slot (name \"\") takes no other field");
        plan_->partitions.push_back(part);
        continue;
      }
      if (!names.insert(part.name).second)
        return Fail(Join(field, "name"), "\"" + part.name + "\" appears twice");
      auto start = Field(p, "startSector", field, 0, kMaxU32);
      auto count = Field(p, "sectorCount", field, 0, kMaxU32);
      auto slot = Field(p, "signatureSlot", field, 0, image::SIGNATURE_SLOT_COUNT - 1);
      if (!start || !count || !slot) return false;
      part.startSector = static_cast<uint32_t>(*start);
      part.sectorCount = static_cast<uint32_t>(*count);
      part.signatureSlot = static_cast<uint32_t>(*slot);
      if (p.contains("format")) {
        const json& f = p["format"];
        if (f == "discrete")
          part.discrete = true;
        else if (f != "contiguous")
          return Fail(Join(field, "format"), "must be \"contiguous\" or \"discrete\"");
      }
      if (p.contains("cscLink") && !CscLink(p["cscLink"], Join(field, "cscLink"), &part.cscLink))
        return false;
      const uint64_t room = part.sectorCount ? uint64_t{part.sectorCount} * 512 : kMaxU32;
      if (part.discrete) {
        if (p.contains("data"))
          return Fail(Join(field, "data"), "a discrete part takes \"runs\", not \"data\"");
        if (!Runs(p, field, &part)) return false;
      } else {
        if (p.contains("runs")) return Fail(Join(field, "runs"), "only a discrete part takes runs");
        if (p.contains("seed")) return Fail(Join(field, "seed"), "put the seed inside \"data\"");
        if (p.contains("data")) {
          DataSource source;
          if (!Data(p["data"], Join(field, "data"), "partition/" + part.name, 0, kMaxU32, true,
                    &source, &part.holdsGpt))
            return false;
          if (source.size > room)
            return Fail(Join(field, "data"), "data of " + Hex(source.size) +
                                                 " bytes does not fit sectorCount " +
                                                 std::to_string(part.sectorCount));
          part.length = source.size;
          if (source.size > 0 || part.holdsGpt) part.pieces.push_back(std::move(source));
        }
      }
      plan_->partitions.push_back(std::move(part));
    }
    return true;
  }

  bool CscLink(const json& v, const std::string& field, std::array<uint8_t, 16>* out) {
    if (!v.is_string() || v.get<std::string>().size() != 32)
      return Fail(field, "must be a string of 32 hexadecimal digits");
    const std::string text = v.get<std::string>();
    for (size_t i = 0; i < 16; ++i) {
      unsigned byte = 0;
      for (size_t k = 0; k < 2; ++k) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[2 * i + k])));
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) return Fail(field, "must be a string of 32 hexadecimal digits");
        byte = byte * 16 + static_cast<unsigned>(d);
      }
      (*out)[i] = static_cast<uint8_t>(byte);
    }
    return true;
  }

  bool Runs(const json& p, const std::string& field, PlannedPartition* part) {
    const std::string runsField = Join(field, "runs");
    if (!p.contains("runs") || !p["runs"].is_array())
      return Fail(runsField, "a discrete part needs a JSON array of runs");
    const json& runs = p["runs"];
    if (runs.empty()) return Fail(runsField, "a discrete part needs at least one run");
    if (runs.size() > image::DISCRETE_MAP_MAX_RUNS)
      return Fail(runsField,
                  "has " + std::to_string(runs.size()) + " runs, at most 510 fit the map");
    auto seed = Field(p, "seed", field, 0, UINT64_MAX);
    if (!seed) return false;
    uint64_t previousEnd = 0;
    uint64_t total = image::DISCRETE_MAP_SIZE;
    for (size_t r = 0; r < runs.size(); ++r) {
      const std::string rf = Index(runsField, r);
      if (!CheckKeys(runs[r], rf, {"firstSector", "sectorCount"})) return false;
      auto first = Field(runs[r], "firstSector", rf, 0, kMaxU32);
      auto count = Field(runs[r], "sectorCount", rf, 0, kMaxU32);
      if (!first || !count) return false;
      if (*first < previousEnd)
        return Fail(rf, "overlaps or comes before the previous run (runs go in sector order)");
      previousEnd = *first + *count;
      if (part->sectorCount && previousEnd > part->sectorCount)
        return Fail(rf, "ends at sector " + std::to_string(previousEnd) + ", past sectorCount " +
                            std::to_string(part->sectorCount));
      if (uint64_t{part->startSector} + previousEnd > kMaxU32 + 1)
        return Fail(rf, "ends past the 32-bit sector range");
      part->map.runs.push_back({static_cast<uint32_t>(*first), static_cast<uint32_t>(*count)});
      DataSource source;
      source.kind = DataSource::Kind::kPattern;
      source.key = PatternKey("partition/" + part->name + "/run/" + std::to_string(r), *seed);
      source.size = *count * 512;
      total += source.size;
      if (total > kMaxU32) return Fail(runsField, "run data exceeds the 32-bit length field");
      part->pieces.push_back(source);
    }
    part->length = total;
    return true;
  }

  bool Signatures(const json& layout) {
    if (!layout.contains("signatures")) return true;
    const json& list = layout["signatures"];
    if (!list.is_array()) return Fail("signatures", "must be a JSON array");
    std::set<uint64_t> slots;
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string field = Index("signatures", i);
      if (!CheckKeys(list[i], field, {"slot", "engineer", "product"})) return false;
      if (!list[i].contains("slot")) return Fail(Join(field, "slot"), "missing");
      auto slot = Field(list[i], "slot", field, 0, image::SIGNATURE_SLOT_COUNT - 1);
      if (!slot) return false;
      if (!slots.insert(*slot).second) return Fail(Join(field, "slot"), "slot given twice");
      PlannedSignature sig;
      sig.slot = static_cast<uint32_t>(*slot);
      const std::string base = "signature/" + std::to_string(*slot);
      bool unusedGpt = false;
      const json empty = json::object();
      if (!Data(list[i].value("engineer", empty), Join(field, "engineer"), base + "/engineer",
                image::SIGNATURE_BLOCK_SIZE, image::SIGNATURE_BLOCK_SIZE, false, &sig.engineer,
                &unusedGpt) ||
          !Data(list[i].value("product", empty), Join(field, "product"), base + "/product",
                image::SIGNATURE_BLOCK_SIZE, image::SIGNATURE_BLOCK_SIZE, false, &sig.product,
                &unusedGpt))
        return false;
      plan_->signatures.push_back(std::move(sig));
    }
    return true;
  }

  bool CscPackage(const json& layout) {
    if (!layout.contains("cscPackage")) return true;
    const json& p = layout["cscPackage"];
    if (!CheckKeys(p, "cscPackage", {"text", "records"})) return false;
    PlannedCscPackage package;
    if (!Text(p, "text", "cscPackage", 27, false, &package.text)) return false;
    if (!p.contains("records") || !p["records"].is_array())
      return Fail("cscPackage.records", "must be a JSON array");
    uint64_t length = image::CSC_PACKAGE_HEADER_SIZE;
    const json& records = p["records"];
    for (size_t r = 0; r < records.size(); ++r) {
      const std::string field = Index("cscPackage.records", r);
      if (!CheckKeys(records[r], field, {"salesCode", "items"})) return false;
      PlannedCscRecord record;
      if (!Text(records[r], "salesCode", field, 3, true, &record.salesCode)) return false;
      const json empty = json::array();
      const json& items = records[r].contains("items") ? records[r]["items"] : empty;
      if (!items.is_array()) return Fail(Join(field, "items"), "must be a JSON array");
      if (items.size() > image::CSC_MAX_ITEMS)
        return Fail(Join(field, "items"),
                    "has " + std::to_string(items.size()) + " items, at most 7 fit");
      uint64_t data = 0;
      for (size_t k = 0; k < items.size(); ++k) {
        const std::string itemField = Index(Join(field, "items"), k);
        if (!CheckKeys(items[k], itemField, {"dataLength", "seed"})) return false;
        auto dataLength = Field(items[k], "dataLength", itemField, 0, kMaxU32);
        auto seed = Field(items[k], "seed", itemField, 0, UINT64_MAX);
        if (!dataLength || !seed) return false;
        data += *dataLength;
        record.items.push_back(
            {static_cast<uint32_t>(*dataLength),
             PatternKey("csc/" + std::to_string(r) + "/" + std::to_string(k), *seed)});
      }
      if (data > kMaxU32) return Fail(Join(field, "items"), "item lengths add up past 32 bits");
      length += image::CSC_RECORD_SIZE + data;
      package.records.push_back(std::move(record));
    }
    if (length > kMaxU32) return Fail("cscPackage", "package exceeds the 32-bit length field");
    package.length = length;
    plan_->cscPackage = std::move(package);
    return true;
  }

  bool Gpt(const json& layout) {
    auto disk = Field(layout, "diskSectors", "", kDefaultDiskSectors, UINT64_MAX);
    if (!disk) return false;
    if (*disk <= 2 * uint64_t{handset::kGptSectors})
      return Fail("diskSectors", "too small for a GPT");
    struct Range {
      std::string name, field;
      uint64_t first, count;
    };
    std::vector<Range> ranges;
    for (size_t i = 0; i < plan_->partitions.size(); ++i) {
      const auto& p = plan_->partitions[i];
      if (!p.name.empty() && p.sectorCount)
        ranges.push_back({p.name, Index("partitions", i), p.startSector, p.sectorCount});
    }
    std::vector<handset::GptPartition> extra;
    if (layout.contains("gptExtra")) {
      const json& list = layout["gptExtra"];
      if (!list.is_array()) return Fail("gptExtra", "must be a JSON array");
      for (size_t i = 0; i < list.size(); ++i) {
        const std::string field = Index("gptExtra", i);
        if (!CheckKeys(list[i], field, {"name", "startSector", "sectorCount"})) return false;
        std::string name;
        if (!Text(list[i], "name", field, 35, true, &name)) return false;
        auto start = Field(list[i], "startSector", field, 0, UINT64_MAX);
        auto count = Field(list[i], "sectorCount", field, 0, UINT64_MAX);
        if (!start || !count) return false;
        if (*count == 0) return Fail(Join(field, "sectorCount"), "must not be 0");
        for (const auto& r : ranges)
          if (r.name == name)
            return Fail(Join(field, "name"), "\"" + name + "\" is also " + r.field);
        ranges.push_back({name, field, *start, *count});
        extra.push_back({name, *start, *count});
      }
    }
    // Sector ranges on the handset must not overlap nor leave the disk.
    for (size_t a = 0; a < ranges.size(); ++a) {
      if (ranges[a].first + ranges[a].count > *disk)
        return Fail(ranges[a].field,
                    "\"" + ranges[a].name + "\" ends past diskSectors " + std::to_string(*disk));
      for (size_t b = a + 1; b < ranges.size(); ++b) {
        const auto& x = ranges[a];
        const auto& y = ranges[b];
        if (x.first < y.first + y.count && y.first < x.first + x.count)
          return Fail(y.field,
                      "sectors of \"" + y.name + "\" overlap \"" + x.name + "\" (" + x.field + ")");
      }
    }
    // The table lists the image's partitions (not the one holding the table) and the extras.
    for (auto& p : plan_->partitions) {
      if (!p.holdsGpt) continue;
      std::vector<handset::GptPartition> listed;
      for (const auto& q : plan_->partitions)
        if (!q.name.empty() && q.sectorCount && !q.holdsGpt)
          listed.push_back({q.name, q.startSector, q.sectorCount});
      listed.insert(listed.end(), extra.begin(), extra.end());
      p.pieces.front().bytes = handset::BuildGpt(listed, *disk);
      p.pieces.front().size = p.pieces.front().bytes.size();
    }
    return true;
  }

  void LayOut() {
    uint64_t offset = image::SMD_HEADER_REGION_SIZE;
    for (auto& p : plan_->partitions) {
      if (p.length == 0) continue;
      p.fileOffset = Align512(offset);
      offset = p.fileOffset + p.length;
    }
    if (plan_->cscPackage) {
      plan_->cscPackage->fileOffset = Align512(offset);
      offset = plan_->cscPackage->fileOffset + plan_->cscPackage->length;
    }
    plan_->fileSize = offset;
    if (offset > kMaxU32)
      Fail("", "the image would have " + std::to_string(offset) +
                   " bytes; offsets and lengths of the format are 32-bit (below 4 GiB)");
  }

  std::string baseDir_;
  ImagePlan* plan_;
  ParamValues params_;
  std::optional<BuildError> error_;
};

}  // namespace

std::optional<BuildError> PlanImage(const nlohmann::json& layout, const std::string& baseDir,
                                    const ParamOverrides& overrides, ImagePlan* plan) {
  *plan = ImagePlan{};
  return Planner(baseDir, plan).Run(layout, overrides);
}

}  // namespace smdtool
