// The log: whole lines from many threads, the 511-unit cut, lines carrying their own
// line ends.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "console/log_line.h"
#include "main_window_fixture.h"

namespace consoletest {
namespace {

using namespace console;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// A day of runs: the log keeps between 9,000 and 10,000 of its newest lines, the oldest
// going first a tenth at a time (dropping one line per line appended would move the whole
// text up for every line), and a text without its own line end still continues the last
// line.
TEST_F(MainWindowTest, LogKeepsItsNewestLinesWithinItsLimit) {
  auto line = [](int i) {
    char text[40];
    std::snprintf(text, sizeof text, "[Channel %d] line %05d", i % 10, i);
    return std::string(text);
  };
  struct Step {
    int appended;  // lines appended in all
    size_t kept;   // lines the log then holds
  };
  int appended = 0;
  // At the limit, just past it, just before the next trim, at it, and far past it.
  for (const Step step : {Step{10000, 10000}, Step{10001, 9000}, Step{11001, 10000},
                          Step{11002, 9000}, Step{25000, 9985}}) {
    SCOPED_TRACE(step.appended);
    for (; appended < step.appended; ++appended) dlg->AppendLog("%s\r\n", line(appended).c_str());
    const auto lines = Lines(window->GetText(IDC_LOG));
    ASSERT_EQ(lines.size(), step.kept);
    EXPECT_EQ(lines.front(), line(appended - static_cast<int>(lines.size())));
    EXPECT_EQ(lines.back(), line(appended - 1));
  }
  dlg->AppendLog("[Channel 3] CSC Download Fail!!");
  dlg->AppendLog("[Channel 3] Binary Download complete!!\r\n");
  const std::string log = window->GetText(IDC_LOG);
  EXPECT_EQ(Lines(log).back(),
            "[Channel 3] CSC Download Fail!![Channel 3] Binary Download complete!!");
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST_F(MainWindowTest, TenWorkersNeverMixTheirLines) {
  constexpr int kThreads = 10;
  constexpr int kLinesEach = 60;
  const std::string payload(120, '#');
  std::atomic<int> done{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kLinesEach; ++i)
        dlg->AppendLog("[Channel %d] line %03d %s\r\n", t, i, payload.c_str());
      ++done;
    });
  // The window's thread serves the log while the workers wait on it.
  ASSERT_TRUE(window->PumpUntil([&] { return done == kThreads; }));
  for (auto& w : workers) w.join();

  auto lines = Lines(window->GetText(IDC_LOG));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLinesEach));
  std::map<int, int> next;
  for (const auto& line : lines) {
    int channel = -1;
    int index = -1;
    char rest[200] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "[Channel %d] line %d %199s", &channel, &index, rest), 3)
        << line;
    EXPECT_EQ(rest, payload) << line;
    EXPECT_EQ(index, next[channel]++) << "lines of one worker keep their order";
  }
}

TEST_F(MainWindowTest, LongLinesAreCutTo511Units) {
  const std::string six(600, 'x');
  dlg->AppendLog("%s", six.c_str());
  EXPECT_EQ(window->GetText(IDC_LOG), std::string(511, 'x'));

  window->SetText(IDC_LOG, "");
  std::string wide = std::string(510, 'a') + "\xE2\x82\xAC" + "b";  // the euro sign is unit 511
  dlg->AppendLogText(wide);
  EXPECT_EQ(window->GetText(IDC_LOG), std::string(510, 'a') + "\xE2\x82\xAC");

  window->SetText(IDC_LOG, "");
  std::string pair = std::string(510, 'a') + "\xF0\x9F\x98\x80";  // would need units 511, 512
  dlg->AppendLog("%s", pair.c_str());
  EXPECT_EQ(window->GetText(IDC_LOG), std::string(510, 'a'));
}

TEST_F(MainWindowTest, LinesCarryTheirOwnLineEnds) {
  dlg->AppendLog("[Channel %d] Start Download Fail \r\n!!", 3);
  dlg->AppendLog("[Channel %d] Binary Download complete!!\r\n", 4);
  EXPECT_EQ(window->GetText(IDC_LOG),
            "[Channel 3] Start Download Fail \r\n!![Channel 4] Binary Download complete!!\r\n");
}

// Channel records take a channel's lines by this prefix; a near miss must not count.
TEST(ChannelOfLogText, OnlyALeadingChannelPrefixNamesAChannel) {
  EXPECT_EQ(console::ChannelOfLogText("[Channel 0] Start Download Success !!\r\n"), 0);
  EXPECT_EQ(console::ChannelOfLogText("[Channel 9] Start Download Fail \r\n!!"), 9);
  EXPECT_EQ(console::ChannelOfLogText("[Channel 12] x"), 12);
  for (const char* other :
       {"Open KX4 SMD image at : a.kx4\r\n", "[Channel ] x", "[Channel 3 x", "[Channel -1] x",
        "[Channel 1234] x", " [Channel 1] x", "[channel 1] x", "[Channel 1", ""})
    EXPECT_EQ(console::ChannelOfLogText(other), -1) << other;
}

}  // namespace
}  // namespace consoletest
