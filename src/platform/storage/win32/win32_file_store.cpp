// The file service on Windows behind the same class the station names on every system:
// ReadFile at offsets for records, temp file + FlushFileBuffers + MoveFileExW for state.
#include <windows.h>

#include <algorithm>

#include "platform/storage/system_file_store.h"
#include "platform/text/win32/wide.h"

namespace platform {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": Windows error " + std::to_string(GetLastError());
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (ok()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  bool Close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != FALSE;
  }

 private:
  HANDLE h_;
};

// Readers share with the writer that appends and with a replace that renames.
Handle OpenForReading(const std::string& path) {
  return Handle(CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool SystemFileStore::Identify(const std::string& path, FileIdentity* out, std::string* error) {
  const Handle h = OpenForReading(path);
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.ok() || GetFileInformationByHandle(h.get(), &info) == FALSE) {
    *error = SystemError("cannot read", path);
    return false;
  }
  out->device = info.dwVolumeSerialNumber;
  out->inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  out->size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  return true;
}

bool SystemFileStore::ReadAt(const std::string& path, uint64_t offset, size_t max,
                            std::string* out, std::string* error) {
  const Handle h = OpenForReading(path);
  if (!h.ok()) {
    *error = SystemError("cannot read", path);
    return false;
  }
  out->assign(max, '\0');
  size_t got = 0;
  while (got < max) {
    OVERLAPPED at{};
    const uint64_t where = offset + got;
    at.Offset = static_cast<DWORD>(where);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(max - got, 1u << 30));
    if (ReadFile(h.get(), out->data() + got, want, &n, &at) == FALSE) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      *error = SystemError("cannot read", path);
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  out->resize(got);
  return true;
}

bool SystemFileStore::ReplaceDurably(const std::string& path, const std::string& content,
                                    std::string* error) {
  const std::string temp = path + ".new";
  const std::wstring wideTemp = Wide(temp);
  Handle h(CreateFileW(wideTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) {
    *error = SystemError("cannot write", temp);
    return false;
  }
  size_t put = 0;
  while (put < content.size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(content.size() - put, 1u << 30));
    if (WriteFile(h.get(), content.data() + put, want, &n, nullptr) == FALSE || n == 0) break;
    put += n;
  }
  const bool written = put == content.size() && FlushFileBuffers(h.get()) != FALSE;
  // WRITE_THROUGH: the call returns once the rename itself is on the disk.
  if (!h.Close() || !written ||
      MoveFileExW(wideTemp.c_str(), Wide(path).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
    *error = SystemError("cannot write", path);
    DeleteFileW(wideTemp.c_str());
    return false;
  }
  return true;
}

}  // namespace platform
