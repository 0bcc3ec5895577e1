// Seat plans: each refusal names the file and the entry at fault, and a good plan maps
// locations to channels by position.
#include <gtest/gtest.h>

#include "console/seat_plan.h"

namespace {

using console::ParseSeatPlan;

struct Refused {
  const char* what;
  std::string text;
  const char* expected;  // the whole message
};

void PrintTo(const Refused& r, std::ostream* os) { *os << r.what; }

class SeatPlanRefusalTest : public ::testing::TestWithParam<Refused> {};

TEST_P(SeatPlanRefusalTest, IsRefusedWithItsEntryNamed) {
  std::string error;
  EXPECT_FALSE(ParseSeatPlan(GetParam().text, "line4.json", &error));
  EXPECT_EQ(error, GetParam().expected);
}

std::string ElevenSeats() {
  std::string text = "[";
  for (int i = 0; i < 11; ++i)
    text += std::string(i ? "," : "") + R"({"location":"1-)" + std::to_string(i + 1) + R"("})";
  return text + "]";
}

INSTANTIATE_TEST_SUITE_P(
    Plans, SeatPlanRefusalTest,
    ::testing::Values(
        Refused{"NotJson", R"([{"location": "1-1.1",)", "seat plan line4.json: not JSON"},
        Refused{"NotAnArray", R"({"location": "1-1.1"})",
                "seat plan line4.json: not a JSON array of seats"},
        Refused{"ElevenSeats", ElevenSeats(), "seat plan line4.json: 11 seats, at most 10"},
        Refused{"EmptyLocation", R"([{"location":"1-1.1","label":"A1"},{"location":"","label":"A2"}])",
                "seat plan line4.json, seat 2: empty location"},
        Refused{"NoLocation", R"([{"label":"A1"}])", "seat plan line4.json, seat 1: no location text"},
        Refused{"LocationTwice", R"([{"location":"1-1.1"},{"location":"1-1.2"},{"location":"1-1.1"}])",
                "seat plan line4.json, seat 3: location 1-1.1 is named twice"},
        Refused{"LabelTwice",
                R"([{"location":"1-1.1","label":"A1"},{"location":"1-1.2","label":"A1"}])",
                "seat plan line4.json, seat 2: label A1 is named twice"},
        Refused{"NotAnObject", R"(["1-1.1"])", "seat plan line4.json, seat 1: not an object"},
        Refused{"UnknownField", R"([{"location":"1-1.1","lable":"A1"}])",
                "seat plan line4.json, seat 1: unknown field \"lable\""}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(SeatPlanTest, ChannelIsThePositionOfTheSeat) {
  std::string error;
  const auto plan = ParseSeatPlan(
      R"([{"location":"1-1.4","label":"B"},{"location":"1-1.2","label":"A"}])", "p.json", &error);
  ASSERT_TRUE(plan) << error;
  EXPECT_EQ(plan->ChannelAt("1-1.2"), 1);
  EXPECT_EQ(plan->ChannelAt("1-1.4"), 0);
  EXPECT_EQ(plan->ChannelAt("1-1.3"), -1);
  EXPECT_EQ(plan->LabelOf(1), "A");
}

TEST(SeatPlanTest, WrittenPlanReadsBackTheSame) {
  console::SeatPlan plan{{{"1-1.4.2", "A3"}, {"1-1.3", ""}}};
  std::string error;
  const auto back = ParseSeatPlan(console::SeatPlanJson(plan), "p.json", &error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->seats.size(), 2u);
  EXPECT_EQ(back->seats[0].location, "1-1.4.2");
  EXPECT_EQ(back->seats[0].label, "A3");
  EXPECT_EQ(back->seats[1].location, "1-1.3");
}

}  // namespace
