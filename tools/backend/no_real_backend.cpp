// A build for a platform whose real-handset backend is not written yet: the station
// runs on virtual handsets only.
#include "backend/station_backend.h"

namespace backends {

std::unique_ptr<StationBackend> MakeRealBackend(platform::Clock& clock, std::string* error) {
  (void)clock;
  *error = "this build reaches no real handset: use --virtual-handsets or --handset-config";
  return nullptr;
}

}  // namespace backends
