// Faults a virtual handset shows on one command: the command's code and the n-th time
// it is sent since power-on pick the request, the kind says what goes wrong with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace handset {

enum class CommandFault : uint8_t {
  kNakOnce,      // refused with "KX4_NAK", not carried out
  kNakTwice,     // refused, and the next request of the same command (a resend) too
  kNoAnswer,     // carried out, never answered: the host's read times out
  kStaleAnswer,  // carried out, answered with the previous request's tag and command
  kWrongMagic,   // carried out, answered under another magic than "KX4_BD!"
  kCablePulled,  // carried out, then the cable goes before the answer
  kSlowAnswer,   // carried out, answered just before the host's read would time out
};

inline constexpr CommandFault kAllCommandFaults[] = {
    CommandFault::kNakOnce,     CommandFault::kNakTwice,   CommandFault::kNoAnswer,
    CommandFault::kStaleAnswer, CommandFault::kWrongMagic, CommandFault::kCablePulled,
    CommandFault::kSlowAnswer};

struct CommandFaultAt {
  uint32_t command = 0;     // full 32-bit command code
  uint32_t occurrence = 1;  // 1-based, counted from power-on (the open's requests count)
  CommandFault fault = CommandFault::kNakOnce;
};

// Names as configuration files and reports spell them: "nak_once", "nak_twice",
// "no_answer", "stale_answer", "wrong_magic", "cable_pulled", "slow_answer".
const char* CommandFaultName(CommandFault fault);
std::optional<CommandFault> CommandFaultFromName(std::string_view name);

}  // namespace handset
