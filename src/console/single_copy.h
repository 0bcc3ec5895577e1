// The single-copy rule: a starting station asks the running copies of itself that the
// process list shows before it to close, as their close box would, and waits for them to
// go; a copy listed after it, one started from a file of another name, or another user's
// is left alone. No copy is ever ended by force.
#pragma once

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "platform/process/process_list.h"

namespace console {

// How the wait for the other copies went.
enum class OtherCopies {
  kGone,     // every copy asked is gone (or there was none): this copy may open
  kNoList,   // the process list could not be read: none was asked
  kStopped,  // `stopped` said so while a copy still ran: this copy must not open
};

struct CopyWait {
  // One line for each copy still running after `quiet`: it is finishing a run.
  std::function<void(const std::string& line)> say;
  // Asked between waits; true ends the wait at once.
  std::function<bool()> stopped;
  // How long an asked copy may take before the line is said: an idle one closes at once.
  std::chrono::milliseconds quiet{500};
  // The longest single wait, and how often a copy without a window yet is asked again.
  std::chrono::milliseconds slice{200};
};

// Asks, one process at a time (at most one per process listed at the start), the
// first-listed process whose executable file name equals `name` exactly (case-sensitive,
// whole name) to close, until that is this process or there is none; one that refuses
// or is another user's is passed over. Then waits, however long it takes, until each
// copy asked (or found without a window yet, which is asked again) is gone.
[[nodiscard]] OtherCopies CloseOtherInstances(platform::process::ProcessList& processes,
                                              const std::string& name, const CopyWait& wait);

// What the waiting copy says about the copy `id` that is finishing its run.
std::string WaitingForCopyLine(platform::process::ProcessId id);

// The id of the first process in a fresh list whose executable file name equals `name`
// and that is not in `passedOver`; kNoProcess when there is none, when the list cannot
// be read, or when `name` is empty (unreadable names are empty: they never match).
platform::process::ProcessId FindProcessIdByName(
    platform::process::ProcessList& processes, const std::string& name,
    const std::set<platform::process::ProcessId>& passedOver = {});

}  // namespace console
