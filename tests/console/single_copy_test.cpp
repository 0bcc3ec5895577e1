// The single-copy rule on an in-memory process list: which copies a starting station
// ends, which it leaves, and that start-up goes on whatever the list allows.
#include <gtest/gtest.h>

#include <vector>

#include "console/ostrevane_app.h"
#include "console/single_copy.h"
#include "support/fake_process_list.h"

namespace {

using console::FindProcessIdByName;
using console::KillOtherInstances;
using platform::process::FakeProcessList;
using platform::process::kNoProcess;
using platform::process::ProcessId;

constexpr ProcessId kOwn = 200;

TEST(SingleCopyTest, EndsTheCopiesListedBeforeAndNoneAfter) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(1, "systemd");
  list.Add(100, "ostrevane");
  list.Add(101, "Ostrevane");  // differs only in letter case
  list.Add(102, "ostrevane.exe");
  list.Add(103, "ostrevane");
  list.Add(kOwn, "ostrevane");
  list.Add(300, "ostrevane");  // started after this copy
  list.Add(301, "OSTREVANE");

  EXPECT_TRUE(KillOtherInstances(list, "ostrevane"));
  EXPECT_EQ(list.ended, (std::vector<ProcessId>{100, 103}));
  EXPECT_TRUE(list.Listed(kOwn));
  EXPECT_TRUE(list.Listed(300));
  // A fresh list for each attempt: the first, one per copy ended, and the one that
  // found this process first.
  EXPECT_EQ(list.snapshotCount, 1 + 2 + 1);
}

TEST(SingleCopyTest, AnUnendableOrLingeringCopyDoesNotShieldTheOnesBehindIt) {
  FakeProcessList list(kOwn, "ostrevane");
  list.lingerSnapshots = 4;                      // ended copies stay listed for a while
  list.Add(50, "ostrevane", /*endable=*/false);  // another user's
  list.Add(60, "ostrevane");
  list.Add(70, "ostrevane");
  list.Add(kOwn, "ostrevane");
  list.Add(300, "ostrevane");

  EXPECT_TRUE(KillOtherInstances(list, "ostrevane"));
  EXPECT_EQ(list.ended, (std::vector<ProcessId>{60, 70}));
  EXPECT_TRUE(list.Listed(50));
  EXPECT_TRUE(list.Listed(300));
}

TEST(SingleCopyTest, NoListOrNoNameEndsNothing) {
  FakeProcessList unreadable(kOwn, "ostrevane");
  unreadable.Add(100, "ostrevane");
  unreadable.failSnapshots = true;
  EXPECT_FALSE(KillOtherInstances(unreadable, "ostrevane"));
  EXPECT_TRUE(unreadable.ended.empty());

  // Processes whose executable cannot be read carry an empty name: an own name that
  // could not be read must not match them.
  FakeProcessList nameless(kOwn, "");
  nameless.Add(2, "");
  nameless.Add(kOwn, "");
  EXPECT_TRUE(KillOtherInstances(nameless, ""));
  EXPECT_TRUE(nameless.ended.empty());
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

TEST(SingleCopyTest, InitInstanceEndsTheOldCopyBeforeTheWindowRunsAndReturnsFalse) {
  FakeProcessList list(kOwn, "ostrevane");
  list.Add(100, "ostrevane");
  list.Add(kOwn, "ostrevane");
  console::COstrevaneApp app(list);

  int windowRuns = 0;
  bool oldCopyGoneFirst = false;
  EXPECT_FALSE(app.InitInstance([&] {
    ++windowRuns;
    oldCopyGoneFirst = list.ended == std::vector<ProcessId>{100};
    return 1;
  }));
  EXPECT_EQ(windowRuns, 1);
  EXPECT_TRUE(oldCopyGoneFirst);
  EXPECT_EQ(app.ApplicationName(), "ostrevane");

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
