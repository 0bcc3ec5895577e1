// The single-copy rule: a starting station ends the running copies of itself that the
// process list shows before it; a copy listed after it, or one started from a file of
// another name, is left alone.
#pragma once

#include <set>
#include <string>

#include "platform/process/process_list.h"

namespace console {

// Ends, one attempt at a time (at most one per process listed at the start), the
// first-listed process whose executable file name equals `name` exactly (case-sensitive,
// whole name), until that is this process or there is none. A process that cannot be
// ended is passed over. True when the process list could be read.
bool KillOtherInstances(platform::process::ProcessList& processes, std::string name);

// The id of the first process in a fresh list whose executable file name equals `name`
// and that is not in `passedOver`; kNoProcess when there is none, when the list cannot
// be read, or when `name` is empty (unreadable names are empty: they never match).
platform::process::ProcessId FindProcessIdByName(
    platform::process::ProcessList& processes, const std::string& name,
    const std::set<platform::process::ProcessId>& passedOver = {});

}  // namespace console
