// The paths of the last accepted OS and CSC images, one buffer of 256 UTF-16 units each
// for the whole process: the start folder of the next file dialog of their kind and
// the data of the registry value written at each accepted open.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace console {

inline constexpr size_t kRememberedPathUnits = 256;
using RememberedPath = std::array<char16_t, kRememberedPathUnits>;

// Zero at process start. Hold RememberedPathMutex while reading or writing them.
extern std::mutex RememberedPathMutex;
extern RememberedPath RememberedOsPath;
extern RememberedPath RememberedCscPath;

// Copies the path and its terminator over the buffer's start (the tail of a longer
// earlier path stays behind it). A path of more than 255 units does not fit: false,
// and the buffer keeps the previous path.
bool RememberPath(RememberedPath& buffer, const std::string& path);
// The remembered text cut after its last path separator ("" when it has none).
std::string StartFolderOf(const RememberedPath& buffer);
// The whole buffer as the registry value's 512 bytes, little-endian units.
std::vector<uint8_t> RememberedPathBytes(const RememberedPath& buffer);

}  // namespace console
