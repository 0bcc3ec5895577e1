// Names of the command faults, one table both ways.
#include "handset/command_fault.h"

namespace handset {
namespace {

struct Named {
  CommandFault fault;
  const char* name;
};

constexpr Named kNames[] = {
    {CommandFault::kNakOnce, "nak_once"},       {CommandFault::kNakTwice, "nak_twice"},
    {CommandFault::kNoAnswer, "no_answer"},     {CommandFault::kStaleAnswer, "stale_answer"},
    {CommandFault::kWrongMagic, "wrong_magic"}, {CommandFault::kCablePulled, "cable_pulled"},
    {CommandFault::kSlowAnswer, "slow_answer"},
};

}  // namespace

const char* CommandFaultName(CommandFault fault) {
  for (const auto& n : kNames)
    if (n.fault == fault) return n.name;
  return "?";
}

std::optional<CommandFault> CommandFaultFromName(std::string_view name) {
  for (const auto& n : kNames)
    if (name == n.name) return n.fault;
  return std::nullopt;
}

}  // namespace handset
