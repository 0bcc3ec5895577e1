// The Win32 registry backend under Wine: the station's settings land under the user's
// key with their exact types and sizes (read back with the registry API and reg.exe),
// and reads return only values of the type and size asked for.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "console/control_ids.h"
#include "console/main_window_template.h"
#include "console/ostrevane_dlg.h"
#include "console/remembered_paths.h"
#include "console/settings.h"
#include "platform/registry/win32/win32_registry.h"
#include "platform/text/win32/wide.h"
#include "platform/ui/headless/headless_window.h"

// Last: its IDOK and IDCANCEL macros would rename the window layer's constants.
#include <windows.h>

namespace {

using platform::registry::Root;

struct Stored {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

Stored Query(HKEY root, const std::string& key, const std::string& name) {
  Stored s;
  DWORD size = 0;
  if (RegGetValueW(root, platform::Wide(key).c_str(), platform::Wide(name).c_str(),
                   RRF_RT_ANY | RRF_NOEXPAND, &s.type, nullptr, &size) != ERROR_SUCCESS)
    return {};
  s.data.resize(size);
  if (RegGetValueW(root, platform::Wide(key).c_str(), platform::Wide(name).c_str(),
                   RRF_RT_ANY | RRF_NOEXPAND, &s.type, s.data.data(), &size) != ERROR_SUCCESS)
    return {};
  return s;
}

// What reg.exe prints for the key, in UTF-8.
std::string RegQuery(const std::string& key) {
  const std::wstring command = L"reg query \"" + platform::Wide(key) + L"\"";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(_wpopen(command.c_str(), L"rt"), _pclose);
  std::string out;
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  return out;
}

TEST(Win32Registry, TheStationsSettingsAreUnderTheUsersKeyWithTheirTypesAndSizes) {
  platform::registry::Win32Registry registry;
  RegDeleteTreeW(HKEY_CURRENT_USER, platform::Wide(console::SETTINGS_KEY).c_str());
  console::COstrevaneDlg dlg(std::make_unique<ui::HeadlessWindow>(console::MainWindowTemplate()));
  dlg.SettingsValidMarker = console::SETTINGS_VALID_MARKER;
  dlg.SetCheck(console::IDC_CSC_CHECK, 1);
  dlg.SetCheck(console::GroupCheckId(4), 1);
  console::SaveSettings(dlg, registry);
  // The path value as an accepted open writes it: the whole 512-byte buffer.
  const std::string path = "C:\\Linie 3\\Prüfung\\product.kx4";
  console::RememberedPath buffer{};
  ASSERT_TRUE(console::RememberPath(buffer, path));
  ASSERT_TRUE(registry.WriteStringBytes(Root::kCurrentUser, console::SETTINGS_KEY,
                                        "KX4_SMD_Location", console::RememberedPathBytes(buffer)));

  const HKEY user = HKEY_CURRENT_USER;
  EXPECT_EQ(Query(user, console::SETTINGS_KEY, "MODE").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Query(user, console::SETTINGS_KEY, "MODE").data,
            (std::vector<uint8_t>{0x11, 0xD1, 0x0A, 0xD1}));
  const struct {
    const char* name;
    uint8_t check;
  } checks[] = {{"CSC", 1}, {"SBL", 0}, {"RPM", 0}, {"UEFI", 0}, {"ACPI", 0}, {"MainOS", 1}};
  for (const auto& c : checks) {
    const Stored s = Query(user, console::SETTINGS_KEY, c.name);
    EXPECT_EQ(s.type, static_cast<DWORD>(REG_BINARY)) << c.name;
    EXPECT_EQ(s.data, (std::vector<uint8_t>{c.check, 0, 0, 0})) << c.name;
  }
  const Stored location = Query(user, console::SETTINGS_KEY, "KX4_SMD_Location");
  EXPECT_EQ(location.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(location.data, console::RememberedPathBytes(buffer));
  EXPECT_EQ(registry.ReadString(Root::kCurrentUser, console::SETTINGS_KEY, "KX4_SMD_Location",
                                512),
            path);

  const std::string listed = RegQuery("HKCU\\Software\\KX4\\DL");
  for (const char* line : {"MODE    REG_DWORD    0xd10ad111", "CSC    REG_BINARY    01000000",
                           "MainOS    REG_BINARY    01000000", "RPM    REG_BINARY    00000000",
                           "KX4_SMD_Location    REG_SZ    C:\\Linie 3\\Pr"})
    EXPECT_NE(listed.find(line), std::string::npos) << line << " in\n" << listed;
}

TEST(Win32Registry, ReadsGiveOnlyValuesOfTheAskedTypeAndSize) {
  platform::registry::Win32Registry registry;
  const std::string key = "Software\\Ostrevane tests\\reads";
  RegDeleteTreeW(HKEY_CURRENT_USER, platform::Wide(key).c_str());
  ASSERT_TRUE(registry.CreateKey(Root::kCurrentUser, key));
  ASSERT_TRUE(registry.WriteDword(Root::kCurrentUser, key, "word", 7));
  ASSERT_TRUE(registry.WriteBinary(Root::kCurrentUser, key, "bytes", {7, 0, 0, 0}));
  // "text", then a zero unit and the tail of a longer, earlier text.
  ASSERT_TRUE(registry.WriteStringBytes(Root::kCurrentUser, key, "text",
                                        {'t', 0, 'x', 0, 0, 0, 'o', 0, 'l', 0, 0, 0}));
  EXPECT_EQ(registry.ReadDword(Root::kCurrentUser, key, "word"), 7u);
  EXPECT_EQ(registry.ReadDword(Root::kCurrentUser, key, "bytes"), std::nullopt);
  EXPECT_EQ(registry.ReadDword(Root::kCurrentUser, key, "absent"), std::nullopt);
  EXPECT_EQ(registry.ReadString(Root::kCurrentUser, key, "text", 12), "tx");
  EXPECT_EQ(registry.ReadString(Root::kCurrentUser, key, "text", 11), std::nullopt);
  EXPECT_EQ(registry.ReadString(Root::kCurrentUser, key, "word", 12), std::nullopt);
  EXPECT_FALSE(registry.WriteDword(Root::kCurrentUser, key + "\\missing", "word", 1));
  // The WinUSB instance list is the machine's: the user's root does not hold it.
  const std::string list = platform::registry::WINUSB_ENUM_KEY;
  ASSERT_TRUE(registry.CreateKey(Root::kLocalMachine, list));
  ASSERT_TRUE(registry.WriteDword(Root::kLocalMachine, list, "Count", 1));
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, list, "Count").data, (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(registry.ReadDword(Root::kCurrentUser, list, "Count"), std::nullopt);
}

}  // namespace
