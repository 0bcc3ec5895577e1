// The reason a channel's record gives: the engine's own as it ended, unless a stop signal
// cut the run or the --verify judge found the handset does not hold the images.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "engine/channel_observer.h"
#include "platform/ui/headless/headless_window.h"
#include "records/record_keeper.h"
#include "support/test_env.h"

namespace {

using engine::FailureReason;

struct KeptCase {
  const char* name;
  // How the channel ended (kept as plain values: GCC 12 at -O3 misreads a string member
  // of a table row built inside ::testing::Values).
  bool done;
  FailureReason endReason;
  const char* endPartition;
  uint64_t bytesSent;
  bool interrupted;                                // Interrupt() before the channel ends
  std::optional<std::vector<std::string>> judged;  // with --verify: what the judge finds
  const char* result;
  const char* reason;
  const char* partition;
};

void PrintTo(const KeptCase& c, std::ostream* os) {
  *os << c.name;
}

class KeptReason : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptReason, TheRecordSaysWhyAndHowMuchWasSent) {
  const KeptCase& c = GetParam();
  console::COstrevaneDlg dlg(std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate()));
  records::RecordKeeper::Judge judge;
  if (c.judged) judge = [&](const results::Record&) { return *c.judged; };
  records::RecordKeeper keeper(dlg, testsupport::FastClock(), {"run", "station"}, {}, {}, nullptr,
                               judge);
  engine::ChannelStartInfo info;
  info.channel = 2;
  keeper.ChannelStarted(info);
  if (c.interrupted) keeper.Interrupt(" Interrupted: cut off by a stop signal");
  keeper.ChannelEnded(2, engine::ChannelEnd{c.done, c.endReason, c.endPartition, c.bytesSent});

  const auto ended = keeper.Ended();
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].result, c.result);
  EXPECT_EQ(ended[0].reason, c.reason);
  EXPECT_EQ(ended[0].partition, c.partition);
  EXPECT_EQ(ended[0].bytesSent, static_cast<int64_t>(c.bytesSent));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, KeptReason,
    ::testing::Values(
        KeptCase{"Done", true, FailureReason::kNone, "", 4096, false, {}, "done", "", ""},
        KeptCase{"WriteFailed",
                 false, FailureReason::kPartitionWrite, "MainOS", 1024,
                 false,
                 {},
                 "failed",
                 "partition_write",
                 "MainOS"},
        KeptCase{"CutByTheSecondSignal",
                 false, FailureReason::kPartitionWrite, "MainOS", 512,
                 true,
                 {},
                 "interrupted",
                 "interrupted",
                 ""},
        KeptCase{"DoneButNotHeld",
                 true, FailureReason::kNone, "", 8192,
                 false,
                 std::vector<std::string>{"MainOS: sector 9 differs from the image"},
                 "failed",
                 "verify_mismatch",
                 ""},
        KeptCase{"DoneAndHeld",
                 true, FailureReason::kNone, "", 8192,
                 false,
                 std::vector<std::string>{},
                 "done",
                 "",
                 ""}),
    [](const ::testing::TestParamInfo<KeptCase>& info) { return std::string(info.param.name); });

}  // namespace
