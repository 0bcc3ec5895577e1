// A dialog described the way a dialog resource describes it: title, size and font, and
// its controls with ids, kinds, captions, positions in dialog units and styles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ui {

enum class ControlKind {
  PushButton,
  CheckBox,     // auto check box: a click toggles it
  RadioButton,  // auto radio button: a click checks it and clears its group
  GroupBox,     // drawn by the owner
  Edit,
  ComboBox,     // drop-down list
  ProgressBar,  // drawn by the owner
  IconStatic,
  BitmapStatic,
  TextStatic,  // a line of text
};

// Style bits of a control.
enum ControlStyle : uint32_t {
  kStyleHidden = 1u << 0,
  kStyleDisabled = 1u << 1,
  kStyleReadOnly = 1u << 2,
  kStyleMultiLine = 1u << 3,
  kStyleCentered = 1u << 4,
  kStyleAutoHScroll = 1u << 5,
  kStyleVScroll = 1u << 6,
  kStyleAutoVScroll = 1u << 7,
  kStyleBorder = 1u << 8,
  kStyleTabStop = 1u << 9,
  kStyleGroup = 1u << 10,
  kStyleSorted = 1u << 11,
  kStyleNotify = 1u << 12,  // statics that report clicks
  kStyleCenterImage = 1u << 13,
};

// A picture made in code: rows top-down, each pixel 0xAARRGGBB.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;
};

inline constexpr int kNoControlId = -1;

struct ControlTemplate {
  int id = kNoControlId;
  ControlKind kind = ControlKind::Edit;
  std::string caption;
  int x = 0;  // dialog units
  int y = 0;
  int cx = 0;
  int cy = 0;
  uint32_t style = 0;
  std::shared_ptr<const Bitmap> image;  // icon and bitmap statics
};

inline ControlTemplate MakeControl(int id, ControlKind kind, const char* caption, int x, int y,
                                   int cx, int cy, uint32_t style) {
  ControlTemplate t;
  t.id = id;
  t.kind = kind;
  t.caption = caption;
  t.x = x;
  t.y = y;
  t.cx = cx;
  t.cy = cy;
  t.style = style;
  return t;
}

struct DialogTemplate {
  int id = 0;
  std::string title;
  int cx = 0;  // client size in dialog units
  int cy = 0;
  std::string fontFace;
  int pointSize = 8;
  bool acceptFiles = false;
  // Without it the title bar has no system menu and no close box; Escape still cancels.
  bool systemMenu = true;
  std::shared_ptr<const Bitmap> icon;
  std::vector<ControlTemplate> controls;  // template order

  const ControlTemplate* Find(int controlId) const {
    for (const auto& c : controls)
      if (c.id == controlId) return &c;
    return nullptr;
  }
};

}  // namespace ui
