// ReadFile/WriteFile at OVERLAPPED offsets and SetEndOfFile for the size; the file is
// marked sparse where the file system allows it, and a plain file is as good otherwise.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file/sparse_file.h"
#include "platform/text/win32/wide.h"

namespace platform::file {
namespace {

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

constexpr size_t kChunk = size_t{1} << 30;

class Win32SparseFile final : public SparseFile {
 public:
  Win32SparseFile(HANDLE h, std::string path) : h_(h), path_(std::move(path)) {}
  ~Win32SparseFile() override { CloseHandle(h_); }

  bool WriteAt(uint64_t offset, const uint8_t* data, size_t length) override {
    while (length > 0) {
      OVERLAPPED at = At(offset);
      DWORD put = 0;
      const DWORD n = static_cast<DWORD>(std::min(length, kChunk));
      if (WriteFile(h_, data, n, &put, &at) == FALSE || put == 0) return false;
      data += put;
      length -= put;
      offset += put;
    }
    return true;
  }

  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) const override {
    while (length > 0) {
      OVERLAPPED at = At(offset);
      DWORD got = 0;
      const DWORD n = static_cast<DWORD>(std::min(length, kChunk));
      if (ReadFile(h_, out, n, &got, &at) == FALSE) {
        if (GetLastError() != ERROR_HANDLE_EOF) return false;
        got = 0;
      }
      if (got == 0) {  // past the end
        std::memset(out, 0, length);
        return true;
      }
      out += got;
      length -= got;
      offset += got;
    }
    return true;
  }

  bool Discard(uint64_t offset, uint64_t length) override {
    FILE_ZERO_DATA_INFORMATION range{};
    range.FileOffset.QuadPart = static_cast<LONGLONG>(offset);
    range.BeyondFinalZero.QuadPart = static_cast<LONGLONG>(offset + length);
    DWORD returned = 0;
    if (DeviceIoControl(h_, FSCTL_SET_ZERO_DATA, &range, sizeof range, nullptr, 0, &returned,
                        nullptr) != FALSE)
      return true;
    return WriteZeros(offset, length);
  }

  std::string Path() const override { return path_; }

 private:
  HANDLE h_;
  std::string path_;
};

}  // namespace

std::unique_ptr<SparseFile> CreateSparseFile(const std::string& path, uint64_t size,
                                             std::string* error) {
  const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = path + ": Windows error " + std::to_string(GetLastError());
    return nullptr;
  }
  DWORD returned = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (size > static_cast<uint64_t>(INT64_MAX) ||
      SetFilePointerEx(h, end, nullptr, FILE_BEGIN) == FALSE || SetEndOfFile(h) == FALSE) {
    *error = path + ": cannot be made " + std::to_string(size) + " bytes long: Windows error " +
             std::to_string(GetLastError());
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<Win32SparseFile>(h, path);
}

}  // namespace platform::file
