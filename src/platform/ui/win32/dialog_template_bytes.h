// The window layer's dialog template as the bytes of an extended in-memory dialog
// template (the form DialogBoxIndirectParamW takes), built without any Windows header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace ui::native {

// Predefined window classes, as a template names them by ordinal.
enum class ControlClass : uint16_t { Button = 0x80, Edit = 0x81, Static = 0x82, ComboBox = 0x85 };

struct NativeControlStyle {
  ControlClass windowClass = ControlClass::Static;
  uint32_t style = 0;  // window and class style bits together
};

// The class and style a control of the window layer becomes.
NativeControlStyle ControlStyle(const ControlTemplate& control);

// The dialog's own style and extended style. A top-level dialog shows in the task bar;
// an owned one stands in front of its owner.
uint32_t DialogStyle(const DialogTemplate& dialog);
uint32_t DialogExStyle(const DialogTemplate& dialog, bool topLevel);

// The whole template, little-endian, every item on a four-byte boundary from the start
// (the vector's storage is aligned at least as much). Pictures are not part of it: the
// window hands them to its statics once they exist.
std::vector<uint8_t> BuildDialogTemplate(const DialogTemplate& dialog, bool topLevel);

}  // namespace ui::native
