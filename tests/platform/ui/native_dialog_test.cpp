// The Win32 backend's portable parts: the in-memory dialog template's bytes, the open
// dialog's filter form and the PNG writer.
#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/ui/win32/dialog_template_bytes.h"
#include "platform/ui/win32/file_filter.h"
#include "platform/ui/win32/native_styles.h"
#include "platform/ui/win32/png_writer.h"

namespace {

using namespace ui::native;

struct Reader {
  const std::vector<uint8_t>& b;
  size_t at = 0;
  uint16_t Word() {
    uint16_t v = static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
    at += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t low = Word();
    return low | static_cast<uint32_t>(Word()) << 16;
  }
  std::u16string Text() {
    std::u16string s;
    for (uint16_t c = Word(); c != 0; c = Word()) s += static_cast<char16_t>(c);
    return s;
  }
};

ui::DialogTemplate SampleDialog() {
  ui::DialogTemplate d;
  d.title = "Confirm \xC3\xA9";  // a non-ASCII title goes in as one UTF-16 unit
  d.cx = 230;
  d.cy = 66;
  d.fontFace = "MS Shell Dlg";
  d.systemMenu = false;
  d.acceptFiles = true;
  d.controls.push_back(ui::MakeControl(1, ui::ControlKind::PushButton, "Close", 85, 45, 60, 14,
                                       ui::kStyleTabStop));
  d.controls.push_back(ui::MakeControl(1050, ui::ControlKind::ProgressBar, "", 14, 17, 202, 15,
                                       ui::kStyleBorder));
  d.controls.push_back(ui::MakeControl(1001, ui::ControlKind::IconStatic, "ignored", 9, 153, 20,
                                       20, ui::kStyleNotify));
  return d;
}

TEST(DialogTemplateBytes, HeaderFontAndEveryItemOnItsBoundary) {
  const ui::DialogTemplate d = SampleDialog();
  const std::vector<uint8_t> bytes = BuildDialogTemplate(d, true);
  Reader r{bytes};
  EXPECT_EQ(r.Word(), 1);
  EXPECT_EQ(r.Word(), 0xFFFF);
  EXPECT_EQ(r.Dword(), 0u);
  EXPECT_EQ(r.Dword(), kWsExAppWindow | kWsExAcceptFiles);
  EXPECT_EQ(r.Dword(), kWsPopup | kWsCaption | kDsModalFrame | kDsShellFont);  // no system menu
  EXPECT_EQ(r.Word(), 3);
  EXPECT_EQ(r.Dword(), 0u);  // x, y
  EXPECT_EQ(r.Word(), 230);
  EXPECT_EQ(r.Word(), 66);
  EXPECT_EQ(r.Dword(), 0u);  // no menu, the dialog class
  EXPECT_EQ(r.Text(), u"Confirm \u00e9");
  EXPECT_EQ(r.Word(), 8);
  EXPECT_EQ(r.Word(), kFwNormal);
  EXPECT_EQ(r.Word(), kDefaultCharset << 8);  // not italic, then the character set
  EXPECT_EQ(r.Text(), u"MS Shell Dlg");
  const std::u16string captions[] = {u"Close", u"", u""};
  for (size_t i = 0; i < d.controls.size(); ++i) {
    const ui::ControlTemplate& c = d.controls[i];
    r.at = (r.at + 3) & ~size_t{3};
    EXPECT_EQ(r.Dword(), 0u);
    EXPECT_EQ(r.Dword(), 0u);
    EXPECT_EQ(r.Dword(), ControlStyle(c).style);
    EXPECT_EQ(r.Word(), c.x);
    EXPECT_EQ(r.Word(), c.y);
    EXPECT_EQ(r.Word(), c.cx);
    EXPECT_EQ(r.Word(), c.cy);
    EXPECT_EQ(r.Dword(), static_cast<uint32_t>(c.id));
    EXPECT_EQ(r.Word(), 0xFFFF);
    EXPECT_EQ(r.Word(), static_cast<uint16_t>(ControlStyle(c).windowClass));
    EXPECT_EQ(r.Text(), captions[i]);
    EXPECT_EQ(r.Word(), 0);
  }
  EXPECT_EQ(r.at, bytes.size());
}

TEST(DialogTemplateBytes, KindsAndStyleBitsBecomeClassAndStyle) {
  const uint32_t child = kWsChild | kWsVisible;
  struct Row {
    ui::ControlKind kind;
    uint32_t style;
    ControlClass windowClass;
    uint32_t native;
  } rows[] = {
      {ui::ControlKind::CheckBox, 0, ControlClass::Button, child | kBsAutoCheckBox},
      {ui::ControlKind::RadioButton, ui::kStyleGroup | ui::kStyleHidden | ui::kStyleDisabled,
       ControlClass::Button, kWsChild | kWsDisabled | kWsGroup | kBsAutoRadioButton},
      {ui::ControlKind::GroupBox, 0, ControlClass::Button, child | kBsGroupBox},
      {ui::ControlKind::Edit,
       ui::kStyleMultiLine | ui::kStyleReadOnly | ui::kStyleVScroll | ui::kStyleAutoVScroll |
           ui::kStyleBorder,
       ControlClass::Edit,
       child | kEsMultiLine | kEsReadOnly | kWsVScroll | kEsAutoVScroll | kWsBorder},
      {ui::ControlKind::Edit, ui::kStyleCentered | ui::kStyleAutoHScroll | ui::kStyleTabStop,
       ControlClass::Edit, child | kEsCenter | kEsAutoHScroll | kWsTabStop},
      {ui::ControlKind::ComboBox, ui::kStyleSorted | ui::kStyleVScroll, ControlClass::ComboBox,
       child | kCbsDropDownList | kCbsSort | kWsVScroll},
      {ui::ControlKind::ProgressBar, ui::kStyleBorder, ControlClass::Static,
       child | kSsOwnerDraw | kWsBorder},
      {ui::ControlKind::BitmapStatic, ui::kStyleCenterImage, ControlClass::Static,
       child | kSsBitmap | kSsCenterImage},
      {ui::ControlKind::TextStatic, ui::kStyleNotify, ControlClass::Static, child | kSsNotify},
  };
  for (const Row& row : rows) {
    ui::ControlTemplate c = ui::MakeControl(7, row.kind, "", 0, 0, 1, 1, row.style);
    NativeControlStyle s = ControlStyle(c);
    EXPECT_EQ(s.windowClass, row.windowClass) << static_cast<int>(row.kind);
    EXPECT_EQ(s.style, row.native) << static_cast<int>(row.kind);
  }
}

TEST(FileFilter, PairsBecomeTheDoubleNulForm) {
  using namespace std::string_literals;
  struct Row {
    std::string filter;
    std::u16string expected;
  } rows[] = {
      {"Images (*.kx4)|*.kx4|", u"Images (*.kx4)\0*.kx4\0\0"s},
      {"A|*.a|B|*.b", u"A\0*.a\0B\0*.b\0\0"s},  // no trailing '|'
      {"|*.x|C|*.c|", u"C\0*.c\0\0"s},          // a pair without description is left out
      {"Only a description", u""s},
      {"", u""s},
  };
  for (const Row& row : rows) EXPECT_EQ(ToDoubleNulFilter(row.filter), row.expected) << row.filter;
}

TEST(PngWriter, ChunksCarryTheRgbaRowsOfThePicture) {
  ui::Bitmap picture{2, 1, {0xFF102030u, 0x80405060u}};
  const std::vector<uint8_t> png = EncodePng(picture);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
            (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
  // IHDR: length 13, 2 x 1, 8 bits RGBA, then its CRC.
  const std::vector<uint8_t> ihdr(png.begin() + 12, png.begin() + 29);
  EXPECT_EQ(ihdr, (std::vector<uint8_t>{'I', 'H', 'D', 'R', 0, 0, 0, 2, 0, 0, 0, 1, 8, 6, 0, 0, 0}));
  EXPECT_EQ(crc32(0, ihdr.data(), static_cast<uInt>(ihdr.size())),
            uLong(png[29]) << 24 | uLong(png[30]) << 16 | uLong(png[31]) << 8 | png[32]);
  const size_t idatLength = size_t(png[33]) << 24 | size_t(png[34]) << 16 | png[35] << 8 | png[36];
  uLongf rawSize = 64;
  std::vector<uint8_t> raw(rawSize);
  ASSERT_EQ(uncompress(raw.data(), &rawSize, png.data() + 41, static_cast<uLong>(idatLength)), Z_OK);
  raw.resize(rawSize);
  EXPECT_EQ(raw, (std::vector<uint8_t>{0, 0x10, 0x20, 0x30, 0xFF, 0x40, 0x50, 0x60, 0x80}));
  EXPECT_TRUE(EncodePng(ui::Bitmap{2, 2, {1, 2, 3}}).empty());  // pixels missing
}

}  // namespace
