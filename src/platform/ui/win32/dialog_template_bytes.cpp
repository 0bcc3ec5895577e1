// The extended dialog template: a header with the dialog's styles, size, title and
// font, then one item per control, each on a four-byte boundary.
#include "platform/ui/win32/dialog_template_bytes.h"

#include "platform/text/utf16.h"
#include "platform/ui/win32/native_styles.h"

namespace ui::native {

namespace {

uint32_t WindowBits(uint32_t style) {
  uint32_t bits = kWsChild;
  if (!(style & kStyleHidden)) bits |= kWsVisible;
  if (style & kStyleDisabled) bits |= kWsDisabled;
  if (style & kStyleTabStop) bits |= kWsTabStop;
  if (style & kStyleGroup) bits |= kWsGroup;
  if (style & kStyleBorder) bits |= kWsBorder;
  if (style & kStyleVScroll) bits |= kWsVScroll;
  return bits;
}

uint32_t EditBits(uint32_t style) {
  uint32_t bits = 0;
  if (style & kStyleMultiLine) bits |= kEsMultiLine;
  if (style & kStyleReadOnly) bits |= kEsReadOnly;
  if (style & kStyleCentered) bits |= kEsCenter;
  if (style & kStyleAutoHScroll) bits |= kEsAutoHScroll;
  if (style & kStyleAutoVScroll) bits |= kEsAutoVScroll;
  return bits;
}

class Writer {
 public:
  void Word(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Dword(uint32_t v) {
    Word(static_cast<uint16_t>(v));
    Word(static_cast<uint16_t>(v >> 16));
  }
  void Byte(uint8_t v) { bytes_.push_back(v); }
  // A NUL-terminated UTF-16 string.
  void Text(const std::string& utf8) {
    for (char16_t unit : platform::Utf8ToUtf16(utf8)) Word(static_cast<uint16_t>(unit));
    Word(0);
  }
  void AlignToDword() {
    while (bytes_.size() % 4) bytes_.push_back(0);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

NativeControlStyle ControlStyle(const ControlTemplate& c) {
  const uint32_t s = c.style;
  const uint32_t window = WindowBits(s);
  const uint32_t notify = (s & kStyleNotify) ? kSsNotify : 0;
  const uint32_t centerImage = (s & kStyleCenterImage) ? kSsCenterImage : 0;
  switch (c.kind) {
    case ControlKind::PushButton:
      return {ControlClass::Button, window | kBsPushButton};
    case ControlKind::CheckBox:
      return {ControlClass::Button, window | kBsAutoCheckBox};
    case ControlKind::RadioButton:
      return {ControlClass::Button, window | kBsAutoRadioButton};
    case ControlKind::GroupBox:
      return {ControlClass::Button, window | kBsGroupBox};
    case ControlKind::Edit:
      return {ControlClass::Edit, window | EditBits(s)};
    case ControlKind::ComboBox:
      return {ControlClass::ComboBox,
              window | kCbsDropDownList | ((s & kStyleSorted) ? kCbsSort : 0)};
    case ControlKind::ProgressBar:
      // The owner paints it; a static that draws nothing of its own.
      return {ControlClass::Static, window | kSsOwnerDraw};
    case ControlKind::IconStatic:
      return {ControlClass::Static, window | kSsIcon | notify | centerImage};
    case ControlKind::BitmapStatic:
      return {ControlClass::Static, window | kSsBitmap | notify | centerImage};
    case ControlKind::TextStatic:
      return {ControlClass::Static,
              window | ((s & kStyleCentered) ? kSsCenter : kSsLeft) | notify};
  }
  return {ControlClass::Static, window};
}

uint32_t DialogStyle(const DialogTemplate& dialog) {
  uint32_t style = kWsPopup | kWsCaption | kDsModalFrame | kDsShellFont;
  if (dialog.systemMenu) style |= kWsSysMenu;
  return style;
}

uint32_t DialogExStyle(const DialogTemplate& dialog, bool topLevel) {
  uint32_t style = topLevel ? kWsExAppWindow : 0;
  if (dialog.acceptFiles) style |= kWsExAcceptFiles;
  return style;
}

std::vector<uint8_t> BuildDialogTemplate(const DialogTemplate& dialog, bool topLevel) {
  Writer w;
  w.Word(1);       // version
  w.Word(0xFFFF);  // marks the extended form
  w.Dword(0);      // help id
  w.Dword(DialogExStyle(dialog, topLevel));
  w.Dword(DialogStyle(dialog));
  w.Word(static_cast<uint16_t>(dialog.controls.size()));
  w.Word(0);  // x, y: the system places the dialog
  w.Word(0);
  w.Word(static_cast<uint16_t>(dialog.cx));
  w.Word(static_cast<uint16_t>(dialog.cy));
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.Text(dialog.title);
  w.Word(static_cast<uint16_t>(dialog.pointSize));
  w.Word(kFwNormal);
  w.Byte(0);  // not italic
  w.Byte(kDefaultCharset);
  w.Text(dialog.fontFace.empty() ? "MS Shell Dlg" : dialog.fontFace);
  for (const ControlTemplate& c : dialog.controls) {
    w.AlignToDword();
    const NativeControlStyle native = ControlStyle(c);
    w.Dword(0);  // help id
    w.Dword(0);  // extended style
    w.Dword(native.style);
    w.Word(static_cast<uint16_t>(c.x));
    w.Word(static_cast<uint16_t>(c.y));
    w.Word(static_cast<uint16_t>(c.cx));
    w.Word(static_cast<uint16_t>(c.cy));
    w.Dword(static_cast<uint32_t>(c.id));
    w.Word(0xFFFF);  // the class by ordinal
    w.Word(static_cast<uint16_t>(native.windowClass));
    const bool picture = c.kind == ControlKind::IconStatic || c.kind == ControlKind::BitmapStatic;
    w.Text(picture ? std::string() : c.caption);
    w.Word(0);  // no creation data
  }
  return w.Take();
}

}  // namespace ui::native
