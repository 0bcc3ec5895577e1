// Which of the results database's refusals are about what a record holds, and which
// about the link or the server: the first kind is set aside, the second retried.
#pragma once

#include <string_view>

namespace results {

// true when a statement that failed with `sqlState` would fail again however often it
// were sent: the record's values, a constraint, a name the station may not use. false
// for a lost link, a server shutting down or cancelling, and a server short of
// resources, and for no SQLSTATE at all (no answer came).
[[nodiscard]] bool RefusesContent(std::string_view sqlState);

}  // namespace results
