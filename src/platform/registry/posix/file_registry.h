// The current user's keys kept in one settings file per user, readable by a person and
// holding every value's type and exact bytes. Each change writes a new file, flushes it
// and renames it over the old one, so a crash or a full disk leaves either the old
// file or the new one, never a half-written one. The machine's keys come from another
// registry.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

namespace platform::registry {

class FileRegistry final : public Registry {
 public:
  // `path` is the settings file; `machine` answers for the machine's keys (none: the
  // machine has no keys and they cannot be written).
  explicit FileRegistry(std::string path, Registry* machine = nullptr);

  // $XDG_CONFIG_HOME/ostrevane/settings.txt (an absolute XDG_CONFIG_HOME only), else
  // ~/.config/ostrevane/settings.txt; empty when the user has no home folder.
  static std::string DefaultPath();
  const std::string& Path() const { return path_; }

  bool KeyExists(Root root, const std::string& key) override;
  std::optional<uint32_t> ReadDword(Root root, const std::string& key,
                                    const std::string& name) override;
  std::optional<std::string> ReadString(Root root, const std::string& key, const std::string& name,
                                        size_t maxBytes) override;
  // Creating a user key writes the file: a folder that cannot be written is a key that
  // cannot be created. Opening one the file holds writes nothing.
  bool CreateKey(Root root, const std::string& key) override;
  bool WriteDword(Root root, const std::string& key, const std::string& name,
                  uint32_t value) override;
  bool WriteBinary(Root root, const std::string& key, const std::string& name,
                   const std::vector<uint8_t>& data) override;
  bool WriteStringBytes(Root root, const std::string& key, const std::string& name,
                        const std::vector<uint8_t>& data) override;
  // A batch writes the file once, with everything written in it.
  void BeginWrites() override;
  bool EndWrites() override;

  enum class Type { kDword, kBinary, kString };
  struct Value {
    Type type = Type::kBinary;
    std::vector<uint8_t> data;
    bool operator==(const Value&) const = default;
  };
  using Keys = std::map<std::string, std::map<std::string, Value>>;

  // The file's text for `keys`, and back; nullopt for a text that is not such a file.
  static std::string Format(const Keys& keys);
  static std::optional<Keys> Parse(const std::string& text);

  // The value as the file holds it (tests).
  std::optional<Value> Get(const std::string& key, const std::string& name);

 private:
  // Reads the file once; a file that cannot be parsed is set aside as
  // "<path>.unreadable" when the first change is written, so nothing in it is lost.
  void LoadLocked();
  // Writes `next` as the new file; on success it becomes the held state.
  bool StoreLocked(Keys next);
  bool Write(const std::string& key, const std::string& name, Value value);
  // Stores `next`, or holds it while a batch is open.
  bool ChangeLocked(Keys next);

  const std::string path_;
  Registry* machine_;
  std::mutex mutex_;
  bool loaded_ = false;
  bool unreadable_ = false;
  Keys keys_;
  int batchDepth_ = 0;
  std::optional<Keys> held_;  // the batch's changes, not yet stored
};

}  // namespace platform::registry
