// The file service for records that are read while another writer appends to them,
// and for small state files that must survive a power cut whole or not at all.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Which file a path names right now, and how long it is.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
};

class FileStore {
 public:
  virtual ~FileStore() = default;
  // false with `error` set when the path names no readable file.
  [[nodiscard]] virtual bool Identify(const std::string& path, FileIdentity* out,
                                      std::string* error) = 0;
  // Up to `max` bytes from `offset` (fewer at the end). false with `error` set on failure.
  [[nodiscard]] virtual bool ReadAt(const std::string& path, uint64_t offset, size_t max,
                                    std::string* out, std::string* error) = 0;
  // The whole file; false when it does not exist or cannot be read.
  [[nodiscard]] bool ReadWhole(const std::string& path, std::string* out) {
    FileIdentity id;
    std::string error;
    return Identify(path, &id, &error) && ReadAt(path, 0, id.size, out, &error);
  }
  // Replaces `path` so that a crash leaves the old content or the new one, both on disk.
  [[nodiscard]] virtual bool ReplaceDurably(const std::string& path, const std::string& content,
                                            std::string* error) = 0;
};

}  // namespace platform
