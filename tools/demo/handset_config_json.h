// --handset-config: a JSON array with one object per virtual handset, each naming any
// field of the handset's configuration (faults included); fields left out keep the
// values of a handset that suits the OS image.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "handset/handset_config.h"

namespace demo {

// `suited(i)` is the configuration handset i starts from. nullopt with `error` set when
// the text is not such an array (1 to 10 objects), names an unknown field, gives a value
// of the wrong type, or gives two handsets the same instance.
std::optional<std::vector<handset::HandsetConfig>> ParseHandsetConfigs(
    const std::string& jsonText, const std::function<handset::HandsetConfig(int)>& suited,
    std::string* error);

}  // namespace demo
