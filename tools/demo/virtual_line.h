// A production line made of virtual parts: handsets that suit an OS image, and the
// WinUSB driver's instance list in the registry that names them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demo/image_file.h"
#include "handset/handset_config.h"
#include "platform/registry/memory/memory_registry.h"

namespace demo {

// A WinUSB device that is no handset, listed after the handsets as on a real line PC.
extern const char* const kForeignInstance;

// Handset `index` of the line. With an OS image it answers that image's model and
// security and carries its partition table; without one it is a default handset.
handset::HandsetConfig HandsetFor(const ImageFile* os, int index, uint64_t linkMbps);

// Writes the WinUSB driver's instance list: "Count" and the ids as values "0", "1", ...
void ListInstances(platform::registry::MemoryRegistry& registry,
                   const std::vector<std::string>& ids);

}  // namespace demo
