// O_APPEND puts every write at the end, so a record is never laid over another. The file
// is opened for reading too, so its last byte can be read back whoever wrote it.
#include "platform/file/append_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace platform {
namespace {

constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC;

std::string SystemError(const std::string& path, int error) {
  std::string text = path;
  text.append(": ").append(std::strerror(error));
  return text;
}

AppendFailure FailureOf(int error) {
  switch (error) {
    case ENOSPC:
      return AppendFailure::kNoSpace;
    case EDQUOT:
      return AppendFailure::kQuota;
    case EFBIG:
      return AppendFailure::kTooLarge;
    case EIO:
      return AppendFailure::kIo;
    case EROFS:
      return AppendFailure::kReadOnly;
    default:
      return AppendFailure::kOther;
  }
}

int OpenExisting(const std::string& path) {
  int fd = ::open(path.c_str(), kFlags);
  // A file this user may write but not read is still appended to; only its last byte
  // cannot be checked.
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  return fd;
}

// The folder takes a new file: an unnamed one where the file system has them, so the
// check leaves no name behind that could ever need removing.
bool FolderTakesFiles(const std::string& path, std::string* error) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = std::filesystem::path(".");
  const int probe = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe >= 0) {
    ::close(probe);
    return true;
  }
  const bool unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
  if (unsupported && ::access(folder.c_str(), W_OK | X_OK) == 0) return true;
  *error = SystemError(path, errno);
  return false;
}

}  // namespace

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Open(const std::string& path, std::string* error) {
  Close();
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    return true;
  }
  fd_ = OpenExisting(path);
  if (fd_ >= 0) {
    owned_ = true;
    return true;
  }
  if (errno != ENOENT) {
    *error = SystemError(path, errno);
    return false;
  }
  if (!FolderTakesFiles(path, error)) return false;
  toMake_ = path;
  return true;
}

AppendFailure AppendFile::Make() {
  if (fd_ >= 0) return AppendFailure::kNone;
  if (toMake_.empty()) return AppendFailure::kNotOpen;
  // Without O_EXCL: another process may have made it meanwhile, and appending is shared.
  fd_ = ::open(toMake_.c_str(), kFlags | O_CREAT, 0644);
  if (fd_ < 0) return FailureOf(errno);
  owned_ = true;
  toMake_.clear();
  return AppendFailure::kNone;
}

void AppendFile::OpenMadeByOthers() {
  if (fd_ >= 0 || toMake_.empty()) return;
  fd_ = OpenExisting(toMake_);
  if (fd_ < 0) return;
  owned_ = true;
  toMake_.clear();
}

bool AppendFile::EndsMidLine() {
  OpenMadeByOthers();
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return cutByAppend_;
  if (st.st_size == 0) return false;
  char last = '\n';
  if (::pread(fd_, &last, 1, st.st_size - 1) != 1) return cutByAppend_;
  return last != '\n';
}

uint64_t AppendFile::Size() {
  OpenMadeByOthers();
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<uint64_t>(st.st_size);
}

AppendFailure AppendFile::Append(std::string_view text, size_t* written) {
  size_t put = 0;
  if (written) *written = 0;
  if (const AppendFailure made = Make(); made != AppendFailure::kNone) return made;
  if (text.empty()) return AppendFailure::kNone;
  const bool endsLine = text.back() == '\n';
  while (put < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + put, text.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const AppendFailure why = n == 0 ? AppendFailure::kShortWrite : FailureOf(errno);
      cutByAppend_ = cutByAppend_ || put > 0;
      if (written) *written = put;
      return why;
    }
    put += static_cast<size_t>(n);
    if (written) *written = put;
  }
  cutByAppend_ = !endsLine;
  return AppendFailure::kNone;
}

AppendFailure AppendFile::Sync() {
  if (fd_ < 0) return toMake_.empty() ? AppendFailure::kNotOpen : AppendFailure::kNone;
  if (::fdatasync(fd_) == 0) return AppendFailure::kNone;
  // Pipes, terminals and the like cannot be synchronised and need not be.
  if (errno == EINVAL || errno == EROFS) return AppendFailure::kNone;
  return FailureOf(errno);
}

void AppendFile::Close() {
  if (owned_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  owned_ = false;
  toMake_.clear();
  cutByAppend_ = false;
}

}  // namespace platform
