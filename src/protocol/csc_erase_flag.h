// The sales code and CSC package written into the handset's files, erasing by
// partition name or by sector range, and the handset's download flag.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/command_channel.h"

namespace protocol {

// `sendPackage` is true in mode ALL: the CSC package goes to CSC.mbn.
int WriteCsc(CommandChannel& ch, bool sendPackage);
int ErasePartition(CommandChannel& ch, const std::string& name);
int EraseRange(CommandChannel& ch, uint32_t firstSector, uint32_t sectorCount);
void SetDownloadFlag(CommandChannel& ch, int on);

}  // namespace protocol
