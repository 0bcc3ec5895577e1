// The stamp comparison at open and the comparison of a sent stretch's sum.
#include "protocol/stretch_check.h"

namespace protocol {

ImageOpen OpenConfirmedImage(CommandChannel& ch, const std::string& path,
                             const std::optional<image::ConfirmedFile>& confirmed) {
  if (!ch.file.Open(path)) return ImageOpen::kCannotOpen;
  if (!confirmed) return ImageOpen::kOpened;
  const std::optional<platform::file::FileStamp> stamp = ch.file.Stamp();
  if (stamp && *stamp == confirmed->stamp) return ImageOpen::kOpened;
  ch.file.Close();
  ch.imageChanged = true;
  return ImageOpen::kChanged;
}

bool SentStretch::Confirmed(CommandChannel& ch) const {
  if (!confirmed_ || confirmed_->Holds(kind_, offset_, length_, hasher_.Digest())) return true;
  ch.imageChanged = true;
  return false;
}

}  // namespace protocol
