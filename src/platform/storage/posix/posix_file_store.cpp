// Errors carry the path and the system's words, since they end up in the operator's log.
#include "platform/storage/system_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // The close's own result: on some file systems a write error shows only there.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool SystemFileStore::Identify(const std::string& path, FileIdentity* out, std::string* error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *error = SystemError("cannot read", path);
    return false;
  }
  out->device = static_cast<uint64_t>(st.st_dev);
  out->inode = static_cast<uint64_t>(st.st_ino);
  out->size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SystemFileStore::ReadAt(const std::string& path, uint64_t offset, size_t max,
                            std::string* out, std::string* error) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = SystemError("cannot read", path);
    return false;
  }
  out->assign(max, '\0');
  size_t got = 0;
  while (got < max) {
    const ssize_t n = ::pread(fd.get(), out->data() + got, max - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = SystemError("cannot read", path);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out->resize(got);
  return true;
}

bool SystemFileStore::ReplaceDurably(const std::string& path, const std::string& content,
                                    std::string* error) {
  const std::string temp = path + ".new";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    *error = SystemError("cannot write", temp);
    return false;
  }
  size_t put = 0;
  while (put < content.size()) {
    const ssize_t n = ::write(fd.get(), content.data() + put, content.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    put += static_cast<size_t>(n);
  }
  const bool written = put == content.size() && ::fsync(fd.get()) == 0;
  if (!fd.Close() || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
    *error = SystemError("cannot write", path);
    ::unlink(temp.c_str());
    return false;
  }
  // The rename reaches the disk with the folder.
  Fd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

}  // namespace platform
