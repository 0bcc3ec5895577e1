// The parts a fault may let the sequence pass over come out of the CLI's own expectation,
// so the soak asks no question of a handset that --verify would not ask.
#include "soak_judge.h"

#include <algorithm>

namespace soak {

cli::DownloadExpectation ExpectationOf(uint32_t mode, image::ModelFamily family,
                                       const std::string& salesCode,
                                       const std::set<std::string>& mayLack) {
  cli::DownloadExpectation e = cli::ExpectationOf(mode, family, salesCode);
  std::erase_if(e.partitions, [&](const std::string& name) { return mayLack.count(name) > 0; });
  if (mayLack.count("CSC.mbn")) e.cscPackage = false;
  if (mayLack.count("SalesCode.cfg")) e.salesCodeFile = false;
  return e;
}

}  // namespace soak
