// What a window reports to its owner: initialisation, control notifications, dropped
// files, owner drawing, colour queries, cancel and destruction. Every call arrives on
// the window's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/color.h"
#include "platform/ui/geometry.h"
#include "platform/ui/painter.h"

namespace ui {

enum class Notify {
  Clicked,    // buttons, check boxes, radio buttons, statics that report clicks
  KillFocus,  // an edit lost the keyboard focus
  SelChange,  // the operator picked another combo box item
};

// Static: a read-only or disabled edit asks for its colours; Edit: an editable one.
enum class CtlColorType { Edit, Static };

// A control's colour query. The backend fills in the standard colours first; the
// handler may change them and may draw into the control through `painter` (drawn
// over the control once it has painted itself).
struct CtlColorQuery {
  CtlColorType type = CtlColorType::Static;
  Rect windowRect;  // the control's whole rectangle, moved to the origin
  Painter& painter;
  Color text = kWindowTextColor;
  std::optional<Color> textBackground;  // none: the brush colour
  Color brush = kButtonFaceColor;
};

class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void OnInitDialog() {}
  virtual void OnCommand(int /*controlId*/, Notify /*code*/) {}
  virtual void OnDropFiles(const std::vector<std::string>& /*paths*/) {}
  // True when a left click on the control is swallowed (it neither focuses nor acts).
  virtual bool FiltersLeftClick(int /*controlId*/) { return false; }
  virtual void OnPaintControl(int /*controlId*/, Painter& /*painter*/, const Rect& /*client*/) {}
  virtual void OnCtlColor(int /*controlId*/, CtlColorQuery& /*query*/) {}
  // An item of the window's menu was chosen (its command id).
  virtual void OnSysCommand(uint32_t /*id*/) {}
  // The close box (and the window menu's Close).
  virtual void OnCancel() {}
  // The Escape key: for most dialogs the same as the close box.
  virtual void OnEscape() { OnCancel(); }
  // The modal loop has ended; the controls still exist.
  virtual void OnDestroy() {}
};

}  // namespace ui
