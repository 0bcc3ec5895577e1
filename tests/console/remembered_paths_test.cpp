// The remembered path's buffer at its edge: 255 units and the terminator fill it, one
// more unit does not fit, and nothing is ever written past its end.
#include "console/remembered_paths.h"

#include <gtest/gtest.h>

namespace {

TEST(RememberedPath, HoldsAtMost255UnitsAndItsTerminator) {
  const std::pair<size_t, bool> cases[] = {{254, true}, {255, true}, {256, false}, {257, false}};
  for (const auto& [units, fits] : cases) {
    SCOPED_TRACE(units);
    // The unit right after the buffer shows a write past its end.
    struct {
      console::RememberedPath buffer;
      char16_t after;
    } held{};
    static_assert(sizeof held == sizeof(char16_t) * (console::kRememberedPathUnits + 1));
    held.buffer.fill(u'p');
    held.after = u'G';
    EXPECT_EQ(console::RememberPath(held.buffer, std::string(units, 'a')), fits);
    EXPECT_EQ(held.after, u'G');
    console::RememberedPath expected;
    expected.fill(u'p');
    if (fits) {
      std::fill_n(expected.begin(), units, u'a');
      expected[units] = 0;
    }
    EXPECT_EQ(held.buffer, expected);  // a path that does not fit leaves the old one
  }
}

}  // namespace
