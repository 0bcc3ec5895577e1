// UTF-16 measured cuts on UTF-8 text and dialog-unit conversion.
#include <gtest/gtest.h>

#include "platform/ui/dialog_units.h"
#include "platform/ui/utf16_cut.h"

namespace {

TEST(Utf16Cut, CutsOnCharacterBoundaries) {
  EXPECT_EQ(ui::CutToUtf16Units("abcdef", 4), "abcd");
  EXPECT_EQ(ui::CutToUtf16Units("abc", 10), "abc");
  // "é" is 2 bytes and one unit; "€" 3 bytes, one unit; "😀" 4 bytes, two units.
  EXPECT_EQ(ui::Utf16Length("aé€😀"), 5u);
  EXPECT_EQ(ui::CutToUtf16Units("aé€😀", 3), "aé€");
  EXPECT_EQ(ui::CutToUtf16Units("aé€😀", 4), "aé€");  // never half a surrogate pair
  EXPECT_EQ(ui::CutToUtf16Units("aé€😀", 5), "aé€😀");
}

TEST(Utf16Cut, MalformedBytesCountOneUnitEach) {
  const std::string broken =
      "a\xC3"
      "b\xE2\x82";  // a truncated two- and three-byte sequence
  EXPECT_EQ(ui::Utf16Length(broken), 5u);
  EXPECT_EQ(ui::CutToUtf16Units(broken, 2), "a\xC3");
}

TEST(DialogUnits, ConvertsEachFieldWithRounding) {
  EXPECT_EQ(ui::MulDivRound(247, 6, 4), 371);  // 370.5 rounds up
  EXPECT_EQ(ui::MulDivRound(-5, 3, 2), -8);    // half away from zero
  EXPECT_EQ(ui::MulDivRound(1, 1, 0), -1);
  ui::Rect start = ui::DialogToPixels(247, 136, 52, 18, ui::kShellDlgBaseUnits);
  EXPECT_EQ(start, (ui::Rect{371, 221, 371 + 78, 221 + 29}));
  EXPECT_EQ(ui::AverageCharWidth(286), 6);  // (286 / 26 + 1) / 2
}

}  // namespace
