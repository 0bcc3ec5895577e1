// By class (the first two characters), so that a code a newer server invents still falls
// on the right side. Class 40 (a deadlock, a serialization failure) is retried too: the
// same record goes in once the other transaction has gone.
#include "results/sql_state.h"

#include <array>

namespace results {

bool RefusesContent(std::string_view sqlState) {
  if (sqlState.size() != 5) return false;
  static constexpr std::array<std::string_view, 5> kPassing = {
      "08",  // connection exception
      "40",  // transaction rollback
      "53",  // insufficient resources: disk full, out of memory, too many connections
      "57",  // operator intervention: shutdown, cancel, statement timeout
      "58",  // system error: I/O
  };
  for (std::string_view cls : kPassing)
    if (sqlState.substr(0, 2) == cls) return false;
  return true;
}

}  // namespace results
