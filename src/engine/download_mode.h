// The run mode held by the main window and what it means to the engine.
#pragma once

#include <cstdint>

namespace engine {

inline constexpr uint32_t DOWNLOAD_MODE_ALL = 0xD10AD111;
inline constexpr uint32_t DOWNLOAD_MODE_FACTORY = 0xD10AD121;
inline constexpr uint32_t DOWNLOAD_MODE_RECOVER = 0xD10AD131;
inline constexpr uint32_t DOWNLOAD_MODE_ERASE_NV = 0xD10AD141;

}  // namespace engine
