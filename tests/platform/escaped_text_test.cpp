// The one escaping of foreign bytes: what stays, what becomes \xNN, and the cut.
#include <gtest/gtest.h>

#include <string>

#include "platform/text/escaped_text.h"

namespace {

TEST(EscapedText, KeepsPrintableAsciiEscapesTheRestAndMarksACut) {
  struct Case {
    std::string text;
    size_t limit;
    std::string shown;
  };
  const Case cases[] = {
      {"QMR-K220 \"SIGN\" ~", 64, "QMR-K220 \"SIGN\" ~"},
      {std::string("\x1b[31m\r\n\t\0\x7f", 10), 64, "\\x1B[31m\\x0D\\x0A\\x09\\x00\\x7F"},
      {"\\x41", 64, "\\x5Cx41"},  // a backslash in the text never reads as an escape
      {"\x80\xff\xc3\xa9", 64, "\\x80\\xFF\\xC3\\xA9"},
      {"ABCDEF", 6, "ABCDEF"},
      {"ABCDEFG", 6, "ABCDEF\\..."},
      {"\x01\x02\x03", 2, "\\x01\\x02\\..."},
      {"", 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::EscapedText(c.text, c.limit), c.shown) << c.shown;
  EXPECT_EQ(platform::EscapedText(std::string(300, 'a')).size(), platform::kEscapedTextLimit + 4);
  // The log's own lines keep a Windows path readable, and still no control byte.
  EXPECT_EQ(platform::TerminalLogText("at : C:\\img\\os.kx4\x1b[2J", 64),
            "at : C:\\img\\os.kx4\\x1B[2J");
}

}  // namespace
