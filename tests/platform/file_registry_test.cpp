// The settings file: every value type comes back with its exact bytes, a change
// replaces the whole file or nothing, and a folder that cannot be written is a key
// that cannot be opened.
#include "platform/registry/posix/file_registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/test_env.h"

namespace {

using platform::registry::FileRegistry;
using platform::registry::Root;
namespace fs = std::filesystem;

constexpr const char* kKey = "Software\\KX4\\DL";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text, size_t size) {
  std::vector<uint8_t> data;
  for (char16_t u : text) {
    data.push_back(static_cast<uint8_t>(u & 0xFF));
    data.push_back(static_cast<uint8_t>(u >> 8));
  }
  data.resize(size, 0);
  return data;
}

TEST(FileRegistry, EveryTypeComesBackWithItsExactBytesFromTheFile) {
  const std::string path = testsupport::ScratchDir("file_registry_round") + "/a/b/settings.txt";
  // A 512-byte path value whose tail keeps part of a longer earlier path, a name and a
  // text outside ASCII (with a lone surrogate), and a string without a terminator.
  std::vector<uint8_t> path512 = Utf16Bytes(u"/img/os.kx4", 512);
  path512[30] = 'x';
  const std::vector<uint8_t> odd = {'a', 0, 'b'};
  const std::vector<uint8_t> unicode = Utf16Bytes(u"/d\u00e9p\"\\t\xD800.csc", 40);
  {
    FileRegistry reg(path);
    ASSERT_TRUE(reg.CreateKey(Root::kCurrentUser, kKey));
    EXPECT_TRUE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 0xD10AD111));
    EXPECT_TRUE(reg.WriteBinary(Root::kCurrentUser, kKey, "CSC", {1, 0, 0, 0}));
    EXPECT_TRUE(reg.WriteBinary(Root::kCurrentUser, kKey, "Empty", {}));
    EXPECT_TRUE(reg.WriteStringBytes(Root::kCurrentUser, kKey, "KX4_SMD_Location", path512));
    EXPECT_TRUE(reg.WriteStringBytes(Root::kCurrentUser, kKey, "Odd", odd));
    EXPECT_TRUE(reg.WriteStringBytes(Root::kCurrentUser, "Other\\Key", "n\u00e4me", unicode));
  }
  FileRegistry again(path);
  EXPECT_TRUE(again.KeyExists(Root::kCurrentUser, kKey));
  EXPECT_EQ(again.ReadDword(Root::kCurrentUser, kKey, "MODE"), 0xD10AD111u);
  using Type = FileRegistry::Type;
  EXPECT_EQ(again.Get(kKey, "CSC"), (FileRegistry::Value{Type::kBinary, {1, 0, 0, 0}}));
  EXPECT_EQ(again.Get(kKey, "Empty"), (FileRegistry::Value{Type::kBinary, {}}));
  EXPECT_EQ(again.Get(kKey, "KX4_SMD_Location"), (FileRegistry::Value{Type::kString, path512}));
  EXPECT_EQ(again.Get(kKey, "Odd"), (FileRegistry::Value{Type::kString, odd}));
  EXPECT_EQ(again.Get("Other\\Key", "n\u00e4me"), (FileRegistry::Value{Type::kString, unicode}));
  EXPECT_EQ(again.ReadString(Root::kCurrentUser, kKey, "KX4_SMD_Location", 512), "/img/os.kx4");
  EXPECT_EQ(again.ReadString(Root::kCurrentUser, kKey, "KX4_SMD_Location", 511), std::nullopt);

  // A person reads the values as they are.
  const std::string text = ReadText(path);
  EXPECT_NE(text.find("\"MODE\"=dword:d10ad111\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"CSC\"=hex:01,00,00,00\n"), std::string::npos);
  EXPECT_NE(text.find("\"KX4_SMD_Location\"=sz:512:\"/img/os.kx4\":hex:00,00,00,00,00,00,78\n"),
            std::string::npos);
  EXPECT_NE(text.find("[Software\\KX4\\DL]"), std::string::npos);
}

TEST(FileRegistry, AChangeReplacesTheWholeFileOrNothing) {
  const std::string dir = testsupport::ScratchDir("file_registry_atomic");
  const std::string path = dir + "/settings.txt";
  FileRegistry reg(path);
  ASSERT_TRUE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 1));
  const std::string before = ReadText(path);

  // The new file cannot be made (as on a full disk): the old file stays whole, the
  // held value stays the old one, and no partial file is left.
  fs::create_directory(path + ".new");
  EXPECT_FALSE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 2));
  EXPECT_EQ(ReadText(path), before);
  EXPECT_EQ(reg.ReadDword(Root::kCurrentUser, kKey, "MODE"), 1u);
  fs::remove(path + ".new");

  ASSERT_TRUE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 3));
  EXPECT_FALSE(fs::exists(path + ".new"));
  EXPECT_EQ(FileRegistry(path).ReadDword(Root::kCurrentUser, kKey, "MODE"), 3u);

  // A file that is not a settings file is set aside, not overwritten.
  { std::ofstream(path) << "garbage that is no settings file\n"; }
  FileRegistry fresh(path);
  EXPECT_EQ(fresh.ReadDword(Root::kCurrentUser, kKey, "MODE"), std::nullopt);
  ASSERT_TRUE(fresh.WriteDword(Root::kCurrentUser, kKey, "MODE", 4));
  EXPECT_EQ(ReadText(path + ".unreadable"), "garbage that is no settings file\n");
  EXPECT_EQ(FileRegistry(path).ReadDword(Root::kCurrentUser, kKey, "MODE"), 4u);
}

// A save of many values writes (and flushes) the file once, at the batch's end.
TEST(FileRegistry, ABatchIsStoredOnceWhenItsLastEndComes) {
  const std::string path = testsupport::ScratchDir("file_registry_batch") + "/settings.txt";
  FileRegistry reg(path);
  ASSERT_TRUE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 1));
  const std::string before = ReadText(path);

  reg.BeginWrites();
  reg.BeginWrites();
  EXPECT_TRUE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 2));
  EXPECT_TRUE(reg.WriteBinary(Root::kCurrentUser, kKey, "CSC", {1, 0, 0, 0}));
  EXPECT_TRUE(reg.EndWrites());
  EXPECT_EQ(ReadText(path), before);  // the inner end stores nothing
  EXPECT_TRUE(reg.EndWrites());
  FileRegistry stored(path);
  EXPECT_EQ(stored.ReadDword(Root::kCurrentUser, kKey, "MODE"), 2u);
  EXPECT_EQ(stored.Get(kKey, "CSC")->data, (std::vector<uint8_t>{1, 0, 0, 0}));

  // A batch that cannot be stored says so: the file stays as it was and the batch's
  // writes are dropped. A key the file holds still opens, as that writes nothing.
  const std::string second = ReadText(path);
  reg.BeginWrites();
  EXPECT_TRUE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 3));
  fs::create_directory(path + ".new");
  EXPECT_FALSE(reg.EndWrites());
  EXPECT_TRUE(reg.CreateKey(Root::kCurrentUser, kKey));
  EXPECT_FALSE(reg.CreateKey(Root::kCurrentUser, "New\\Key"));
  fs::remove(path + ".new");
  EXPECT_EQ(ReadText(path), second);
  EXPECT_EQ(reg.ReadDword(Root::kCurrentUser, kKey, "MODE"), 2u);
  EXPECT_TRUE(reg.EndWrites());  // an end without a begin changes nothing
}

TEST(FileRegistry, AFolderThatCannotBeWrittenIsAKeyThatCannotBeOpened) {
  const std::string dir = testsupport::ScratchDir("file_registry_blocked");
  // A plain file stands where the settings folder would be.
  { std::ofstream(dir + "/ostrevane") << "x"; }
  FileRegistry reg(dir + "/ostrevane/settings.txt");
  EXPECT_FALSE(reg.CreateKey(Root::kCurrentUser, kKey));
  EXPECT_FALSE(reg.WriteDword(Root::kCurrentUser, kKey, "MODE", 1));
  EXPECT_FALSE(reg.KeyExists(Root::kCurrentUser, kKey));
  EXPECT_EQ(ReadText(dir + "/ostrevane"), "x");
  // Without a machine registry the machine's keys are absent and read-only.
  EXPECT_FALSE(reg.KeyExists(Root::kLocalMachine, "SYSTEM"));
  EXPECT_FALSE(reg.CreateKey(Root::kLocalMachine, "SYSTEM"));
}

TEST(FileRegistry, DefaultPathFollowsTheUsersConfigurationFolder) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = xdg ? xdg : "";
  setenv("XDG_CONFIG_HOME", "/cfg/home", 1);
  EXPECT_EQ(FileRegistry::DefaultPath(), "/cfg/home/ostrevane/settings.txt");
  setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // not absolute: ignored
  const char* home = std::getenv("HOME");
  if (home) {
    EXPECT_EQ(FileRegistry::DefaultPath(), std::string(home) + "/.config/ostrevane/settings.txt");
  }
  if (xdg)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
