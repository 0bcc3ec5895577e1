// The handsets of a virtual line as a front end is asked for them: N that suit an OS
// image, or those of a --handset-config file, whose fields left out suit it too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backend/virtual_line.h"
#include "demo/image_file.h"
#include "handset/handset_config.h"

namespace demo {

// Handset `index` of the line. With an OS image it answers that image's model and
// security and carries its partition table; without one it is a default handset.
handset::HandsetConfig HandsetFor(const ImageFile* os, int index, uint64_t linkMbps);

struct LineSpec {
  int count = 0;           // handsets when there is no file
  std::string configPath;  // the --handset-config file; empty: none
  std::string configText;  // its text, as ReadLineConfig found it
  uint64_t linkMbps = 0;   // every HandsetFor link, 0 unlimited
  // Where each handset keeps its eMMC; unset: by the OS image's size.
  std::optional<handset::StorageKind> storage;
  std::string dumpDir;  // file storage keeps handset N's eMMC in DIR/handset<N>/emmc.img
  // How the seats are worked (arrivals, swaps, the links' spread); a default, so
  // initialisers that stop before it need not name it.
  backends::LinePlan plan{};

  bool Virtual() const { return count > 0 || !configPath.empty(); }
};

// Reads the LineSpec's file, if it names one, and checks that it describes handsets, so a
// bad file is refused before anything starts. false with `error` set (naming the file).
[[nodiscard]] bool ReadLineConfig(LineSpec* spec, std::string* error);

// The folder of handset `index`'s files under a dump folder.
std::string HandsetFolder(const std::string& dumpDir, size_t index);

// The line's handsets for `os` (null: no OS image is known). nullopt with `error` set
// when the file does not describe handsets, or a handset's storage cannot be kept.
std::optional<std::vector<handset::HandsetConfig>> LineConfigs(const LineSpec& spec,
                                                               const ImageFile* os,
                                                               std::string* error);

}  // namespace demo
