// A seat plan: which physical USB port is which channel, and the label the line gives
// each seat. Read whole before the station starts, or refused with its faulty entry named.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace console {

inline constexpr size_t kMaxSeats = 10;

struct Seat {
  std::string location;  // the port chain ("1-1.4.2"), or the path Windows gives the port
  std::string label;     // what the operator reads on the fixture ("A3"); may be empty
};

// Channel = position in `seats`.
struct SeatPlan {
  std::vector<Seat> seats;

  // The channel of the seat at `location`, or -1 when no seat of the plan is there.
  [[nodiscard]] int ChannelAt(const std::string& location) const;
  // The label of `channel`'s seat; empty past the plan's end.
  [[nodiscard]] std::string LabelOf(int channel) const;
};

// `text` is the file's contents and `source` its name, which every refusal names with
// the entry at fault. nullopt with `error` set when the plan is refused.
[[nodiscard]] std::optional<SeatPlan> ParseSeatPlan(const std::string& text,
                                                    const std::string& source, std::string* error);
[[nodiscard]] std::optional<SeatPlan> ReadSeatPlan(const std::string& path, std::string* error);

// The plan as its file holds it: a JSON array of {"location", "label"}, one seat a line.
[[nodiscard]] std::string SeatPlanJson(const SeatPlan& plan);

}  // namespace console
