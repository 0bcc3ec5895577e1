// The single-copy rule on an in-memory process list: which copies a starting station
// asks to close, which it leaves, how long it waits for them, and what it says meanwhile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/ostrevane_app.h"
#include "console/single_copy.h"
#include "support/fake_process_list.h"

namespace {

using console::CloseOtherInstances;
using console::CopyWait;
using console::FindProcessIdByName;
using console::OtherCopies;
using platform::process::FakeProcessList;
using platform::process::kNoProcess;
using platform::process::ProcessId;
using platform::process::ProcessOutcome;
using namespace std::chrono_literals;

constexpr ProcessId kOwn = 200;

// A wait that gives up after `limit` looks, so that a copy wrongly waited for shows as
// kStopped instead of a hung test.
CopyWait Bounded(std::vector<std::string>* said = nullptr, int limit = 1000) {
  CopyWait wait;
  wait.say = [said](const std::string& line) {
    if (said) said->push_back(line);
  };
  wait.stopped = [looks = 0, limit]() mutable { return ++looks > limit; };
  return wait;
}

TEST(SingleCopyTest, AsksTheCopiesListedBeforeAndNoneAfter) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(1, "systemd");
  list.Add(100, "ostrevane");
  list.Add(101, "Ostrevane");  // differs only in letter case
  list.Add(102, "ostrevane.exe");
  list.Add(103, "ostrevane");
  list.Add(kOwn, "ostrevane");
  list.Add(300, "ostrevane");  // started after this copy
  list.Add(301, "OSTREVANE");

  EXPECT_EQ(CloseOtherInstances(list, "ostrevane", Bounded()), OtherCopies::kGone);
  EXPECT_EQ(list.asked, (std::vector<ProcessId>{100, 103}));
  EXPECT_TRUE(list.Listed(kOwn));
  EXPECT_TRUE(list.Listed(300));
  // A fresh list for each request: the first, one per copy asked, and the one that
  // found this process first.
  EXPECT_EQ(list.snapshotCount, 1 + 2 + 1);
}

TEST(SingleCopyTest, ACopyThatCannotBeAskedIsLeftAloneAndShieldsNoneBehindIt) {
  FakeProcessList list(kOwn, "ostrevane");
  list.lingerSnapshots = 4;  // gone copies stay listed for a while
  list.Add(50, "ostrevane", {.answer = ProcessOutcome::kOtherUser});
  list.Add(55, "ostrevane", {.answer = ProcessOutcome::kRefused});
  list.Add(60, "ostrevane");
  list.Add(70, "ostrevane");
  list.Add(kOwn, "ostrevane");
  list.Add(300, "ostrevane");

  // Not waited for either: the wait would never end.
  EXPECT_EQ(CloseOtherInstances(list, "ostrevane", Bounded()), OtherCopies::kGone);
  EXPECT_EQ(list.asked, (std::vector<ProcessId>{60, 70}));
  EXPECT_TRUE(list.Listed(50));
  EXPECT_TRUE(list.Listed(55));
  EXPECT_TRUE(list.Listed(300));
}

TEST(SingleCopyTest, NoListOrNoNameAsksNothing) {
  FakeProcessList unreadable(kOwn, "ostrevane");
  unreadable.Add(100, "ostrevane");
  unreadable.failSnapshots = true;
  EXPECT_EQ(CloseOtherInstances(unreadable, "ostrevane", Bounded()), OtherCopies::kNoList);
  EXPECT_TRUE(unreadable.asked.empty());

  // Processes whose executable cannot be read carry an empty name: an own name that
  // could not be read must not match them.
  FakeProcessList nameless(kOwn, "");
  nameless.Add(2, "");
  nameless.Add(kOwn, "");
  EXPECT_EQ(CloseOtherInstances(nameless, "", Bounded()), OtherCopies::kGone);
  EXPECT_TRUE(nameless.asked.empty());
  EXPECT_EQ(FindProcessIdByName(nameless, ""), kNoProcess);
}

TEST(SingleCopyTest, FindProcessIdByNameTakesTheFirstWholeExactName) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(7, "ostrevane-old");
  list.Add(8, "ostrevan");
  list.Add(9, "ostrevane");
  list.Add(10, "ostrevane");
  EXPECT_EQ(FindProcessIdByName(list, "ostrevane"), 9);
  EXPECT_EQ(FindProcessIdByName(list, "ostrevane", {9}), 10);
  EXPECT_EQ(FindProcessIdByName(list, "Ostrevane"), kNoProcess);
}

TEST(SingleCopyTest, WaitsUntilTheCopyIsGoneAndSaysWhyOnlyWhenItIsInARun) {
  const struct {
    int runningWaits;  // how long the copy takes to go, in waits
    size_t lines;
  } cases[] = {{0, 0}, {1, 1}, {6, 1}};
  for (const auto& c : cases) {
    FakeProcessList list(kOwn, "ostrevane");
    list.Add(100, "ostrevane", {.runningWaits = c.runningWaits});
    list.Add(kOwn, "ostrevane");
    std::vector<std::string> said;
    CopyWait wait = Bounded(&said);
    wait.quiet = 500ms;
    wait.slice = 200ms;

    EXPECT_EQ(CloseOtherInstances(list, "ostrevane", wait), OtherCopies::kGone) << c.runningWaits;
    EXPECT_EQ(list.gone, std::vector<ProcessId>{100}) << c.runningWaits;
    ASSERT_EQ(said.size(), c.lines) << c.runningWaits;
    if (c.lines > 0) {
      EXPECT_EQ(said[0], console::WaitingForCopyLine(100));
    }
    // The first wait lets an idle copy close unremarked; the others are short.
    std::vector<std::chrono::milliseconds> waits(c.runningWaits + 1, 200ms);
    waits[0] = 500ms;
    EXPECT_EQ(list.waits, waits) << c.runningWaits;
  }
  EXPECT_NE(console::WaitingForCopyLine(4321).find("process 4321"), std::string::npos);
}

TEST(SingleCopyTest, EveryCopyIsAskedBeforeAnyIsWaitedFor) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(100, "ostrevane", {.runningWaits = 3});
  list.Add(103, "ostrevane", {.runningWaits = 3});
  list.Add(kOwn, "ostrevane");
  std::vector<std::vector<ProcessId>> askedWhenSaid;
  CopyWait wait = Bounded();
  wait.say = [&](const std::string&) { askedWhenSaid.push_back(list.asked); };

  EXPECT_EQ(CloseOtherInstances(list, "ostrevane", wait), OtherCopies::kGone);
  EXPECT_EQ(list.gone, (std::vector<ProcessId>{100, 103}));
  ASSERT_EQ(askedWhenSaid.size(), 2u);
  EXPECT_EQ(askedWhenSaid[0], (std::vector<ProcessId>{100, 103}));
}

TEST(SingleCopyTest, ACopyWithoutAWindowYetIsAskedAgainUntilItHasOne) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(100, "ostrevane", {.windowlessAsks = 3, .runningWaits = 1});
  list.Add(kOwn, "ostrevane");

  EXPECT_EQ(CloseOtherInstances(list, "ostrevane", Bounded()), OtherCopies::kGone);
  EXPECT_EQ(list.asked, std::vector<ProcessId>{100});
  EXPECT_EQ(list.gone, std::vector<ProcessId>{100});
}

TEST(SingleCopyTest, AStopWhileACopyFinishesItsRunEndsTheWaitAndThisCopyDoesNotOpen) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(100, "ostrevane", {.runningWaits = 1000});
  list.Add(kOwn, "ostrevane");
  console::COstrevaneApp app(list);

  EXPECT_FALSE(app.WaitForOtherCopies(Bounded(nullptr, 3)));
  EXPECT_TRUE(list.gone.empty());
  EXPECT_EQ(list.waits.size(), 3u);
}

TEST(SingleCopyTest, InitInstanceWaitsForTheOldCopyBeforeTheWindowRunsAndReturnsFalse) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(100, "ostrevane", {.runningWaits = 2});
  list.Add(kOwn, "ostrevane");
  console::COstrevaneApp app(list);

  int windowRuns = 0;
  bool oldCopyGoneFirst = false;
  EXPECT_FALSE(app.InitInstance([&] {
    ++windowRuns;
    oldCopyGoneFirst = list.gone == std::vector<ProcessId>{100};
    return 1;
  }));
  EXPECT_EQ(windowRuns, 1);
  EXPECT_TRUE(oldCopyGoneFirst);
  EXPECT_EQ(app.ApplicationName(), "ostrevane");

  // Waited for once already: the window's start asks nothing more.
  FakeProcessList waited(kOwn, "ostrevane");
  console::COstrevaneApp early(waited);
  ASSERT_TRUE(early.WaitForOtherCopies(Bounded()));
  waited.Add(100, "ostrevane");
  waited.Add(kOwn, "ostrevane");
  EXPECT_FALSE(early.InitInstance([] { return 1; }));
  EXPECT_TRUE(waited.asked.empty());

  // No process list: the window runs all the same.
  FakeProcessList unreadable(kOwn, "ostrevane");
  unreadable.failSnapshots = true;
  console::COstrevaneApp quiet(unreadable);
  windowRuns = 0;
  EXPECT_FALSE(quiet.InitInstance([&] { return ++windowRuns; }));
  EXPECT_EQ(windowRuns, 1);
  // An own name that cannot be read still names the program.
  FakeProcessList nameless(kOwn, "");
  EXPECT_EQ(console::COstrevaneApp(nameless).ApplicationName(), "ostrevane");
}

}  // namespace
