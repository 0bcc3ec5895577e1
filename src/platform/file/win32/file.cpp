// Windows: the path and the mode go to _wfopen in UTF-16; the narrow fopen would read
// the path in the ANSI code page and miss every character outside it.
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "platform/file/file.h"

namespace platform::file {

File Open(const std::string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return File(_wfopen(NativePath(path).c_str(), wideMode.c_str()));
}

bool Seek(std::FILE* f, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) &&
         _fseeki64(f, static_cast<int64_t>(offset), SEEK_SET) == 0;
}

std::optional<uint64_t> Length(std::FILE* f) {
  const int64_t here = _ftelli64(f);
  if (here < 0 || _fseeki64(f, 0, SEEK_END) != 0) return std::nullopt;
  const int64_t end = _ftelli64(f);
  if (_fseeki64(f, here, SEEK_SET) != 0 || end < 0) return std::nullopt;
  return static_cast<uint64_t>(end);
}

std::optional<FileStamp> Stamp(std::FILE* f) {
  const intptr_t handle = _get_osfhandle(_fileno(f));
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info))
    return std::nullopt;
  // The write time in 100 ns steps, as the file system keeps it.
  return FileStamp{(uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                   static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                        info.ftLastWriteTime.dwLowDateTime)};
}

}  // namespace platform::file
