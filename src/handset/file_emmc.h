// File storage: the sectors live in a sparse file of the device's full size, written as
// the handset is written, so memory stays small and the file is the dump.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "handset/emmc.h"
#include "platform/file/sparse_file.h"

namespace handset {

class FileEmmc final : public Emmc {
 public:
  // Creates `path` anew; a file that cannot be made leaves Error() set and every write
  // refused.
  FileEmmc(uint64_t sectorCount, const std::string& path);

  StorageKind Kind() const override { return StorageKind::kFile; }
  std::vector<uint8_t> Read(uint64_t firstSector, uint64_t count) const override;
  std::vector<SectorRun> WrittenRuns() const override;
  bool IsWritten(uint64_t sector) const override;
  // Its own file needs no copy; another path gets one.
  bool Dump(const std::string& path) const override;
  std::string Error() const override { return error_; }

 protected:
  bool DoWrite(uint64_t firstSector, const uint8_t* data, uint64_t length) override;
  bool DoErase(uint64_t firstSector, uint64_t count) override;

 private:
  std::unique_ptr<platform::file::SparseFile> file_;
  std::string error_;
  mutable std::mutex mutex_;
  // Written sectors as first -> end, merged: a hole cannot tell a written zero from none.
  std::map<uint64_t, uint64_t> written_;
};

}  // namespace handset
