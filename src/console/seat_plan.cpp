// A plan is checked whole before any of it is used: a station that bound handsets by half
// a plan would write them on the wrong channels without a word.
#include "console/seat_plan.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/file/file.h"

namespace console {
namespace {

using nlohmann::json;

std::optional<SeatPlan> Refuse(std::string* error, const std::string& message) {
  if (error) *error = message;
  return std::nullopt;
}

}  // namespace

int SeatPlan::ChannelAt(const std::string& location) const {
  for (size_t i = 0; i < seats.size(); ++i)
    if (seats[i].location == location) return static_cast<int>(i);
  return -1;
}

std::string SeatPlan::LabelOf(int channel) const {
  if (channel < 0 || static_cast<size_t>(channel) >= seats.size()) return {};
  return seats[static_cast<size_t>(channel)].label;
}

std::optional<SeatPlan> ParseSeatPlan(const std::string& text, const std::string& source,
                                      std::string* error) {
  const json doc = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) return Refuse(error, "seat plan " + source + ": not JSON");
  if (!doc.is_array())
    return Refuse(error, "seat plan " + source + ": not a JSON array of seats");
  if (doc.size() > kMaxSeats)
    return Refuse(error, "seat plan " + source + ": " + std::to_string(doc.size()) +
                             " seats, at most " + std::to_string(kMaxSeats));
  SeatPlan plan;
  std::set<std::string> locations;
  std::set<std::string> labels;
  for (size_t i = 0; i < doc.size(); ++i) {
    const json& entry = doc[i];
    const std::string where = "seat plan " + source + ", seat " + std::to_string(i + 1) + ": ";
    if (!entry.is_object()) return Refuse(error, where + "not an object");
    for (const auto& [key, value] : entry.items())
      if (key != "location" && key != "label")
        return Refuse(error, where + "unknown field \"" + key + "\"");
    Seat seat;
    if (!entry.contains("location") || !entry["location"].is_string())
      return Refuse(error, where + "no location text");
    seat.location = entry["location"].get<std::string>();
    if (entry.contains("label")) {
      if (!entry["label"].is_string()) return Refuse(error, where + "the label is not text");
      seat.label = entry["label"].get<std::string>();
    }
    if (seat.location.empty()) return Refuse(error, where + "empty location");
    if (!locations.insert(seat.location).second)
      return Refuse(error, where + "location " + seat.location + " is named twice");
    if (!seat.label.empty() && !labels.insert(seat.label).second)
      return Refuse(error, where + "label " + seat.label + " is named twice");
    plan.seats.push_back(std::move(seat));
  }
  return plan;
}

std::optional<SeatPlan> ReadSeatPlan(const std::string& path, std::string* error) {
  std::ifstream in(platform::file::NativePath(path), std::ios::binary);
  if (!in) return Refuse(error, "seat plan " + path + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return Refuse(error, "seat plan " + path + ": cannot be read");
  return ParseSeatPlan(text.str(), path, error);
}

std::string SeatPlanJson(const SeatPlan& plan) {
  std::string out = "[\n";
  for (size_t i = 0; i < plan.seats.size(); ++i) {
    const json seat = {{"location", plan.seats[i].location}, {"label", plan.seats[i].label}};
    out += "  " + seat.dump() + (i + 1 < plan.seats.size() ? ",\n" : "\n");
  }
  return out + "]\n";
}

}  // namespace console
