// A channel's side of the image integrity check: its file is refused at open when it is
// not the file its confirmation stamped, and every stretch it sends is summed as it is
// read and compared before the stretch's last packet goes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "image/stretch_sum.h"
#include "protocol/command_channel.h"

namespace protocol {

enum class ImageOpen {
  kOpened,
  kCannotOpen,
  kChanged,  // open, but its size or modification is not the confirmed one; ch.imageChanged
};

// Opens the channel's file on `path`; with a confirmation, the file must still carry its
// stamp. A file that cannot be stamped is taken as changed: nothing vouches for it.
[[nodiscard]] ImageOpen OpenConfirmedImage(CommandChannel& ch, const std::string& path,
                                           const std::optional<image::ConfirmedFile>& confirmed);

// One stretch as the channel sends it. Without a confirmation nothing is summed.
class SentStretch {
 public:
  SentStretch(const std::optional<image::ConfirmedFile>& confirmed, image::StretchKind kind,
              uint64_t offset)
      : confirmed_(confirmed), kind_(kind), offset_(offset) {}

  void Add(const uint8_t* data, size_t size) {
    if (!confirmed_) return;
    hasher_.Update(data, size);
    length_ += size;
  }
  // Whether the bytes added so far are the confirmed stretch; false also sets
  // ch.imageChanged, and the stretch's last packet must not go out.
  [[nodiscard]] bool Confirmed(CommandChannel& ch) const;

 private:
  const std::optional<image::ConfirmedFile>& confirmed_;
  image::StretchKind kind_;
  uint64_t offset_;
  uint64_t length_ = 0;
  image::StretchHasher hasher_;
};

}  // namespace protocol
