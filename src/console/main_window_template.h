// The main window's dialog: every control with its id, kind, caption, position in
// dialog units and initial state.
#pragma once

#include "platform/ui/dialog_template.h"

namespace console {

ui::DialogTemplate MainWindowTemplate();

}  // namespace console
