// A channel's own read handle on an image file: seek and read into the channel's
// transmit buffer, reporting how many bytes really came.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file/file.h"

namespace protocol {

class ChannelImageFile {
 public:
  bool Open(const std::string& path);
  void Close() { file_.reset(); }
  bool IsOpen() const { return file_ != nullptr; }
  bool Seek(uint64_t offset);
  // Bytes read; fewer than `count` at the end of the file or on a read error.
  size_t Read(uint8_t* buffer, size_t count);
  // The open file's size and modification, as its confirmation took them.
  [[nodiscard]] std::optional<platform::file::FileStamp> Stamp();

 private:
  platform::file::File file_;
};

}  // namespace protocol
