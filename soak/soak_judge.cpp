// The partitions are judged by the CLI's own comparison, which also asks whether each
// sector was written: a never-written sector reads as zeros, as many image sectors are.
#include "soak_judge.h"

#include <sstream>

#include "cli/handset_check.h"

namespace soak {

std::string Lacks(const handset::VirtualHandset& h, const demo::ImageFile& os,
                  const CleanHandset& clean, const std::set<std::string>& mayLack, bool wholeEmmc) {
  std::ostringstream why;
  auto files = h.Files();
  for (const char* f : {kCscMbn, kSalesCodeCfg}) {
    const bool passable = mayLack.count(f == std::string(kCscMbn) ? "CSC.mbn" : "SalesCode.cfg");
    auto want = clean.files.find(f);
    if (!passable && (want == clean.files.end() || files[f] != want->second))
      why << f << " differs; ";
  }
  if (!wholeEmmc) {
    if (h.emmc().Digest() != clean.digest || h.emmc().BytesWritten() != clean.bytes)
      why << "eMMC digest differs; ";
    return why.str();
  }
  // The soak's images are of the K220 family.
  for (const std::string& name : cli::PartitionsOfFullDownload(image::ModelFamily::FamilyK220)) {
    if (mayLack.count(name)) continue;
    const image::PartitionEntry* entry = os.Entry(name);
    if (!entry) {
      why << name << " is not in the image; ";
    } else if (auto error = cli::CompareWithImage(h.emmc(), os, *entry)) {
      why << name << ": " << *error << "; ";
    }
  }
  return why.str();
}

}  // namespace soak
