// The soak's judge of a handset whose channel shows done: it holds what a clean run left,
// apart from the parts a fault let the sequence pass over.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "demo/image_file.h"
#include "handset/virtual_handset.h"

namespace soak {

inline constexpr const char* kCscMbn = "\\Dravnik\\CSC\\CSC.mbn";
inline constexpr const char* kSalesCodeCfg = "\\Dravnik\\CSC\\SalesCode.cfg";

// What a clean run leaves on a handset: its eMMC's digest and byte count, its files.
struct CleanHandset {
  uint64_t digest = 0;
  uint64_t bytes = 0;
  std::map<std::string, std::vector<uint8_t>> files;
};

// Empty when the handset holds what a done channel promises; otherwise what it lacks.
// `mayLack` names partitions, "CSC.mbn" or "SalesCode.cfg" that need not be there. A
// handset that keeps its whole eMMC (`wholeEmmc`) is judged partition by partition
// against the OS image (each sector written and equal); another by its digest.
std::string Lacks(const handset::VirtualHandset& h, const demo::ImageFile& os,
                  const CleanHandset& clean, const std::set<std::string>& mayLack, bool wholeEmmc);

}  // namespace soak
