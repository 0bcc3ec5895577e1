// pwrite/pread at offsets, ftruncate for the size (which leaves a hole), and hole
// punching for a discard where the file system has it, zeros written where it has not.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/file/sparse_file.h"

namespace platform::file {
namespace {

class PosixSparseFile final : public SparseFile {
 public:
  PosixSparseFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixSparseFile() override { ::close(fd_); }

  bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) override {
    while (length > 0) {
      const ssize_t n = ::pwrite(fd_, data, length, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      length -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return true;
  }

  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) const override {
    while (length > 0) {
      const ssize_t n = ::pread(fd_, out, length, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) {  // past the end
        std::memset(out, 0, length);
        return true;
      }
      out += n;
      length -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return true;
  }

  bool Discard(uint64_t offset, uint64_t length) override {
#ifdef FALLOC_FL_PUNCH_HOLE
    if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(length)) == 0)
      return true;
#endif
    return WriteZeros(offset, length);
  }

  std::string Path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

std::unique_ptr<SparseFile> CreateSparseFile(const std::string& path, uint64_t size,
                                             std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    *error = path + ": cannot be made " + std::to_string(size) + " bytes long: " +
             std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSparseFile>(fd, path);
}

}  // namespace platform::file
