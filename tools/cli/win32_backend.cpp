// Real handsets for the CLI on Windows: the WinUSB backend of the USB and notification
// services comes with the window backends; until then the virtual line runs here.
#include <memory>
#include <string>

#include "cli/station_backend.h"

namespace cli {

std::unique_ptr<StationBackend> MakeHandsetBackend(platform::Clock& clock, std::string* error) {
  (void)clock;
  *error = "this Windows build reaches no real handset yet: use --virtual-handsets N";
  return nullptr;
}

}  // namespace cli
