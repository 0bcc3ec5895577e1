// The file service: the station's own files (images, results, captures) named by UTF-8
// paths. Windows names files in UTF-16, so a non-ASCII folder opens only through here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace platform::file {

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` (UTF-8) with one of fopen's modes ("rb", "wb", "ab"); null when it cannot
// be opened, with errno saying why.
[[nodiscard]] File Open(const std::string& path, const char* mode);

// Moves to byte `offset` from the start (past 2 GiB too: fseek takes a long, which is
// 32 bits on Windows); false when the file cannot be placed there.
[[nodiscard]] bool Seek(std::FILE* f, uint64_t offset);
// The file's length in bytes, leaving the position where it was; nullopt when unknown.
[[nodiscard]] std::optional<uint64_t> Length(std::FILE* f);

// What an open file looked like: its length and its last modification, in the system's
// own units (compared for equality only, never read as a date).
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};
// The stamp of the file behind `f`; nullopt when the system cannot say.
[[nodiscard]] std::optional<FileStamp> Stamp(std::FILE* f);

// The same UTF-8 path as the standard library's path, for streams and std::filesystem.
inline std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// A standard library path back as UTF-8.
inline std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace platform::file
