// A file written only at its end, one whole text per call, that can be made durable:
// the form of a log of records that a power cut may cut short but never garbles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Why an append or a sync did not take; the system's own codes stop at the backend.
enum class AppendFailure {
  kNone,
  kNoSpace,     // the file system is full
  kQuota,       // the user's disk quota is used up
  kTooLarge,    // the file has reached the largest size allowed to it
  kIo,          // the storage failed
  kShortWrite,  // the system took fewer bytes and gave no reason
  kReadOnly,    // the file system is read-only
  kNotOpen,     // Open did not succeed
  kOther,
};

class AppendFile {
 public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Readies `path` for appending; what it holds is never changed. A file that is there is
  // opened now. One that is not is only checked for (its folder takes a new file) and is
  // made (mode 0644 before the umask) by the first Append, so an owner that never appends
  // leaves nothing behind, and nothing ever has to be removed by name: another process may
  // be appending to that name. "-" is standard output, left open when this goes. false
  // with `error` set when it cannot be appended to.
  [[nodiscard]] bool Open(const std::string& path, std::string* error);
  bool IsOpen() const { return fd_ >= 0 || !toMake_.empty(); }
  // The file's last byte is not a line break: a line was cut short, by a power cut or by
  // an Append that got only part of its text in. Read from the file itself when it is a
  // file, since other processes may append to it too.
  bool EndsMidLine();
  // Writes all of `text` at the end, going on after interruptions. On a failure part of
  // the text may be in the file: `written`, when given, gets how many bytes.
  [[nodiscard]] AppendFailure Append(std::string_view text, size_t* written = nullptr);
  // The file's size now, other processes' appends included; 0 before it is made, and for
  // what is not a file.
  uint64_t Size();
  // The data written so far is on the storage. kNone for a pipe or a terminal, which keep
  // nothing to make durable.
  [[nodiscard]] AppendFailure Sync();
  void Close();

 private:
  // Opens `toMake_`, creating it; kNone once the descriptor is there.
  AppendFailure Make();
  // Opens `toMake_` when another process has made it meanwhile, so what it holds counts.
  void OpenMadeByOthers();

  int fd_ = -1;
  bool owned_ = false;
  std::string toMake_;        // the path still to create at the first Append
  bool cutByAppend_ = false;  // for what cannot be read back: standard output
};

}  // namespace platform
