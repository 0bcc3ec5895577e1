// Checks of what a virtual handset holds against the image it was given: each
// partition at its sectors, nothing else in its range, the CSC files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "handset/virtual_handset.h"
#include "image/smd_format.h"

namespace testsupport {

std::vector<uint8_t> ReadFileBytes(const std::string& path, uint64_t offset, uint64_t length);
std::vector<uint8_t> ReadHeaderRegion(const std::string& imagePath);

// The named entry of an image's partition table (first match over the 32 slots).
image::PartitionEntry EntryNamed(const std::vector<uint8_t>& region, const std::string& name);

// The partition's data is on the handset at its sectors and nothing else was written in
// [startSector, startSector + sectorCount).
::testing::AssertionResult PartitionOnHandset(const handset::VirtualHandset& h,
                                              const std::string& imagePath,
                                              const std::string& name);
// No sector of the partition's range holds data.
::testing::AssertionResult PartitionEmpty(const handset::VirtualHandset& h,
                                          const std::string& imagePath, const std::string& name);

}  // namespace testsupport
