// The exact test that tells a seat failing by chance from a seat failing more than its
// neighbours: Fisher's one-sided test on failures of one seat against the rest.
#pragma once

#include <cstdint>

namespace results {

// The chance that a seat of `seatHandsets` shows `seatFailed` or more failures when the
// seat and the rest (`restFailed` of `restHandsets`) fail alike: the upper tail of the
// hypergeometric distribution, summed exactly in log space so that thousands of handsets
// neither overflow nor lose the small tail. 1 when there is nothing to tell apart.
// Failures may not exceed handsets.
double FisherUpperTail(uint64_t seatFailed, uint64_t seatHandsets, uint64_t restFailed,
                       uint64_t restHandsets);

}  // namespace results
