// The image digest rule (MD5 of the whole file with bytes 0x50..0x5F taken as zeros)
// and the streaming computation the confirmation worker runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/md5.h"
#include "image/smd_format.h"
#include "image/stretch_sum.h"
#include "platform/file/file.h"

namespace image {

// The confirmation reads the file in pieces of this size.
inline constexpr size_t CONFIRM_READ_SIZE = 2048;

// The digest of a whole image held in memory.
Md5Digest ImageDigestOf(const uint8_t* data, size_t size);
// The digest stored at 0x50 of a header of at least 96 bytes.
Md5Digest StoredDigest(const uint8_t* header);
// Zeros the digest field of a header buffer (bytes that fall outside `size` are skipped).
void ClearDigestField(uint8_t* header, size_t size);

enum class DigestOutcome {
  kComplete,    // the whole file was hashed; compare computed with stored
  kStopped,     // the stop flag was raised between two reads
  kTooShort,    // 96 bytes or less: no body to hash, never a match
  kShrunk,      // a read returned nothing before the expected end
  kReadError,   // the system reported a read error
  kTooLarge,    // 4 GiB or more: offsets and lengths of the format are 32-bit
  kOpenFailed,  // only from ComputeImageDigest
};

struct DigestResult {
  DigestOutcome outcome = DigestOutcome::kOpenFailed;
  Md5Digest computed{};
  Md5Digest stored{};
  int lastPercent = 100;  // the last percentage reported (100 when none was)
  // With SumStretchesOf, when the whole file was read: its stamp at Open and its stretches.
  std::optional<ConfirmedFile> confirmed;
  bool Matches() const { return outcome == DigestOutcome::kComplete && computed == stored; }
};

const char* DigestOutcomeText(DigestOutcome outcome);

// Called with the whole-number percentage each time it changes.
using PercentFn = std::function<void(int percent)>;

// One confirmation over an open image file: open, look at the 96-byte header (model
// and magic checks happen there), then hash. The file stays open until Close or
// destruction; Run never touches it after returning.
class ImageDigestJob {
 public:
  ImageDigestJob() = default;
  ImageDigestJob(const ImageDigestJob&) = delete;
  ImageDigestJob& operator=(const ImageDigestJob&) = delete;

  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  void Close();
  // The first 96 bytes as read at Open; bytes past the end of a short file are zero.
  const std::array<uint8_t, SMD_HEADER_SIZE>& Header() const { return header_; }
  uint64_t FileLength() const { return fileLength_; }
  // Run also sums the stretches a channel sends of an image of `kind`, in the same reads.
  void SumStretchesOf(ImageKind kind) { sumKind_ = kind; }

  // Hashes the whole file in reads of `readSize` bytes, testing `stop` before each read.
  // The reads are taken from a read-ahead stream with a thread of its own for the run.
  DigestResult Run(const PercentFn& onPercent, const std::atomic<bool>& stop,
                   size_t readSize = CONFIRM_READ_SIZE);

 private:
  platform::file::File file_;
  std::array<uint8_t, SMD_HEADER_SIZE> header_{};
  uint64_t fileLength_ = 0;
  size_t headerBytes_ = 0;
  std::optional<platform::file::FileStamp> stamp_;
  std::optional<ImageKind> sumKind_;
};

// Open, hash and close in one call (tools and benchmarks).
DigestResult ComputeImageDigest(const std::string& path, const PercentFn& onPercent,
                                const std::atomic<bool>& stop, size_t readSize = CONFIRM_READ_SIZE);

}  // namespace image
