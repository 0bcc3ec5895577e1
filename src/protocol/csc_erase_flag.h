// The sales code and CSC package written into the handset's files, erasing by
// partition name or by sector range, and the handset's download flag.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/command_channel.h"

namespace protocol {

// Each returns 0 on success, 1 on failure.
// `sendPackage` is true in mode ALL: the CSC package goes to CSC.mbn.
[[nodiscard]] int WriteCsc(CommandChannel& ch, bool sendPackage);
[[nodiscard]] int ErasePartition(CommandChannel& ch, const std::string& name);
[[nodiscard]] int EraseRange(CommandChannel& ch, uint32_t firstSector, uint32_t sectorCount);
// Only logs whether the handset took the flag; a run does not stop for it.
void SetDownloadFlag(CommandChannel& ch, int on);

}  // namespace protocol
