// The state of one control as the window keeps it; the Qt backend mirrors it into its
// widgets, the headless backend is nothing but this state.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/geometry.h"

namespace ui {

struct ControlState {
  ControlKind kind = ControlKind::Edit;
  uint32_t style = 0;
  Rect rect;  // pixels, in the client area
  std::string text;
  bool enabled = true;
  bool visible = true;
  int check = 0;
  std::vector<std::string> items;  // combo box
  int selection = -1;
  int rangeLow = 0;  // progress bar
  int rangeHigh = 100;
  int position = 0;
  // Multi-line edit: at most this many line breaks are kept; past it the oldest tenth
  // goes at once (0 = no limit). `lineBreaks` counts those in `text`.
  size_t lineLimit = 0;
  size_t lineBreaks = 0;
};

}  // namespace ui
