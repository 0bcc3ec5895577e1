// Judges a written virtual handset against the images it was given: every partition a
// full download writes, byte for byte at its sectors, and the CSC files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "demo/image_file.h"
#include "handset/virtual_handset.h"
#include "image/model_family.h"

namespace demo {

// The partitions a full download (every group checked) writes for handsets of `family`.
std::vector<std::string> PartitionsOfFullDownload(image::ModelFamily family);

// nullopt when the entry's data is on the handset at its sectors; otherwise what differs.
std::optional<std::string> CompareWithImage(const handset::VirtualHandset& h,
                                            const ImageFile& image,
                                            const image::PartitionEntry& entry);

struct HandsetVerdict {
  int partitionsChecked = 0;
  int partitionsMatching = 0;
  std::vector<std::string> mismatches;  // one line per partition that differs
  bool cscPackage = false;              // CSC.mbn holds the CSC image's package
  bool salesCode = false;               // SalesCode.cfg holds the chosen code
  bool ok() const {
    return partitionsChecked > 0 && partitionsMatching == partitionsChecked && cscPackage &&
           salesCode;
  }
};

HandsetVerdict CheckHandset(const handset::VirtualHandset& h, const ImageFile& os,
                            const ImageFile& csc, image::ModelFamily family,
                            const std::string& salesCode);

}  // namespace demo
