// FILE_APPEND_DATA alone puts every write at the end, so a record is never laid over
// another; the handle lives in a C runtime descriptor so the header's int stays as it is.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>

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

constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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
  const std::wstring wide = Wide(path);
  HANDLE h = CreateFileW(wide.c_str(), FILE_APPEND_DATA, kShare, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = CreateFileW(wide.c_str(), FILE_APPEND_DATA, kShare, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    created_ = h != INVALID_HANDLE_VALUE;
  }
  if (h == INVALID_HANDLE_VALUE) {
    *error = SystemError(path);
    created_ = false;
    return false;
  }
  LARGE_INTEGER size{};
  if (!created_ && GetFileSizeEx(h, &size) != FALSE && size.QuadPart > 0) {
    // Opened for appending only: the last byte is read through a second handle.
    const HANDLE reader = CreateFileW(wide.c_str(), GENERIC_READ, kShare, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    char last = '\n';
    if (reader != INVALID_HANDLE_VALUE) {
      OVERLAPPED at{};
      const uint64_t offset = static_cast<uint64_t>(size.QuadPart) - 1;
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      if (ReadFile(reader, &last, 1, &got, &at) == FALSE || got != 1) last = '\n';
      CloseHandle(reader);
    }
    endsMidLine_ = last != '\n';
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_APPEND);
  if (fd_ < 0) {
    CloseHandle(h);
    *error = path + ": no descriptor left";
    created_ = endsMidLine_ = false;
    return false;
  }
  owned_ = true;
  return true;
}

bool AppendFile::Append(std::string_view text) {
  if (fd_ < 0) return false;
  const HANDLE h = HandleOf(fd_);
  while (!text.empty()) {
    DWORD put = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1u << 30));
    if (WriteFile(h, text.data(), chunk, &put, nullptr) == FALSE || put == 0) return false;
    text.remove_prefix(put);
  }
  return true;
}

bool AppendFile::Sync() {
  if (fd_ < 0) return false;
  const HANDLE h = HandleOf(fd_);
  if (FlushFileBuffers(h) != FALSE) return true;
  // Pipes and consoles keep nothing to make durable.
  return GetFileType(h) != FILE_TYPE_DISK;
}

void AppendFile::Close() {
  if (owned_ && fd_ >= 0) _close(fd_);
  fd_ = -1;
  owned_ = false;
  created_ = false;
  endsMidLine_ = false;
}

}  // namespace platform
