// 122 random bits from the system's random source; the version and variant bits are
// then set as RFC 4122 says.
#include "records/run_id.h"

#include <array>
#include <cstdint>
#include <random>

namespace records {

std::string NewRunId() {
  std::random_device source;
  std::array<uint8_t, 16> bytes{};
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const uint32_t word = source();
    for (size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id.push_back('-');
    id.push_back(kHex[bytes[i] >> 4]);
    id.push_back(kHex[bytes[i] & 15]);
  }
  return id;
}

}  // namespace records
