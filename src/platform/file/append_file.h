// A file written only at its end, one whole text per call, that can be made durable:
// the form of a log of records that a power cut may cut short but never garbles.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Opens `path` for appending, creating it (mode 0644 before the umask) when it is not
  // there; what it holds is never changed. "-" is standard output, left open when this
  // goes. false with `error` set when it cannot be opened.
  [[nodiscard]] bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return fd_ >= 0; }
  // This Open made the file (it was not there before).
  bool Created() const { return created_; }
  // The file held bytes when it was opened and its last one is not a line break.
  bool EndsMidLine() const { return endsMidLine_; }
  // Writes all of `text` at the end, going on after interruptions; false when it could
  // not be written whole.
  [[nodiscard]] bool Append(std::string_view text);
  // The data written so far is on the storage (fdatasync). true for a pipe or a
  // terminal, which keep nothing to make durable.
  [[nodiscard]] bool Sync();
  void Close();

 private:
  int fd_ = -1;
  bool owned_ = false;
  bool created_ = false;
  bool endsMidLine_ = false;
};

}  // namespace platform
