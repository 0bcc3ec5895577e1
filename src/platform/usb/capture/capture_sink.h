// Where a capture's bytes go: a file on disk, or in a test a writer that can be held up
// to show that transfers never wait for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform::usb {

class CaptureSink {
 public:
  virtual ~CaptureSink() = default;
  // False when the bytes could not be written (the capture stops writing then).
  [[nodiscard]] virtual bool Write(const uint8_t* data, size_t size) = 0;
  // Hands what is buffered to the system; false when that failed.
  [[nodiscard]] virtual bool Flush() = 0;
};

// The file at `path`, made anew; null when it cannot be created.
std::unique_ptr<CaptureSink> CreateCaptureFile(const std::string& path);

}  // namespace platform::usb
