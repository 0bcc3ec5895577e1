// The records' time stamps ("2026-12-09T10:55:34.123Z") and the report's --since/--until
// texts, as milliseconds since 1970 UTC.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace results {

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM", "...:SS", "...:SS.fff", with 'T' or a space, and an
// optional "Z"; always UTC. Nullopt when the text is none of these, names no real day,
// or lies before 1970 (no station's clock does).
std::optional<int64_t> ParseIsoUtc(const std::string& text);
// "2026-12-09T10:55:34.123Z".
std::string FormatIsoUtc(int64_t msSinceEpoch);
// The hour a time falls in, as the report names it: "2026-12-09 10:00Z".
std::string HourLabel(int64_t msSinceEpoch);

}  // namespace results
