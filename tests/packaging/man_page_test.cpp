// The manual pages against the programs' own --help: every option a program lists has its
// own entry in its page's section, and the page has no entry for an option that is gone.
// Options added to a program later are caught here without this test knowing them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What `command` prints on standard output; the test fails when it does not exit 0.
std::string OutputOf(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return out;
}

// The long options a --help text names where a line begins (after "-h," when the option
// has a short form too), the way both programs lay their help out.
std::set<std::string> HelpOptions(const std::string& help) {
  static const std::regex option(R"(^\s*(?:-[A-Za-z],)?(--[a-z][a-z0-9-]*))");
  std::set<std::string> out;
  std::istringstream in(help);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, option)) out.insert(m[1]);
  }
  return out;
}

// The long options that head an entry (the line after .TP) in section `section` of the
// page, with the page's escaped hyphens read as hyphens.
std::set<std::string> ManEntries(const std::string& path, const std::string& section) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  static const std::regex option(R"(--[a-z][a-z0-9-]*)");
  std::set<std::string> out;
  bool inSection = false;
  bool tag = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(".SH ", 0) == 0) {
      std::string title = line.substr(4);
      if (title.size() >= 2 && title.front() == '"' && title.back() == '"')
        title = title.substr(1, title.size() - 2);
      inSection = title == section;
      continue;
    }
    if (!inSection) continue;
    if (line == ".TP") {
      tag = true;
      continue;
    }
    if (!tag) continue;
    tag = false;
    // roff's "\-" is a plain hyphen. Copied rather than replaced in place: GCC 12 at -O3
    // takes an in-place replace for an overlapping copy and stops the Release build.
    std::string plain;
    for (size_t i = 0; i < line.size(); ++i)
      if (line[i] != '\\' || i + 1 == line.size() || line[i + 1] != '-') plain += line[i];
    for (std::sregex_iterator it(plain.begin(), plain.end(), option), end; it != end; ++it)
      out.insert(it->str());
  }
  return out;
}

std::string Listed(const std::set<std::string>& options) {
  std::string out;
  for (const std::string& o : options) out += o + " ";
  return out;
}

TEST(ManPages, EveryOptionTheHelpListsHasItsEntryAndNoEntryIsStale) {
  struct Page {
    const char* program;
    const char* arguments;  // before --help: a subcommand
    const char* page;
    const char* section;
  };
  std::vector<Page> pages = {{CLI_PATH, "", "ostrevane-cli.1", "OPTIONS"},
                             {CLI_PATH, "ingest ", "ostrevane-cli.1", "RESULTS DATABASE"},
                             {CLI_PATH, "report ", "ostrevane-cli.1", "RESULTS DATABASE"},
                             {CLI_PATH, "db ", "ostrevane-cli.1", "RESULTS DATABASE"},
                             {CLI_PATH, "seats ", "ostrevane-cli.1", "SEATS"}};
#ifdef BOARD_BUILT
  pages.push_back({CLI_PATH, "board ", "ostrevane-cli.1", "LINE BOARD"});
#endif
#ifdef WINDOW_PATH
  pages.push_back({WINDOW_PATH, "", "ostrevane.1", "OPTIONS"});
#endif
  for (const Page& p : pages) {
    SCOPED_TRACE(std::string(p.program) + " " + p.arguments + "--help");
    const std::set<std::string> listed =
        HelpOptions(OutputOf(std::string("'") + p.program + "' " + p.arguments + "--help"));
    ASSERT_GE(listed.size(), 2u) << "no options read from the help";
    const std::set<std::string> entries =
        ManEntries(std::string(MAN_DIR) + "/" + p.page, p.section);
    std::set<std::string> missing;
    for (const std::string& o : listed)
      if (!entries.count(o)) missing.insert(o);
    EXPECT_TRUE(missing.empty()) << p.page << " has no entry for " << Listed(missing);
    // A subcommand's section holds every subcommand's options; the main one's only its own.
    if (std::string(p.arguments).empty()) {
      std::set<std::string> stale;
      for (const std::string& o : entries)
        if (!listed.count(o)) stale.insert(o);
      EXPECT_TRUE(stale.empty()) << p.page
                                 << " has entries the help does not list: " << Listed(stale);
    }
  }
}

}  // namespace
