// Whether an OS image can be written without harm: every partition a download writes
// lies inside the file, has a usable discrete map, and keeps to its own sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace image {

struct LayoutProblem {
  std::string partition;  // the entry's name, "CSC package", or empty for the whole file
  std::string what;       // what is wrong, in the operator's words
  // "Partition <name>: <what>" (just <what> for the whole file), as the refusal's
  // message box shows it.
  std::string Text() const;
};

// The whole file's problem when it cannot be read at all.
inline constexpr const char* TEXT_IMAGE_FILE_UNREADABLE = "The image file cannot be read";

// Reads `count` bytes at `offset` of the image file; false when they are not all there.
using ImageReader = std::function<bool(uint64_t offset, uint8_t* out, size_t count)>;

// Judges the partitions a download writes (the first entry of each name it looks up,
// and the entry the Recover step takes) in a header region of `regionSize` bytes from a
// file of `fileSize` bytes. A partition's sectorCount is not judged: the data decides
// which sectors are written. Empty when nothing is wrong.
[[nodiscard]] std::vector<LayoutProblem> CheckImageLayout(const uint8_t* region, size_t regionSize,
                                                          uint64_t fileSize,
                                                          const ImageReader& read);

// The CSC package recorded in a CSC image's header must lie inside its file.
[[nodiscard]] std::vector<LayoutProblem> CheckCscPackageBounds(const uint8_t* region,
                                                               size_t regionSize,
                                                               uint64_t fileSize);

// Both checks on a file: the layout for an OS image, the package bound for a CSC image
// (by its magic). A file that cannot be read (an empty path, a file gone since its
// digest) gives one whole-file problem.
[[nodiscard]] std::vector<LayoutProblem> CheckImageFile(const std::string& path);

}  // namespace image
