// The file service of the system the station runs on: pread (or ReadFile) for records,
// a temp file flushed and renamed over the old one for state files.
#pragma once

#include "platform/storage/file_store.h"

namespace platform {

class SystemFileStore final : public FileStore {
 public:
  bool Identify(const std::string& path, FileIdentity* out, std::string* error) override;
  bool ReadAt(const std::string& path, uint64_t offset, size_t max, std::string* out,
              std::string* error) override;
  bool ReplaceDurably(const std::string& path, const std::string& content,
                      std::string* error) override;
};

}  // namespace platform
