// A file written and read at any offset, whose unwritten ranges take no disk space:
// what a virtual handset's file storage keeps its sectors in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::file {

class SparseFile {
 public:
  virtual ~SparseFile() = default;
  // All `length` bytes at `offset`, or false.
  [[nodiscard]] virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) = 0;
  // `length` bytes from `offset`; bytes past the end read as zeros. False on a read error.
  [[nodiscard]] virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t length) const = 0;
  // The range reads as zeros afterwards; its space is given back where the system can.
  [[nodiscard]] virtual bool Discard(uint64_t offset, uint64_t length) = 0;
  virtual std::string Path() const = 0;

 protected:
  // Discard's way where the file system cannot free a range: zeros written over it.
  [[nodiscard]] bool WriteZeros(uint64_t offset, uint64_t length) {
    static const std::vector<uint8_t> zeros(1 << 20, 0);
    while (length > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(length, zeros.size()));
      if (!WriteAt(offset, zeros.data(), n)) return false;
      offset += n;
      length -= n;
    }
    return true;
  }
};

// Creates `path` anew (truncating an old one) with `size` bytes that read as zeros.
// Null with `error` set when it cannot be made.
std::unique_ptr<SparseFile> CreateSparseFile(const std::string& path, uint64_t size,
                                             std::string* error);

}  // namespace platform::file
