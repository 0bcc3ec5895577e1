// The image writer: header region first (digest field zero), then every piece of data
// in file order, hashed on the way; the digest goes into the header last.
#include "smdtool/image_builder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "image/csc_package.h"
#include "image/md5.h"
#include "image/smd_format.h"
#include "platform/bytes/little_endian.h"
#include "smdtool/layout_plan.h"
#include "smdtool/pattern.h"
#include "platform/file/file.h"

namespace smdtool {
namespace {

using image::Md5;
constexpr size_t kChunk = 1 << 20;

void PutText(uint8_t* field, const std::string& text) {
  std::memcpy(field, text.data(), text.size());
}

std::vector<uint8_t> HeaderRegion(const ImagePlan& plan) {
  std::vector<uint8_t> region(image::SMD_HEADER_REGION_SIZE, 0);
  uint8_t* h = region.data();
  PutText(h + image::HDR_MAGIC, plan.magic);
  PutText(h + image::HDR_MODEL, plan.model);
  PutText(h + image::HDR_LABEL, plan.label);
  platform::PutLe32(h + image::HDR_CSC_WORD1, plan.cscWord1);
  platform::PutLe32(h + image::HDR_CSC_WORD2, plan.cscWord2);
  platform::PutLe32(h + image::HDR_IMAGE_TYPE, plan.imageType);
  if (plan.cscPackage) {
    platform::PutLe32(h + image::HDR_CSC_PACKAGE_OFFSET,
                      static_cast<uint32_t>(plan.cscPackage->fileOffset));
    platform::PutLe32(h + image::HDR_CSC_PACKAGE_LENGTH,
                      static_cast<uint32_t>(plan.cscPackage->length));
  }
  for (size_t slot = 0; slot < plan.partitions.size(); ++slot) {
    const PlannedPartition& p = plan.partitions[slot];
    if (p.name.empty()) continue;
    uint8_t* e = h + image::PARTITION_TABLE_OFFSET + slot * image::PARTITION_ENTRY_SIZE;
    PutText(e + image::PE_NAME, p.name);
    platform::PutLe32(e + image::PE_START_SECTOR, p.startSector);
    platform::PutLe32(e + image::PE_SECTOR_COUNT, p.sectorCount);
    platform::PutLe32(e + image::PE_FILE_OFFSET, static_cast<uint32_t>(p.fileOffset));
    platform::PutLe32(e + image::PE_LENGTH, static_cast<uint32_t>(p.length));
    platform::PutLe32(e + image::PE_SIGNATURE_SLOT, p.signatureSlot);
    platform::PutLe32(e + image::PE_FORMAT, p.discrete ? image::PARTITION_FORMAT_DISCRETE : 0);
    std::memcpy(e + image::PE_CSC_LINK, p.cscLink.data(), p.cscLink.size());
  }
  return region;
}

class Writer {
 public:
  Writer(std::FILE* file, const std::string& outPath) : file_(file), outPath_(outPath) {}

  bool Put(const uint8_t* data, size_t size) {
    md5_.Update(data, size);
    position_ += size;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    return Fail("cannot write " + outPath_);
  }

  bool PadTo(uint64_t offset) {
    static const uint8_t kZeros[512] = {};
    while (position_ < offset) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(offset - position_, sizeof kZeros));
      if (!Put(kZeros, n)) return false;
    }
    return true;
  }

  bool PutSource(const DataSource& source) {
    switch (source.kind) {
      case DataSource::Kind::kBytes:
        return Put(source.bytes.data(), source.bytes.size());
      case DataSource::Kind::kPattern: {
        for (uint64_t done = 0; done < source.size;) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(source.size - done, kChunk));
          FillPattern(source.key, done, Buffer(), n);
          if (!Put(Buffer(), n)) return false;
          done += n;
        }
        return true;
      }
      case DataSource::Kind::kFile: {
        platform::file::File in = platform::file::Open(source.path, "rb");
        if (!in) return Fail("cannot open " + source.path);
        for (uint64_t done = 0; done < source.size;) {
          const size_t want = static_cast<size_t>(std::min<uint64_t>(source.size - done, kChunk));
          const size_t got = std::fread(Buffer(), 1, want, in.get());
          if (got != want) return Fail(source.path + " changed size while the image was built");
          if (!Put(Buffer(), got)) return false;
          done += got;
        }
        return true;
      }
    }
    return false;
  }

  image::Md5Digest Digest() { return md5_.Final(); }
  uint64_t Position() const { return position_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  uint8_t* Buffer() {
    if (buffer_.empty()) buffer_.resize(kChunk);
    return buffer_.data();
  }

  std::FILE* file_;
  std::string outPath_;
  Md5 md5_;
  uint64_t position_ = 0;
  std::vector<uint8_t> buffer_;
  std::string error_;
};

bool WriteCscPackage(Writer& w, const PlannedCscPackage& package) {
  uint8_t header[image::CSC_PACKAGE_HEADER_SIZE];
  image::EncodeCscPackageHeader({static_cast<uint32_t>(package.records.size()), package.text},
                                header);
  if (!w.Put(header, sizeof header)) return false;
  for (const auto& r : package.records) {
    image::CscRecord record;
    record.salesCode = r.salesCode;
    for (const auto& item : r.items) record.itemLengths.push_back(item.dataLength);
    uint8_t bytes[image::CSC_RECORD_SIZE];
    image::EncodeCscRecord(record, bytes);
    if (!w.Put(bytes, sizeof bytes)) return false;
    for (const auto& item : r.items) {
      DataSource source;
      source.kind = DataSource::Kind::kPattern;
      source.key = item.key;
      source.size = item.dataLength;
      if (!w.PutSource(source)) return false;
    }
  }
  return true;
}

// Signature halves are small: read or generated straight into the header region.
bool FillBlock(const DataSource& source, uint8_t* out) {
  switch (source.kind) {
    case DataSource::Kind::kPattern:
      FillPattern(source.key, 0, out, source.size);
      return true;
    case DataSource::Kind::kBytes:
      std::memcpy(out, source.bytes.data(), source.bytes.size());
      return true;
    case DataSource::Kind::kFile: {
      std::ifstream in(platform::file::NativePath(source.path), std::ios::binary);
      in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(source.size));
      return static_cast<uint64_t>(in.gcount()) == source.size;
    }
  }
  return false;
}

std::optional<std::string> WriteImage(const ImagePlan& plan, const std::string& outPath,
                                      image::Md5Digest* digest) {
  platform::file::File out = platform::file::Open(outPath, "wb");
  if (!out) return "cannot create " + outPath;
  Writer w(out.get(), outPath);
  {
    std::vector<uint8_t> region = HeaderRegion(plan);
    for (const auto& sig : plan.signatures) {
      uint8_t* slot = region.data() + image::SIGNATURE_SLOTS_OFFSET +
                      size_t{sig.slot} * image::SIGNATURE_SLOT_SIZE;
      if (!FillBlock(sig.engineer, slot) ||
          !FillBlock(sig.product, slot + image::SIGNATURE_BLOCK_SIZE))
        return "cannot read signature data of slot " + std::to_string(sig.slot);
    }
    if (!w.Put(region.data(), region.size())) return w.Error();
  }
  for (const auto& p : plan.partitions) {
    if (p.length == 0) continue;
    if (!w.PadTo(p.fileOffset)) return w.Error();
    if (p.discrete) {
      uint8_t map[image::DISCRETE_MAP_SIZE];
      image::EncodeDiscreteMap(p.map, map);
      if (!w.Put(map, sizeof map)) return w.Error();
    }
    for (const auto& piece : p.pieces)
      if (!w.PutSource(piece)) return w.Error();
  }
  if (plan.cscPackage) {
    if (!w.PadTo(plan.cscPackage->fileOffset) || !WriteCscPackage(w, *plan.cscPackage))
      return w.Error();
  }
  *digest = w.Digest();
  if (std::fseek(out.get(), static_cast<long>(image::HDR_MD5), SEEK_SET) != 0 ||
      std::fwrite(digest->data(), 1, digest->size(), out.get()) != digest->size())
    return "cannot write the digest into " + outPath;
  if (std::fflush(out.get()) != 0) return "cannot write " + outPath;
  if (std::fclose(out.release()) != 0) return "cannot close " + outPath;
  return std::nullopt;
}

}  // namespace

std::string BuildError::ToString() const {
  std::string out = file.empty() ? "<layout>" : file;
  if (!field.empty()) out += ": " + field;
  return out + ": " + message;
}

std::optional<BuildError> BuildImage(const nlohmann::json& layout, const std::string& baseDir,
                                     const std::string& outPath, const ParamOverrides& overrides,
                                     BuildSummary* summary) {
  ImagePlan plan;
  if (auto error = PlanImage(layout, baseDir, overrides, &plan)) {
    if (error->file.empty()) error->file = "<layout>";
    return error;
  }
  image::Md5Digest digest{};
  if (auto failure = WriteImage(plan, outPath, &digest)) {
    std::error_code ec;
    std::filesystem::remove(platform::file::NativePath(outPath), ec);
    return BuildError{outPath, "", *failure};
  }
  if (summary) {
    *summary = BuildSummary{};
    summary->fileSize = plan.fileSize;
    for (const auto& p : plan.partitions)
      summary->entries.push_back(
          {p.name, static_cast<uint32_t>(p.fileOffset), static_cast<uint32_t>(p.length)});
    if (plan.cscPackage) {
      summary->cscPackageOffset = static_cast<uint32_t>(plan.cscPackage->fileOffset);
      summary->cscPackageLength = static_cast<uint32_t>(plan.cscPackage->length);
    }
    summary->digest = digest;
  }
  return std::nullopt;
}

std::optional<BuildError> BuildImageFromFile(const std::string& layoutPath,
                                             const std::string& outPath,
                                             const ParamOverrides& overrides,
                                             BuildSummary* summary) {
  std::ifstream in(platform::file::NativePath(layoutPath));
  if (!in) return BuildError{layoutPath, "", "cannot open the layout"};
  nlohmann::json layout = nlohmann::json::parse(in, nullptr, false, true);
  if (layout.is_discarded()) return BuildError{layoutPath, "", "not valid JSON"};
  const std::string baseDir =
      platform::file::Utf8Path(platform::file::NativePath(layoutPath).parent_path());
  auto error = BuildImage(layout, baseDir.empty() ? "." : baseDir, outPath, overrides, summary);
  if (error && error->file == "<layout>") error->file = layoutPath;
  return error;
}

}  // namespace smdtool
