// Where a virtual handset keeps what is written to its eMMC: in memory, in a sparse
// file, or only as digests that a judge compares with the image afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace handset {

enum class StorageKind { kMemory, kFile, kDigest };

// "memory", "file", "digest"; nullopt for any other name.
std::optional<StorageKind> StorageKindNamed(std::string_view name);
const char* StorageKindName(StorageKind kind);

// Ten handsets in memory hold ten copies of the image: from this OS image size on, the
// line keeps digests (or, when a dump is wanted, files) unless told otherwise.
inline constexpr uint64_t kMemoryStorageLimit = 64ull * 1024 * 1024;
StorageKind StorageForImage(uint64_t osImageBytes, bool dumpWanted);

}  // namespace handset
