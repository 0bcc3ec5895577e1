// The channel download sequence: checks one handset against the loaded image, writes
// the sales code, CSC and the chosen partition groups, and reports its end.
#pragma once

#include "engine/channel_context.h"

namespace engine {

// Thread entry. Exit code 1 when the download succeeded, 0 when it failed.
int ChannelWorker(ChannelContext* context);
// Reads the five group check boxes of the owner into the channel's group flags.
void ReadChannelOptions(ChannelContext* context);

}  // namespace engine
