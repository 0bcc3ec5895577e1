// The image state the main window holds once images are accepted; the download engine
// reads it during a run (it does not change while a run lasts).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/model_family.h"
#include "image/smd_format.h"
#include "image/stretch_sum.h"

namespace image {

struct ImageState {
  std::string OsImagePath;
  std::string CscImagePath;
  // The accepted OS image's header region with the CSC fields merged in; empty = null.
  std::vector<uint8_t> LoadedHeader;
  int OsImageLoaded = 0;
  int CscImageLoaded = 0;
  ModelFamily CurrentModelFamily = ModelFamily::FamilyUnknown;
  std::vector<std::array<char, 4>> SalesCodes;  // each up to 3 characters and a NUL
  int SalesCodeCount = 0;
  // What each accepted image's confirmation saw. A channel refuses a file that no longer
  // matches it; an image without one (loaded straight, by tools and test rigs) is sent
  // unchecked.
  std::optional<ConfirmedFile> OsConfirmed;
  std::optional<ConfirmedFile> CscConfirmed;
};

}  // namespace image
