// Streaming digest: the header is hashed with its digest field zeroed, the rest of
// the file goes through unchanged in small reads taken from a read-ahead stream, whose
// thread copies the file in large blocks while this one hashes.
#include "image/image_digest.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>

#include "image/read_ahead.h"

namespace image {

Md5Digest ImageDigestOf(const uint8_t* data, size_t size) {
  Md5 md5;
  const size_t head = std::min(size, SMD_HEADER_SIZE);
  uint8_t header[SMD_HEADER_SIZE] = {};
  std::memcpy(header, data, head);
  ClearDigestField(header, head);
  md5.Update(header, head);
  md5.Update(data + head, size - head);
  return md5.Final();
}

Md5Digest StoredDigest(const uint8_t* header) {
  Md5Digest out;
  std::memcpy(out.data(), header + HDR_MD5, HDR_MD5_SIZE);
  return out;
}

void ClearDigestField(uint8_t* header, size_t size) {
  for (size_t i = HDR_MD5; i < HDR_MD5 + HDR_MD5_SIZE && i < size; ++i) header[i] = 0;
}

const char* DigestOutcomeText(DigestOutcome outcome) {
  switch (outcome) {
    case DigestOutcome::kComplete:
      return "complete";
    case DigestOutcome::kStopped:
      return "stopped";
    case DigestOutcome::kTooShort:
      return "file of 96 bytes or less";
    case DigestOutcome::kShrunk:
      return "file ended before its length";
    case DigestOutcome::kReadError:
      return "read error";
    case DigestOutcome::kTooLarge:
      return "file of 4 GiB or more";
    case DigestOutcome::kOpenFailed:
      return "cannot open";
  }
  return "?";
}

bool ImageDigestJob::Open(const std::string& path) {
  Close();
  file_ = platform::file::Open(path, "rb");
  std::FILE* f = file_.get();
  if (f == nullptr) return false;
  // Unbuffered: the read-ahead blocks are read straight from the system, with no copy
  // through a stdio buffer on the way.
  std::setvbuf(f, nullptr, _IONBF, 0);
  const std::optional<uint64_t> length = platform::file::Length(f);
  if (!length) {
    Close();
    return false;
  }
  fileLength_ = *length;
  stamp_ = platform::file::Stamp(f);
  header_.fill(0);
  headerBytes_ = std::fread(header_.data(), 1, header_.size(), f);
  return true;
}

void ImageDigestJob::Close() {
  file_.reset();
  fileLength_ = 0;
  headerBytes_ = 0;
  stamp_.reset();
}

DigestResult ImageDigestJob::Run(const PercentFn& onPercent, const std::atomic<bool>& stop,
                                 size_t readSize) {
  DigestResult result;
  if (!file_) return result;
  result.stored = StoredDigest(header_.data());
  if (fileLength_ > 0xFFFFFFFFull) {
    result.outcome = DigestOutcome::kTooLarge;
    return result;
  }
  Md5 md5;
  std::array<uint8_t, SMD_HEADER_SIZE> header = header_;
  ClearDigestField(header.data(), header.size());
  md5.Update(header.data(), headerBytes_);
  if (fileLength_ <= SMD_HEADER_SIZE) {
    result.computed = md5.Final();
    result.outcome = DigestOutcome::kTooShort;
    return result;
  }
  if (headerBytes_ < SMD_HEADER_SIZE) {
    result.outcome = DigestOutcome::kShrunk;
    return result;
  }
  if (readSize == 0) readSize = CONFIRM_READ_SIZE;

  const uint32_t total = static_cast<uint32_t>(fileLength_ - SMD_HEADER_SIZE);
  uint32_t remaining = total;
  std::FILE* f = file_.get();
  if (!platform::file::Seek(f, SMD_HEADER_SIZE)) {
    result.outcome = DigestOutcome::kReadError;
    return result;
  }
  // Leaving this scope stops and joins the reader, so the file is untouched after Run. A
  // reader that cannot be started is a file that cannot be read, not the end of the process.
  std::optional<ReadAheadStream> reader;
  try {
    reader.emplace(f, total);
  } catch (const std::system_error&) {
    result.outcome = DigestOutcome::kReadError;
    return result;
  }
  ReadAheadStream& stream = *reader;
  // Without a stamp a later change could not be told at a channel's open: nothing is
  // confirmed for the channels then, and the caller sees no `confirmed`.
  std::optional<StretchSummer> summer;
  if (sumKind_ && stamp_) {
    summer.emplace(*sumKind_);
    summer->Feed(header_.data(), header_.size());
  }
  result.outcome = DigestOutcome::kComplete;
  while (remaining > 0) {
    if (stop.load(std::memory_order_relaxed)) {
      result.outcome = DigestOutcome::kStopped;
      return result;
    }
    const uint8_t* piece = nullptr;
    const size_t got = stream.Next(std::min<size_t>(remaining, readSize), &piece);
    if (got == 0) {
      result.outcome = stream.Ended() == ReadAheadStream::End::kReadError
                           ? DigestOutcome::kReadError
                           : DigestOutcome::kShrunk;
      return result;
    }
    md5.Update(piece, got);
    if (summer) summer->Feed(piece, got);
    remaining -= static_cast<uint32_t>(got);
    const int percent = static_cast<int>((static_cast<uint64_t>(total - remaining) * 100) / total);
    if (percent != result.lastPercent) {
      result.lastPercent = percent;
      if (onPercent) onPercent(percent);
    }
  }
  result.computed = md5.Final();
  if (summer) result.confirmed = ConfirmedFile{*stamp_, summer->Finish()};
  return result;
}

DigestResult ComputeImageDigest(const std::string& path, const PercentFn& onPercent,
                                const std::atomic<bool>& stop, size_t readSize) {
  ImageDigestJob job;
  if (!job.Open(path)) return DigestResult{};
  return job.Run(onPercent, stop, readSize);
}

}  // namespace image
