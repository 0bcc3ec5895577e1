// Each check box is saved under its own value name: one box checked at a time, so two
// names that took each other's box would both show it.
#include "console/settings.h"

#include <gtest/gtest.h>

#include "main_window_fixture.h"
#include "platform/registry/memory/memory_registry.h"

namespace {

using consoletest::MainWindowTest;

TEST_F(MainWindowTest, EachCheckBoxIsSavedUnderItsOwnName) {
  const std::pair<int, const char*> boxes[] = {
      {console::IDC_CSC_CHECK, "CSC"}, {console::GroupCheckId(0), "SBL"},
      {console::GroupCheckId(1), "RPM"}, {console::GroupCheckId(2), "UEFI"},
      {console::GroupCheckId(3), "ACPI"}, {console::GroupCheckId(4), "MainOS"}};
  for (const auto& [checked, checkedName] : boxes) {
    SCOPED_TRACE(checkedName);
    for (const auto& [id, name] : boxes) window->SetCheck(id, id == checked ? 1 : 0);
    platform::registry::MemoryRegistry registry;
    console::SaveSettings(*dlg, registry);
    for (const auto& [id, name] : boxes) {
      const auto value =
          registry.Get(platform::registry::Root::kCurrentUser, console::SETTINGS_KEY, name);
      ASSERT_TRUE(value) << name;
      EXPECT_EQ(value->data, (std::vector<uint8_t>{id == checked ? uint8_t{1} : uint8_t{0}, 0, 0, 0}))
          << name;
    }
  }
}

}  // namespace
