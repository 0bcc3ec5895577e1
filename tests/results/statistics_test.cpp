// The exact test against tails worked out with whole-number binomial coefficients.
#include <gtest/gtest.h>

#include "results/statistics.h"

namespace {

TEST(FisherUpperTail, MatchesExactSums) {
  struct Case {
    uint64_t seatFailed, seatHandsets, restFailed, restHandsets;
    double p;
  };
  // sum(comb(F, x) * comb(T - F, n - x) for x >= k) / comb(T, n), in python3.
  const Case cases[] = {
      {3, 10, 2, 10, 0.5},
      {5, 30, 5, 30, 0.6346788379107509},
      {10, 20, 5, 100, 3.0840535977862663e-06},
      {12, 25, 25, 250, 9.325933907302967e-06},
      {20, 40, 10, 200, 2.2464674899686692e-11},
      {20, 20, 0, 100, 3.394176516652835e-23},
      {600, 1000, 5000, 10000, 8.798575305458662e-10},
      {1, 1, 0, 1, 0.5},
      {0, 20, 5, 100, 1.0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(results::FisherUpperTail(c.seatFailed, c.seatHandsets, c.restFailed, c.restHandsets) / c.p,
                1.0, 1e-9)
        << c.seatFailed << "/" << c.seatHandsets << " against " << c.restFailed << "/" << c.restHandsets;
}

}  // namespace
