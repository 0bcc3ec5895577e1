// Each term is a ratio of binomial coefficients far beyond a double's range for a busy
// station, so terms are kept as logarithms and only their ratio to the largest is summed.
#include "results/statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace results {

namespace {

double LogChoose(uint64_t n, uint64_t k) {
  return std::lgamma(static_cast<double>(n) + 1) - std::lgamma(static_cast<double>(k) + 1) -
         std::lgamma(static_cast<double>(n - k) + 1);
}

}  // namespace

double FisherUpperTail(uint64_t seatFailed, uint64_t seatHandsets, uint64_t restFailed,
                       uint64_t restHandsets) {
  if (seatFailed == 0 || seatFailed > seatHandsets || restFailed > restHandsets) return 1;
  const uint64_t total = seatHandsets + restHandsets;
  const uint64_t failed = seatFailed + restFailed;
  const double all = LogChoose(total, seatHandsets);
  std::vector<double> terms;
  for (uint64_t x = seatFailed; x <= std::min(seatHandsets, failed); ++x) {
    // Fewer passes left than the seat would need: the seat's table cannot exist.
    if (seatHandsets - x > total - failed) continue;
    terms.push_back(LogChoose(failed, x) + LogChoose(total - failed, seatHandsets - x) - all);
  }
  if (terms.empty()) return 0;
  const double top = *std::max_element(terms.begin(), terms.end());
  double sum = 0;
  for (double t : terms) sum += std::exp(t - top);
  return std::min(1.0, std::exp(top + std::log(sum)));
}

}  // namespace results
