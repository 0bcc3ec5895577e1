// Why a channel did not end done, as a code a machine can count: one value per failure
// of the channel sequence and of the run around it, each spelt once, in one table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace engine {

// Values are never reordered or reused: a report of last month's records reads the codes
// of this table. A new failure gets a new value before kLast's.
enum class FailureReason : uint8_t {
  kNone = 0,  // the channel is done or still running; its code is ""
  kStartDownload,
  kUefiVersion,
  kSecurityType,
  kDeviceType,
  kModelName,
  kFactoryImageOnProduct,
  kCsc,
  kWriteProtection,
  kImageOpen,
  kImageChanged,
  kChecksumResult,
  kPartitionMissing,
  kPartitionWrite,
  kVariableErase,
  kRecover,
  kCablePulled,
  kThreadStart,
  kInterrupted,
  kVerifyMismatch,
};
inline constexpr FailureReason kLastFailureReason = FailureReason::kVerifyMismatch;

struct FailureReasonEntry {
  FailureReason reason;
  std::string_view code;     // lower_snake, stable: records and reports count by it
  std::string_view meaning;  // one line for the operator's manual
};

// Every failure, kNone excepted, in the enum's order.
[[nodiscard]] std::span<const FailureReasonEntry> FailureReasons();
// "" for kNone.
[[nodiscard]] std::string_view FailureReasonCode(FailureReason reason);
// nullopt for "" and for a code not in the table.
[[nodiscard]] std::optional<FailureReason> FailureReasonFromCode(std::string_view code);

}  // namespace engine
