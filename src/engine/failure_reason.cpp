// The only place the failure codes are spelt; the manual's table is copied from here.
#include "engine/failure_reason.h"

#include <array>

namespace engine {
namespace {

using R = FailureReason;

constexpr std::array kTable{
    FailureReasonEntry{R::kStartDownload, "start_download",
                       "the handset did not accept the start of the download"},
    FailureReasonEntry{R::kUefiVersion, "uefi_version",
                       "the handset's UEFI download version is not one the station writes"},
    FailureReasonEntry{R::kSecurityType, "security_type",
                       "the handset's security type does not suit the image, or was not told"},
    FailureReasonEntry{R::kDeviceType, "device_type",
                       "the handset's device type (engineer or product) does not suit the image"},
    FailureReasonEntry{R::kModelName, "model_name", "the handset's model is not the image's"},
    FailureReasonEntry{R::kFactoryImageOnProduct, "factory_image_on_product",
                       "a factory image was refused on a product handset"},
    FailureReasonEntry{R::kCsc, "csc",
                       "the CSC step failed: refused, unanswered, or its package not taken"},
    FailureReasonEntry{R::kWriteProtection, "write_protection",
                       "the handset's storage is write-protected, or the check was not answered"},
    FailureReasonEntry{R::kImageOpen, "image_open", "the OS image file could not be opened"},
    FailureReasonEntry{R::kImageChanged, "image_changed",
                       "an image file changed after the operator confirmed it"},
    FailureReasonEntry{R::kChecksumResult, "checksum_result",
                       "the handset refused the checksum pass record"},
    FailureReasonEntry{R::kPartitionMissing, "partition_missing",
                       "the image has no entry for a partition that must be written"},
    FailureReasonEntry{R::kPartitionWrite, "partition_write",
                       "a partition that must be written was not taken by the handset"},
    FailureReasonEntry{R::kVariableErase, "variable_erase",
                       "a UEFI variable partition was not erased (Erase NV mode)"},
    FailureReasonEntry{R::kRecover, "recover",
                       "the handset refused the Recover step or its Data partition"},
    FailureReasonEntry{R::kCablePulled, "cable_pulled",
                       "the handset left the bus while its channel ran"},
    FailureReasonEntry{R::kThreadStart, "thread_start",
                       "the station could not start the channel's worker"},
    FailureReasonEntry{R::kInterrupted, "interrupted",
                       "a stop signal cut the run short before the channel was done"},
    FailureReasonEntry{R::kVerifyMismatch, "verify_mismatch",
                       "the download ended, but the handset does not hold the images"},
};
static_assert(kTable.size() == static_cast<size_t>(kLastFailureReason));

}  // namespace

std::span<const FailureReasonEntry> FailureReasons() {
  return kTable;
}

std::string_view FailureReasonCode(FailureReason reason) {
  for (const FailureReasonEntry& e : kTable)
    if (e.reason == reason) return e.code;
  return {};
}

std::optional<FailureReason> FailureReasonFromCode(std::string_view code) {
  for (const FailureReasonEntry& e : kTable)
    if (e.code == code) return e.reason;
  return std::nullopt;
}

}  // namespace engine
