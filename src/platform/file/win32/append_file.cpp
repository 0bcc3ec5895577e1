// FILE_APPEND_DATA without FILE_WRITE_DATA puts every write at the end, so a record is
// never laid over another; FILE_READ_DATA lets the last byte be read back whoever wrote
// it. The handle lives in a C runtime descriptor so the header's int stays as it is.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <filesystem>

#include "platform/file/append_file.h"
#include "platform/text/win32/wide.h"

namespace platform {
namespace {

std::string SystemError(const std::string& path) {
  return path + ": Windows error " + std::to_string(GetLastError());
}

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

AppendFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return AppendFailure::kNoSpace;
    case kDiskQuotaExceeded:
      return AppendFailure::kQuota;
    case ERROR_FILE_TOO_LARGE:
      return AppendFailure::kTooLarge;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return AppendFailure::kIo;
    case ERROR_WRITE_PROTECT:
      return AppendFailure::kReadOnly;
    default:
      return AppendFailure::kOther;
  }
}

constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE;

// The folder takes a new file: the probe is deleted by its handle's close, never by name.
bool FolderTakesFiles(const std::string& path, std::string* error) {
  std::filesystem::path folder = std::filesystem::path(Wide(path)).parent_path();
  if (folder.empty()) folder = L".";
  const std::wstring probe =
      (folder / (L"ostrevane-probe-" + std::to_wstring(GetCurrentProcessId()) + L".tmp"))
          .wstring();
  const HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = SystemError(path);
    return false;
  }
  CloseHandle(h);
  return true;
}

}  // namespace

AppendFile::~AppendFile() {
  Close();
}

bool AppendFile::Open(const std::string& path, std::string* error) {
  Close();
  if (path == "-") {
    fd_ = 1;
    return true;
  }
  const HANDLE h = CreateFileW(Wide(path).c_str(), kAccess, kShare, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD why = GetLastError();
    if (why != ERROR_FILE_NOT_FOUND) {
      *error = SystemError(path);
      return false;
    }
    if (!FolderTakesFiles(path, error)) return false;
    toMake_ = path;
    return true;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_APPEND);
  if (fd_ < 0) {
    CloseHandle(h);
    *error = path + ": no descriptor left";
    return false;
  }
  owned_ = true;
  return true;
}

AppendFailure AppendFile::Make() {
  if (fd_ >= 0) return AppendFailure::kNone;
  if (toMake_.empty()) return AppendFailure::kNotOpen;
  // OPEN_ALWAYS: another process may have made it meanwhile, and appending is shared.
  const HANDLE h = CreateFileW(Wide(toMake_).c_str(), kAccess, kShare, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return FailureOf(GetLastError());
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_APPEND);
  if (fd_ < 0) {
    CloseHandle(h);
    return AppendFailure::kOther;
  }
  owned_ = true;
  toMake_.clear();
  return AppendFailure::kNone;
}

void AppendFile::OpenMadeByOthers() {
  if (fd_ >= 0 || toMake_.empty()) return;
  const HANDLE h = CreateFileW(Wide(toMake_).c_str(), kAccess, kShare, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_APPEND);
  if (fd_ < 0) {
    CloseHandle(h);
    return;
  }
  owned_ = true;
  toMake_.clear();
}

bool AppendFile::EndsMidLine() {
  OpenMadeByOthers();
  if (fd_ < 0) return false;
  const HANDLE h = HandleOf(fd_);
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK || GetFileSizeEx(h, &size) == FALSE) return cutByAppend_;
  if (size.QuadPart == 0) return false;
  OVERLAPPED at{};
  const uint64_t offset = static_cast<uint64_t>(size.QuadPart) - 1;
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  char last = '\n';
  DWORD got = 0;
  if (ReadFile(h, &last, 1, &got, &at) == FALSE || got != 1) return cutByAppend_;
  return last != '\n';
}

uint64_t AppendFile::Size() {
  OpenMadeByOthers();
  if (fd_ < 0) return 0;
  const HANDLE h = HandleOf(fd_);
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK || GetFileSizeEx(h, &size) == FALSE) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

AppendFailure AppendFile::Append(std::string_view text, size_t* written) {
  size_t done = 0;
  if (written) *written = 0;
  if (const AppendFailure made = Make(); made != AppendFailure::kNone) return made;
  if (text.empty()) return AppendFailure::kNone;
  const bool endsLine = text.back() == '\n';
  const HANDLE h = HandleOf(fd_);
  while (done < text.size()) {
    DWORD put = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 30));
    const bool taken = WriteFile(h, text.data() + done, chunk, &put, nullptr) != FALSE;
    done += put;
    if (written) *written = done;
    if (!taken || put == 0) {
      const AppendFailure why = taken ? AppendFailure::kShortWrite : FailureOf(GetLastError());
      cutByAppend_ = cutByAppend_ || done > 0;
      return why;
    }
  }
  cutByAppend_ = !endsLine;
  return AppendFailure::kNone;
}

AppendFailure AppendFile::Sync() {
  if (fd_ < 0) return toMake_.empty() ? AppendFailure::kNotOpen : AppendFailure::kNone;
  const HANDLE h = HandleOf(fd_);
  if (FlushFileBuffers(h) != FALSE) return AppendFailure::kNone;
  // Pipes and consoles keep nothing to make durable.
  if (GetFileType(h) != FILE_TYPE_DISK) return AppendFailure::kNone;
  return FailureOf(GetLastError());
}

void AppendFile::Close() {
  if (owned_ && fd_ >= 0) _close(fd_);
  fd_ = -1;
  owned_ = false;
  toMake_.clear();
  cutByAppend_ = false;
}

}  // namespace platform
