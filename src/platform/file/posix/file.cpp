// POSIX file names are bytes: the UTF-8 path is the name. Offsets are off_t, 64 bits.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>

#include "platform/file/file.h"

namespace platform::file {

File Open(const std::string& path, const char* mode) {
  return File(std::fopen(path.c_str(), mode));
}

bool Seek(std::FILE* f, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) &&
         fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::optional<uint64_t> Length(std::FILE* f) {
  const off_t here = ftello(f);
  if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return std::nullopt;
  const off_t end = ftello(f);
  if (fseeko(f, here, SEEK_SET) != 0 || end < 0) return std::nullopt;
  return static_cast<uint64_t>(end);
}

std::optional<FileStamp> Stamp(std::FILE* f) {
  struct stat st{};
  if (fstat(fileno(f), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_size),
                   static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

}  // namespace platform::file
