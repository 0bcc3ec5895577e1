// Image inspection: every read is bounded by the file's size, so damaged and hostile
// files are described rather than trusted.
#include "smdtool/image_report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "image/md5.h"
#include "image/model_table.h"
#include "platform/text/escaped_text.h"
#include "platform/file/file.h"

namespace smdtool {
namespace {

using platform::EscapedText;

std::string Hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

std::string HexBytes(const uint8_t* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kHex[p[i] >> 4]);
    out.push_back(kHex[p[i] & 15]);
  }
  return out;
}

std::vector<uint8_t> ReadAt(const std::string& path, uint64_t offset, uint64_t size) {
  std::ifstream in(platform::file::NativePath(path), std::ios::binary);
  std::vector<uint8_t> out(static_cast<size_t>(size));
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
  out.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return out;
}

std::string TypeText(uint32_t type) {
  std::string out;
  auto add = [&](uint32_t pattern, const char* name) {
    if (image::HasPattern(type, pattern)) out += (out.empty() ? "" : " ") + std::string(name);
  };
  add(image::IMAGE_SECURITY_SECURE, "SECURE");
  add(image::IMAGE_SECURITY_NON_SECURE, "NON_SECURE");
  add(image::IMAGE_SECURITY_DONT_CARE, "DONT_CARE");
  add(image::IMAGE_BUILD_ENGINEER, "ENGINEER");
  add(image::IMAGE_BUILD_PRODUCT, "PRODUCT");
  return out;
}

// Keeps package reads modest: the package is described, not copied whole.
constexpr uint64_t kMaxPackageRead = 64ull << 20;

}  // namespace

std::optional<ImageReport> InspectImage(const std::string& path, std::string* error) {
  ImageReport report;
  report.path = path;
  std::atomic<bool> stop{false};
  image::ImageDigestJob job;
  if (!job.Open(path)) {
    if (error) *error = "cannot open " + path;
    return std::nullopt;
  }
  report.fileSize = job.FileLength();
  report.digest = job.Run(nullptr, stop);
  job.Close();

  std::optional<std::vector<uint8_t>> region = image::ReadHeaderRegion(path);
  if (!region) {
    if (error) *error = "cannot read " + path;
    return std::nullopt;
  }
  const uint8_t* r = region->data();
  const size_t held = static_cast<size_t>(std::min<uint64_t>(report.fileSize, region->size()));
  report.header = image::DecodeSmdHeader(r, held);
  report.kind = image::KindOfMagic(report.header.magic);
  if (report.fileSize < image::SMD_HEADER_REGION_SIZE)
    report.problems.push_back("file is shorter than the 0x200C00-byte header region");

  const auto table = image::DecodePartitionTable(r, held);
  for (size_t slot = 0; slot < table.size(); ++slot) {
    if (table[slot].name.empty()) continue;
    ReportedEntry e;
    e.slot = slot;
    e.entry = table[slot];
    std::copy_n(
        r + image::PARTITION_TABLE_OFFSET + slot * image::PARTITION_ENTRY_SIZE + image::PE_CSC_LINK,
        16, e.cscLink.begin());
    e.problem = image::CheckEntryBounds(e.entry, report.fileSize);
    if (e.problem.empty() && e.entry.discrete()) {
      std::vector<uint8_t> bytes = ReadAt(path, e.entry.fileOffset, image::DISCRETE_MAP_SIZE);
      std::string why;
      e.map = image::DecodeDiscreteMap(bytes.data(), bytes.size(), &why);
      e.problem = e.map ? image::CheckDiscreteLength(e.entry, *e.map) : why;
    }
    if (!e.problem.empty()) report.problems.push_back(EscapedText(e.entry.name) + ": " + e.problem);
    report.entries.push_back(std::move(e));
  }

  for (uint32_t slot = 0; slot < image::SIGNATURE_SLOT_COUNT; ++slot) {
    const uint8_t* s = r + image::SIGNATURE_SLOTS_OFFSET + slot * image::SIGNATURE_SLOT_SIZE;
    if (std::any_of(s, s + image::SIGNATURE_SLOT_SIZE, [](uint8_t b) { return b != 0; }))
      report.signatureSlots.push_back(slot);
  }

  const uint64_t pkgOffset = report.header.cscPackageOffset;
  const uint64_t pkgLength = report.header.cscPackageLength;
  if (pkgLength > 0 || report.kind == image::ImageKind::Csc) {
    if (pkgOffset + pkgLength > report.fileSize) {
      report.cscProblem = "package runs past the end of the file";
    } else {
      std::vector<uint8_t> bytes = ReadAt(path, pkgOffset, std::min(pkgLength, kMaxPackageRead));
      report.cscPackage = image::DecodeCscPackage(bytes.data(), bytes.size());
      const auto& p = *report.cscPackage;
      if (!p.headerValid)
        report.cscProblem = "package header magic wrong";
      else if (p.stoppedBy != image::CscRecordVerdict::kGood)
        report.cscProblem = std::string("record ") + std::to_string(p.records.size()) + ": " +
                            image::CscRecordVerdictText(p.stoppedBy);
      else if (p.endOffset != pkgLength && pkgLength <= kMaxPackageRead)
        report.cscProblem = "records cover " + std::to_string(p.endOffset) +
                            " bytes, cscPackageLength says " + std::to_string(pkgLength);
    }
    if (!report.cscProblem.empty()) report.problems.push_back("CSC package: " + report.cscProblem);
  }
  return report;
}

nlohmann::json ReportToJson(const ImageReport& report) {
  using nlohmann::json;
  const auto& h = report.header;
  json out;
  out["file"] = report.path;
  out["fileSize"] = report.fileSize;
  out["header"] = {{"magic", EscapedText(h.magic)},
                   {"kind", !report.kind                           ? "unknown"
                            : *report.kind == image::ImageKind::Os ? "os"
                                                                   : "csc"},
                   {"factory", image::IsFactoryMagic(h.magic)},
                   {"model", EscapedText(h.model)},
                   {"modelFamily", image::ModelFamilyName(image::FamilyOfModel(h.model))},
                   {"label", EscapedText(h.label)},
                   {"imageType", Hex32(h.imageType)},
                   {"imageTypePatterns", TypeText(h.imageType)},
                   {"cscWord1", Hex32(h.cscWord1)},
                   {"cscWord2", Hex32(h.cscWord2)},
                   {"cscPackageOffset", h.cscPackageOffset},
                   {"cscPackageLength", h.cscPackageLength},
                   {"md5", image::Md5Hex(h.md5)}};
  json entries = json::array();
  for (const auto& e : report.entries) {
    json j = {{"slot", e.slot},
              {"name", EscapedText(e.entry.name)},
              {"startSector", e.entry.startSector},
              {"sectorCount", e.entry.sectorCount},
              {"fileOffset", e.entry.fileOffset},
              {"length", e.entry.length},
              {"signatureSlot", e.entry.signatureSlot},
              {"format", e.entry.discrete() ? "discrete" : "contiguous"}};
    if (e.entry.name == "DPP") j["cscLink"] = HexBytes(e.cscLink.data(), 16);
    if (e.map) {
      json runs = json::array();
      for (const auto& run : e.map->runs)
        runs.push_back({{"firstSector", run.firstSector}, {"sectorCount", run.sectorCount}});
      j["runs"] = runs;
    }
    if (!e.problem.empty()) j["problem"] = e.problem;
    entries.push_back(j);
  }
  out["partitions"] = entries;
  out["signatureSlots"] = report.signatureSlots;
  if (report.cscPackage) {
    json records = json::array();
    for (const auto& rec : report.cscPackage->records)
      records.push_back(
          {{"salesCode", EscapedText(rec.salesCode)}, {"itemLengths", rec.itemLengths}});
    out["cscPackage"] = {{"valid", report.cscProblem.empty()},
                         {"recordCount", report.cscPackage->header.recordCount},
                         {"text", EscapedText(report.cscPackage->header.text)},
                         {"records", records}};
    if (!report.cscProblem.empty()) out["cscPackage"]["problem"] = report.cscProblem;
  } else if (!report.cscProblem.empty()) {
    out["cscPackage"] = {{"valid", false}, {"problem", report.cscProblem}};
  }
  out["digest"] = {{"stored", image::Md5Hex(report.digest.stored)},
                   {"computed", image::Md5Hex(report.digest.computed)},
                   {"outcome", image::DigestOutcomeText(report.digest.outcome)},
                   {"ok", report.digest.Matches()}};
  out["problems"] = report.problems;
  return out;
}

std::string ReportToText(const ImageReport& report) {
  const auto& h = report.header;
  std::string out;
  char line[256];
  auto add = [&](const char* fmt, auto... args) {
    std::snprintf(line, sizeof line, fmt, args...);
    out += line;
  };
  add("File:           %s (%llu bytes)\n", report.path.c_str(),
      static_cast<unsigned long long>(report.fileSize));
  add("Magic:          \"%s\" (%s)\n", EscapedText(h.magic).c_str(),
      !report.kind ? "not an image magic"
      : *report.kind == image::ImageKind::Os
          ? (image::IsFactoryMagic(h.magic) ? "factory OS image" : "product OS image")
          : (image::IsFactoryMagic(h.magic) ? "factory CSC image" : "product CSC image"));
  add("Model:          \"%s\" (%s)\n", EscapedText(h.model).c_str(),
      image::ModelFamilyName(image::FamilyOfModel(h.model)));
  add("Label:          \"%s\"\n", EscapedText(h.label).c_str());
  add("Image type:     0x%08X %s\n", h.imageType, TypeText(h.imageType).c_str());
  add("CSC words:      0x%08X 0x%08X\n", h.cscWord1, h.cscWord2);
  add("CSC package:    offset 0x%X length 0x%X\n", h.cscPackageOffset, h.cscPackageLength);
  out += "Partitions:\n";
  add("  %-4s %-15s %10s %10s %10s %10s %4s %s\n", "slot", "name", "start", "sectors", "offset",
      "length", "sig", "format");
  for (const auto& e : report.entries) {
    add("  %-4zu %-15s %10u %10u 0x%08X 0x%08X %4u %s\n", e.slot, EscapedText(e.entry.name).c_str(),
        e.entry.startSector, e.entry.sectorCount, e.entry.fileOffset, e.entry.length,
        e.entry.signatureSlot, e.entry.discrete() ? "discrete" : "contiguous");
    if (e.entry.name == "DPP") add("       cscLink %s\n", HexBytes(e.cscLink.data(), 16).c_str());
    if (e.map) {
      for (size_t i = 0; i < e.map->runs.size(); ++i)
        add("       run %zu: sectors +%u, %u sectors\n", i, e.map->runs[i].firstSector,
            e.map->runs[i].sectorCount);
    }
    if (!e.problem.empty()) add("       problem: %s\n", e.problem.c_str());
  }
  out += "Signature slots in use:";
  for (uint32_t s : report.signatureSlots) add(" %u", s);
  out += report.signatureSlots.empty() ? " none\n" : "\n";
  if (report.cscPackage && report.cscPackage->headerValid) {
    add("CSC records:    %u declared, %zu readable (\"%s\")\n",
        report.cscPackage->header.recordCount, report.cscPackage->records.size(),
        EscapedText(report.cscPackage->header.text).c_str());
    for (const auto& rec : report.cscPackage->records) {
      add("  sales code \"%s\", %zu items, %u bytes\n", EscapedText(rec.salesCode).c_str(),
          rec.itemLengths.size(), rec.dataBytes);
    }
  }
  add("Digest:         stored %s\n", image::Md5Hex(report.digest.stored).c_str());
  add("                computed %s (%s)\n", image::Md5Hex(report.digest.computed).c_str(),
      image::DigestOutcomeText(report.digest.outcome));
  out += report.digest.Matches() ? "Digest is right\n" : "Digest is WRONG\n";
  for (const auto& p : report.problems) add("Problem: %s\n", p.c_str());
  return out;
}

}  // namespace smdtool
