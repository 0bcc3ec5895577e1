// O_APPEND puts every write at the end, so a record is never laid over another; the
// file is first opened without O_CREAT to learn whether this open made it.
#include "platform/file/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace platform {

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Open(const std::string& path, std::string* error) {
  Close();
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    return true;
  }
  constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
  fd_ = ::open(path.c_str(), kFlags);
  if (fd_ < 0 && errno == ENOENT) {
    fd_ = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
    created_ = fd_ >= 0;
  }
  if (fd_ < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  owned_ = true;
  struct stat st {};
  if (!created_ && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    // Opened for writing only: the last byte is read through a second descriptor.
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char last = '\n';
    if (reader >= 0) {
      if (::pread(reader, &last, 1, st.st_size - 1) != 1) last = '\n';
      ::close(reader);
    }
    endsMidLine_ = last != '\n';
  }
  return true;
}

bool AppendFile::Append(std::string_view text) {
  if (fd_ < 0) return false;
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool AppendFile::Sync() {
  if (fd_ < 0) return false;
  if (::fdatasync(fd_) == 0) return true;
  // Pipes, terminals and the like cannot be synchronised and need not be.
  return errno == EINVAL || errno == EROFS;
}

void AppendFile::Close() {
  if (owned_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  owned_ = false;
  created_ = false;
  endsMidLine_ = false;
}

}  // namespace platform
