// `report` on records files: what its lines quote from a file cannot drive the
// terminal, and a stop signal ends it with its own status.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/results_commands.h"
#include "support/test_env.h"

namespace {

TEST(ResultsCommands, ReportEscapesWhatItQuotesFromAFile) {
  const std::string path = testsupport::ScratchDir("report_escape") + "/r\x1b[2J.jsonl";
  std::ofstream(path) << "{oops\n";
  // Windows keeps control characters out of file names: there is nothing to escape there.
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "this system refuses the file name";
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunReport({"--results", path}, out, err), cli::kCommandLinesSkipped);
  EXPECT_EQ(err.str().find('\x1b'), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("r\\x1B[2J.jsonl:1: not JSON; skipped"), std::string::npos) << err.str();
}

TEST(ResultsCommands, ReportEndsAtAStopSignal) {
  const std::string path = testsupport::ScratchDir("report_stop") + "/r.jsonl";
  std::ofstream(path) << "\n";
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunReport({"--results", path}, out, err, [] { return true; }), cli::kCommandStopped);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
