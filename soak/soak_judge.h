// The soak's verdict on a channel: the CLI's judge of the handset and the records' rule
// (a channel the sequence ended done stays done only when its handset holds what the run
// promised), given what the handset's fault may let the sequence pass over.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "cli/handset_check.h"
#include "image/model_family.h"

namespace soak {

// What a run of `mode` promises a handset whose fault may let the sequence pass over the
// parts `mayLack` names (partitions, "CSC.mbn", "SalesCode.cfg"): the CLI's expectation
// without them. A part passed over is still judged for stray bytes in its data.
cli::DownloadExpectation ExpectationOf(uint32_t mode, image::ModelFamily family,
                                       const std::string& salesCode,
                                       const std::set<std::string>& mayLack);

}  // namespace soak
