// `ostrevane-cli seats` on a virtual line: the listing in port order, and a plan learnt
// from handsets plugged one seat at a time.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "backend/handset_listing.h"
#include "backend/virtual_line.h"
#include "cli/seats_command.h"
#include "console/seat_plan.h"
#include "support/test_env.h"

namespace {

handset::HandsetConfig Handset(int n) {
  handset::HandsetConfig c;
  c.instancePart = "5&1a2b3c&0&" + std::to_string(n);
  return c;
}

struct Order {
  const char* before;
  const char* after;
};

TEST(SeatsPortOrder, NumbersCompareAsNumbers) {
  for (const Order& o : {Order{"1-1.9", "1-1.10"}, Order{"1-2", "1-10"}, Order{"2-1.4", "10-1"},
                         Order{"1-1", "1-1.1"}, Order{"virtual-9", "virtual-10"}}) {
    EXPECT_TRUE(backends::PortOrderLess(o.before, o.after)) << o.before << " " << o.after;
    EXPECT_FALSE(backends::PortOrderLess(o.after, o.before)) << o.before << " " << o.after;
  }
  EXPECT_FALSE(backends::PortOrderLess("1-1.4", "1-1.4"));
}

TEST(Seats, ListsTheAttachedHandsetsInPortOrder) {
  backends::VirtualLine line(testsupport::FastClock());
  for (int n = 1; n <= 10; ++n) line.Plug(Handset(n));
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::RunSeats(
      {"seats"}, [&](std::string*) { return &line.Usb(); }, testsupport::FastClock(), {}, out, err);
  ASSERT_EQ(status, cli::kSeatsDone) << err.str();
  std::istringstream lines(out.str());
  std::vector<std::string> locations;
  for (std::string l; std::getline(lines, l);) locations.push_back(l.substr(0, l.find("  ")));
  std::vector<std::string> expected;
  for (int n = 1; n <= 10; ++n) expected.push_back("virtual-" + std::to_string(n));
  EXPECT_EQ(locations, expected) << out.str();
}

TEST(Seats, LearnTakesEachNewPortAsTheNextSeatUntilTheStop) {
  const std::string plan = testsupport::ScratchDir("cli_seats_learn") + "/plan.json";
  backends::VirtualLine line(testsupport::FastClock());
  line.Plug(Handset(0));  // attached before the learning: no seat
  int pass = 0;
  // Each pass of the learning the operator plugs the next seat's handset; then Ctrl-C.
  auto stops = [&] {
    if (pass < 3) line.Plug(Handset(++pass));
    else return 1;
    return 0;
  };
  std::ostringstream out;
  std::ostringstream err;
  const int status =
      cli::RunSeats({"seats", "--learn", plan, "--labels", "A1,A2"},
                    [&](std::string*) { return &line.Usb(); }, testsupport::FastClock(), stops, out, err);
  ASSERT_EQ(status, cli::kSeatsDone) << out.str() << err.str();
  std::string error;
  const auto learnt = console::ReadSeatPlan(plan, &error);
  ASSERT_TRUE(learnt) << error;
  ASSERT_EQ(learnt->seats.size(), 3u) << out.str();
  EXPECT_EQ(learnt->seats[0].location, "virtual-2");
  EXPECT_EQ(learnt->seats[0].label, "A1");
  EXPECT_EQ(learnt->seats[1].location, "virtual-3");
  EXPECT_EQ(learnt->seats[1].label, "A2");
  EXPECT_EQ(learnt->seats[2].location, "virtual-4");
  EXPECT_EQ(learnt->seats[2].label, "");
}

TEST(Seats, LearnWithNoSeatWritesNoPlan) {
  const std::string plan = testsupport::ScratchDir("cli_seats_none") + "/plan.json";
  backends::VirtualLine line(testsupport::FastClock());
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::RunSeats({"seats", "--learn", plan}, [&](std::string*) { return &line.Usb(); },
                                   testsupport::FastClock(), [] { return 1; }, out, err);
  EXPECT_EQ(status, cli::kSeatsNoneLearnt);
  EXPECT_FALSE(std::ifstream(plan).good());
}

}  // namespace
