// Judges a written virtual handset against the images it was given: every partition a
// full download writes, at its sectors on whichever storage the handset keeps, nothing
// written where the image has no data, nothing but the image's bytes in the data of a
// partition the download leaves alone, and the CSC files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "demo/image_file.h"
#include "handset/virtual_handset.h"
#include "image/model_family.h"

namespace cli {

// The partitions a full download (every group checked) writes for handsets of `family`.
std::vector<std::string> PartitionsOfFullDownload(image::ModelFamily family);

// nullopt when the entry's data is on the eMMC at its sectors; otherwise what differs.
std::optional<std::string> CompareWithImage(const handset::Emmc& emmc,
                                            const demo::ImageFile& image,
                                            const image::PartitionEntry& entry);

// What a successful run of a mode leaves on a handset: the partitions written, whether
// the CSC package went to CSC.mbn, and the sales code in SalesCode.cfg.
struct DownloadExpectation {
  std::vector<std::string> partitions;
  bool cscPackage = true;
  std::string salesCode;
  bool salesCodeFile = true;  // false: SalesCode.cfg is not judged (a run that may skip it)
};
// Recover rewrites only Data; only mode ALL sends the CSC package.
DownloadExpectation ExpectationOf(uint32_t mode, image::ModelFamily family,
                                  const std::string& salesCode);

struct HandsetVerdict {
  int partitionsChecked = 0;
  int partitionsMatching = 0;
  // One line per partition that differs, per write where the image has no data, and per
  // write of other bytes into the data of a partition the download does not write.
  std::vector<std::string> mismatches;
  bool cscPackageExpected = true;
  bool cscPackage = false;  // CSC.mbn holds the CSC image's package
  std::string salesCodeExpected;
  bool salesCodeFileExpected = true;
  bool salesCode = false;  // SalesCode.cfg holds the chosen code

  // Why the handset does not hold what its run promised, one line each; empty when it
  // does. A channel that ended done stays done only when this is empty.
  std::vector<std::string> Problems() const;
  bool ok() const { return Problems().empty(); }
};

HandsetVerdict CheckHandset(const handset::VirtualHandset& h, const demo::ImageFile& os,
                            const demo::ImageFile& csc, const DownloadExpectation& expected);

}  // namespace cli
