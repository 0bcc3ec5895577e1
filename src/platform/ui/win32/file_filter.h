// The file dialog's filter: the window layer's "Description|pattern|" pairs in the
// form the Windows open dialog takes, each string NUL-terminated and a NUL at the end.
#pragma once

#include <string>

namespace ui::native {

// Empty when the filter names no pair (the dialog then shows every file). A pair
// without a description is left out; a missing trailing '|' is allowed.
std::u16string ToDoubleNulFilter(const std::string& filter);

}  // namespace ui::native
