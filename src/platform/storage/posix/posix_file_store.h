// The file service on POSIX: pread for records, temp file + fsync + rename + folder
// fsync for state files.
#pragma once

#include "platform/storage/file_store.h"

namespace platform {

class PosixFileStore final : public FileStore {
 public:
  bool Identify(const std::string& path, FileIdentity* out, std::string* error) override;
  bool ReadAt(const std::string& path, uint64_t offset, size_t max, std::string* out,
              std::string* error) override;
  bool ReadWhole(const std::string& path, std::string* out) override;
  bool ReplaceDurably(const std::string& path, const std::string& content,
                      std::string* error) override;
};

}  // namespace platform
