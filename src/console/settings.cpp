// SaveSettings: the check states go through the remembered values first, so the
// process keeps what was saved; each write is tried even when one before it failed.
#include "console/settings.h"

#include <vector>

#include "platform/bytes/little_endian.h"

namespace console {

namespace {

std::vector<uint8_t> Word(int32_t value) {
  std::vector<uint8_t> data(4);
  platform::PutLe32(data.data(), static_cast<uint32_t>(value));
  return data;
}

}  // namespace

void SaveSettings(COstrevaneDlg& dlg, platform::registry::Registry& registry) {
  using platform::registry::Root;
  if (dlg.SettingsValidMarker != SETTINGS_VALID_MARKER) return;
  if (!registry.CreateKey(Root::kCurrentUser, SETTINGS_KEY)) return;
  // The seven values are stored together: a settings file is then written once.
  platform::registry::WriteBatch batch(registry);

  RememberedCsc = dlg.GetCheck(IDC_CSC_CHECK) == 1 ? 1 : 0;
  for (int g = 0; g < kGroupCount; ++g)
    RememberedGroup[static_cast<size_t>(g)] = dlg.GetCheck(GroupCheckId(g)) == 1 ? 1 : 0;

  (void)registry.WriteDword(Root::kCurrentUser, SETTINGS_KEY, "MODE", dlg.DownloadMode);
  (void)registry.WriteBinary(Root::kCurrentUser, SETTINGS_KEY, "CSC", Word(RememberedCsc));
  const char* names[kGroupCount] = {"SBL", "RPM", "UEFI", "ACPI", "MainOS"};
  for (int g = 0; g < kGroupCount; ++g)
    (void)registry.WriteBinary(Root::kCurrentUser, SETTINGS_KEY, names[g],
                               Word(RememberedGroup[static_cast<size_t>(g)]));
}

}  // namespace console
