// The one place a front end's backend is chosen; the platform's real handsets come from
// the factory file CMake picked for this build.
#include "backend/station_backend.h"

#include "backend/virtual_line.h"

namespace backends {

std::unique_ptr<StationBackend> MakeBackend(bool virtualLine, platform::Clock& clock,
                                            VirtualLine** line, std::string* error) {
  *line = nullptr;
  if (!virtualLine) return MakeRealBackend(clock, error);
  auto made = std::make_unique<VirtualLine>(clock);
  *line = made.get();
  return made;
}

}  // namespace backends
