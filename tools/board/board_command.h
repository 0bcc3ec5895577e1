// `ostrevane-cli board`: the line board, one live web page served over HTTP from the
// results database (or from one station's records files).
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace board {

// `args` after the word "board". Serves until `stopCount` (the stop signals so far) turns
// non-zero. 0 when stopped, 2 when the arguments are refused or the address cannot be
// listened on.
int RunBoard(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
             const std::function<int()>& stopCount);

}  // namespace board
