// Read-only image file access for one channel.
#include "protocol/channel_image_file.h"

namespace protocol {

bool ChannelImageFile::Open(const std::string& path) {
  file_ = platform::file::Open(path, "rb");
  if (file_) std::setvbuf(file_.get(), nullptr, _IONBF, 0);  // reads go straight to the buffer
  return file_ != nullptr;
}

bool ChannelImageFile::Seek(uint64_t offset) {
  return file_ && platform::file::Seek(file_.get(), offset);
}

size_t ChannelImageFile::Read(uint8_t* buffer, size_t count) {
  if (!file_ || count == 0) return 0;
  return std::fread(buffer, 1, count, file_.get());
}

std::optional<platform::file::FileStamp> ChannelImageFile::Stamp() {
  if (!file_) return std::nullopt;
  return platform::file::Stamp(file_.get());
}

}  // namespace protocol
